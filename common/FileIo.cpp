#include "common/FileIo.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pell {

#ifndef _WIN32

std::filesystem::path NativePath(const std::string& text)
{
    return std::filesystem::path(text);
}

namespace {

std::string errnoText(int err)
{
    const char* reason = ::strerrordesc_np(err);
    return reason != nullptr ? std::string(reason) : "error " + std::to_string(err);
}

void fail(std::string* error, const std::string& path, int err)
{
    if (error == nullptr)
        return;
    // The untranslated text: messages are shown as GBK whatever the locale
    // of the process (a window's process runs in the user's locale).
    *error = path + ": " + errnoText(err);
}

void fail(std::string* error, const std::string& path, const std::string& reason)
{
    if (error != nullptr)
        *error = path + ": " + reason;
}

// "is not a regular file (a named pipe)": what the name turned out to be.
std::string notRegular(mode_t mode)
{
    const char* kind = S_ISDIR(mode)                     ? "a folder"
                       : S_ISFIFO(mode)                  ? "a named pipe"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                  ? "a socket"
                                                         : "of another kind";
    return std::string(kNotRegularReason) + " (" + kind + ")";
}

// Whether the effective user may change the existing file. The system
// answers for an ordinary user (groups and access lists included); root it
// lets write anything, so for root a file that nobody may write counts as
// made read-only on purpose.
bool mayReplace(const std::string& path, const struct stat& st)
{
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return errno != EACCES && errno != EPERM && errno != EROFS;
    return ::geteuid() != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Writes all of `bytes`, carrying on after short writes and signals.
int writeAll(int fd, std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

int closeChecked(int fd)
{
    // Linux closes the descriptor even when close reports an error: no retry.
    return ::close(fd) == 0 ? 0 : errno;
}

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::atomic<unsigned> g_tempSerial{0};

} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error)
{
    if (path.empty()) {
        fail(error, path, "empty file name");
        return false;
    }
    // An existing file keeps its permission bits; a new one gets the usual
    // 0666 less the process's umask (applied by open()).
    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode)) {
        fail(error, path, notRegular(old.st_mode));
        return false;
    }
    // The rename would need only the folder's permission: a reference file
    // the user made read-only stays as it is (another name can be chosen).
    if (replacing && !mayReplace(path, old)) {
        fail(error, path, kReadOnlyReason);
        return false;
    }

    // The new file lives beside the old one, so the rename stays on one
    // file system and is a single step.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".~" + std::to_string(::getpid()) + "-" +
               std::to_string(g_tempSerial.fetch_add(1)) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            fail(error, path, errno);
            return false;
        }
    }
    if (fd < 0) {
        fail(error, path, EEXIST);
        return false;
    }

    int err = writeAll(fd, bytes);
    if (err == 0 && replacing && ::fchmod(fd, old.st_mode & 07777) != 0)
        err = errno;
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    const int closeErr = closeChecked(fd);
    if (err == 0)
        err = closeErr;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        fail(error, path, err);
        return false;
    }
    // The new name on the disk as well; a directory that cannot be synced
    // leaves the file written all the same.
    const int dir = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

namespace {

// Opens a file the user named, for reading, without ever waiting: a named
// pipe without a writer, or a device, would hold a plain open until someone
// else acts. Only a regular file gives a descriptor (in blocking mode again,
// which for a regular file never waits anyway); -1 otherwise.
int openRegular(const std::string& path, struct stat& st, FileFailure& failure)
{
    // Known from its name already: not even opened, since opening a device
    // can do something of its own (a serial port raises its control lines).
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        failure = {S_ISDIR(st.st_mode) ? EISDIR : EINVAL, notRegular(st.st_mode)};
        return -1;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        failure = {errno, errnoText(errno)};
        return -1;
    }
    // The name may have changed hands since: what counts is what was opened.
    if (::fstat(fd, &st) != 0) {
        failure = {errno, errnoText(errno)};
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        failure = {S_ISDIR(st.st_mode) ? EISDIR : EINVAL, notRegular(st.st_mode)};
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

FileRead readFile(const std::string& path, std::string& bytes, std::size_t maxBytes, bool whole,
                  FileFailure& failure)
{
    bytes.clear();
    struct stat st {};
    const int fd = openRegular(path, st, failure);
    if (fd < 0)
        return FileRead::Failed;
    auto length = static_cast<unsigned long long>(st.st_size);
    if (length > maxBytes) {
        if (whole) {
            ::close(fd);
            return FileRead::TooLarge;
        }
        length = maxBytes;
    }
    std::string buffer(static_cast<std::size_t>(length), '\0');
    std::size_t got = 0;
    int err = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        if (n == 0)
            break; // the file got shorter since it was opened
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (err != 0) {
        failure = {err, errnoText(err)};
        return FileRead::Failed;
    }
    if (got != buffer.size()) {
        failure = {EIO, "the file ended before its length (it changed while being read)"};
        return FileRead::Failed;
    }
    bytes = std::move(buffer);
    return FileRead::Done;
}

} // namespace

#else // Windows: the wide file functions, on the name NativePath gives

std::filesystem::path NativePath(const std::string& text)
{
    for (const UINT codePage : {UINT(CP_UTF8), UINT(CP_ACP)}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int n = ::MultiByteToWideChar(codePage, flags, text.data(), int(text.size()), nullptr, 0);
        if (n <= 0)
            continue;
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        ::MultiByteToWideChar(codePage, flags, text.data(), int(text.size()), wide.data(), n);
        return std::filesystem::path(wide);
    }
    return std::filesystem::path();
}

namespace {

std::string systemText(DWORD err)
{
    // In UTF-8 like the paths beside it: the system's own words, in its
    // language, whatever the ANSI code page.
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason;
    if (n && text) {
        const int m = ::WideCharToMultiByte(CP_UTF8, 0, text, int(n), nullptr, 0, nullptr, nullptr);
        reason.resize(static_cast<std::size_t>(m > 0 ? m : 0));
        if (m > 0)
            ::WideCharToMultiByte(CP_UTF8, 0, text, int(n), reason.data(), m, nullptr, nullptr);
    }
    if (text)
        ::LocalFree(text);
    if (reason.empty())
        reason = "error " + std::to_string(err);
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

// The C library's number for a system error, for callers that speak errno.
int errnoOf(DWORD err)
{
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    default:
        return EIO;
    }
}

void fail(std::string* error, const std::string& path, DWORD err)
{
    if (error != nullptr)
        *error = path + ": " + systemText(err);
}

void fail(std::string* error, const std::string& path, const std::string& reason)
{
    if (error != nullptr)
        *error = path + ": " + reason;
}

std::string notRegular(const char* kind)
{
    return std::string(kNotRegularReason) + " (" + kind + ")";
}

std::atomic<unsigned> g_tempSerial{0};

} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error)
{
    if (path.empty()) {
        fail(error, path, "empty file name");
        return false;
    }
    const std::filesystem::path name = NativePath(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        fail(error, path, notRegular("a folder"));
        return false;
    }
    // A reference file marked read-only stays as it is; another name can
    // be chosen.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        fail(error, path, kReadOnlyReason);
        return false;
    }
    // The new file lives beside the old one and takes its name in one step.
    std::filesystem::path temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = name;
        temp += ".~" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(g_tempSerial.fetch_add(1)) + ".tmp";
        file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            fail(error, path, ::GetLastError());
            return false;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        fail(error, path, DWORD(ERROR_FILE_EXISTS));
        return false;
    }
    DWORD err = 0;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0 && err == 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x40000000 ? 0x40000000 : DWORD(left);
        if (!::WriteFile(file, p, chunk, &written, nullptr))
            err = ::GetLastError();
        else if (written == 0)
            err = ERROR_WRITE_FAULT;
        p += written;
        left -= written;
    }
    if (err == 0 && !::FlushFileBuffers(file))
        err = ::GetLastError();
    if (!::CloseHandle(file) && err == 0)
        err = ::GetLastError();
    if (err == 0 && !::MoveFileExW(temp.c_str(), name.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = ::GetLastError();
    if (err != 0) {
        ::DeleteFileW(temp.c_str());
        fail(error, path, err);
        return false;
    }
    return true;
}

namespace {

FileRead readFile(const std::string& path, std::string& bytes, std::size_t maxBytes, bool whole,
                  FileFailure& failure)
{
    bytes.clear();
    const std::filesystem::path name = NativePath(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        failure = {EISDIR, notRegular("a folder")};
        return FileRead::Failed;
    }
    // Opening a pipe or a device does not wait; only reading from one would.
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        failure = {errnoOf(err), systemText(err)};
        return FileRead::Failed;
    }
    const DWORD type = ::GetFileType(file);
    LARGE_INTEGER size{};
    if (type != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
        failure = {EINVAL, notRegular(type == FILE_TYPE_PIPE ? "a named pipe" : "a device")};
        ::CloseHandle(file);
        return FileRead::Failed;
    }
    auto length = static_cast<unsigned long long>(size.QuadPart);
    if (length > maxBytes) {
        if (whole) {
            ::CloseHandle(file);
            return FileRead::TooLarge;
        }
        length = maxBytes;
    }
    std::string buffer(static_cast<std::size_t>(length), '\0');
    std::size_t got = 0;
    DWORD err = 0;
    while (got < buffer.size()) {
        DWORD n = 0;
        const std::size_t want = buffer.size() - got;
        if (!::ReadFile(file, buffer.data() + got, want > 0x40000000 ? 0x40000000 : DWORD(want), &n,
                        nullptr)) {
            err = ::GetLastError();
            break;
        }
        if (n == 0)
            break; // the file got shorter since it was opened
        got += n;
    }
    ::CloseHandle(file);
    if (err != 0) {
        failure = {errnoOf(err), systemText(err)};
        return FileRead::Failed;
    }
    if (got != buffer.size()) {
        failure = {EIO, "the file ended before its length (it changed while being read)"};
        return FileRead::Failed;
    }
    bytes = std::move(buffer);
    return FileRead::Done;
}

} // namespace

#endif

FileRead ReadWholeFile(const std::string& path, std::string& bytes, FileFailure& failure,
                       std::size_t maxBytes)
{
    failure = {};
    return readFile(path, bytes, maxBytes, true, failure);
}

FileRead ReadWholeFile(const std::string& path, std::string& bytes, std::string* error,
                       std::size_t maxBytes)
{
    FileFailure failure;
    const FileRead result = readFile(path, bytes, maxBytes, true, failure);
    if (result == FileRead::Failed && error != nullptr)
        *error = path + ": " + failure.reason;
    return result;
}

FileRead ReadFileStart(const std::string& path, std::string& bytes, std::string* error, std::size_t maxBytes)
{
    FileFailure failure;
    const FileRead result = readFile(path, bytes, maxBytes, false, failure);
    if (result == FileRead::Failed && error != nullptr)
        *error = path + ": " + failure.reason;
    return result;
}

} // namespace pell

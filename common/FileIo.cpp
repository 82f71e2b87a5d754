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

void fail(std::string* error, const std::string& path, int err)
{
    if (error == nullptr)
        return;
    // The untranslated text: messages are shown as GBK whatever the locale
    // of the process (a window's process runs in the user's locale).
    const char* reason = ::strerrordesc_np(err);
    *error = path + ": " + (reason != nullptr ? std::string(reason) : "error " + std::to_string(err));
}

void fail(std::string* error, const std::string& path, const char* reason)
{
    if (error != nullptr)
        *error = path + ": " + reason;
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
        fail(error, path, "not a regular file");
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

FileRead ReadWholeFile(const std::string& path, std::string& bytes, std::string* error,
                       std::size_t maxBytes)
{
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(error, path, errno);
        return FileRead::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail(error, path, errno);
        ::close(fd);
        return FileRead::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(error, path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return FileRead::Failed;
    }
    const auto length = static_cast<unsigned long long>(st.st_size);
    if (length > maxBytes) {
        ::close(fd);
        return FileRead::TooLarge;
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
        fail(error, path, err);
        return FileRead::Failed;
    }
    if (got != buffer.size()) {
        fail(error, path, "the file ended before its length (it changed while being read)");
        return FileRead::Failed;
    }
    bytes = std::move(buffer);
    return FileRead::Done;
}

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

void fail(std::string* error, const std::string& path, DWORD err)
{
    if (error == nullptr)
        return;
    char* text = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = n && text ? std::string(text, n) : "error " + std::to_string(err);
    if (text)
        ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    *error = path + ": " + reason;
}

void fail(std::string* error, const std::string& path, const char* reason)
{
    if (error != nullptr)
        *error = path + ": " + reason;
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
        fail(error, path, "not a regular file");
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

FileRead ReadWholeFile(const std::string& path, std::string& bytes, std::string* error,
                       std::size_t maxBytes)
{
    bytes.clear();
    const std::filesystem::path name = NativePath(path);
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            fail(error, path, "is a directory");
        else
            fail(error, path, err);
        return FileRead::Failed;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
        fail(error, path, "not a regular file");
        ::CloseHandle(file);
        return FileRead::Failed;
    }
    const auto length = static_cast<unsigned long long>(size.QuadPart);
    if (length > maxBytes) {
        ::CloseHandle(file);
        return FileRead::TooLarge;
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
        fail(error, path, err);
        return FileRead::Failed;
    }
    if (got != buffer.size()) {
        fail(error, path, "the file ended before its length (it changed while being read)");
        return FileRead::Failed;
    }
    bytes = std::move(buffer);
    return FileRead::Done;
}

#endif

} // namespace pell

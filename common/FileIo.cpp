#include "common/FileIo.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pell {

namespace {

void fail(std::string* error, const std::string& path, int err)
{
    if (error == nullptr)
        return;
    char buf[256];
    // The GNU strerror_r returns the text, which may or may not be buf.
    const char* reason = strerror_r(err, buf, sizeof buf);
    *error = path + ": " + reason;
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

} // namespace pell

#include "tests/support/PtyLine.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace pell::test {

using Clock = std::chrono::steady_clock;

namespace {

int msLeft(Clock::time_point end)
{
    return static_cast<int>(
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
}

} // namespace

PtyLine::PtyLine(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return;
    struct termios t {};
    if (::tcgetattr(fd_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
}

PtyLine::~PtyLine()
{
    close();
}

PtyLine& PtyLine::operator=(PtyLine&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void PtyLine::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void PtyLine::send(const std::string& bytes)
{
    std::size_t done = 0;
    auto end = Clock::now() + std::chrono::seconds(30);
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            end = Clock::now() + std::chrono::seconds(30);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("pty write failed");
        if (Clock::now() > end)
            throw std::runtime_error("the far end does not read");
        struct pollfd p = {fd_, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
}

std::string PtyLine::receive(std::chrono::milliseconds wait)
{
    std::string out;
    struct pollfd p = {fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || !(p.revents & POLLIN))
        return out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
        struct pollfd q = {fd_, POLLIN, 0};
        if (::poll(&q, 1, 0) <= 0 || !(q.revents & POLLIN))
            break;
    }
    return out;
}

void PtyLine::readPiecesUntil(const std::function<bool(const char*, std::size_t)>& take,
                              std::chrono::milliseconds deadline)
{
    auto end = Clock::now() + deadline;
    for (;;) {
        const int left = msLeft(end);
        if (left <= 0)
            return;
        struct pollfd p = {fd_, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            continue;
        char buf[8192];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            if (take(buf, static_cast<std::size_t>(n)))
                return;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return; // hung up
        }
    }
}

std::string PtyLine::readUntil(const std::function<bool(const std::string&)>& done,
                               std::chrono::milliseconds deadline)
{
    std::string out;
    if (done(out))
        return out;
    readPiecesUntil(
        [&](const char* bytes, std::size_t n) {
            out.append(bytes, n);
            return done(out);
        },
        deadline);
    return out;
}

std::string PtyLine::readUntilContains(const std::string& needle, std::chrono::milliseconds deadline)
{
    return readUntil([&](const std::string& s) { return s.find(needle) != std::string::npos; },
                     deadline);
}

std::string PtyLine::readExactly(std::size_t count, std::chrono::milliseconds deadline)
{
    return readUntil([&](const std::string& s) { return s.size() >= count; }, deadline);
}

std::string PtyLine::readFor(std::chrono::milliseconds period)
{
    return readUntil([](const std::string&) { return false; }, period);
}

std::vector<PtyLine::Piece> PtyLine::readPieces(const std::string& needle,
                                                std::chrono::milliseconds deadline)
{
    std::vector<Piece> pieces;
    std::string all;
    if (needle.empty())
        return pieces;
    readPiecesUntil(
        [&](const char* bytes, std::size_t n) {
            pieces.push_back({std::string(bytes, n), Clock::now()});
            all.append(bytes, n);
            return all.find(needle) != std::string::npos;
        },
        deadline);
    return pieces;
}

bool PtyLine::waitHangUp(std::chrono::milliseconds deadline)
{
    auto end = Clock::now() + deadline;
    while (Clock::now() < end) {
        struct pollfd p = {fd_, POLLIN, 0};
        ::poll(&p, 1, 20);
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        if (p.revents & POLLIN) {
            char buf[4096];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno == EIO))
                return true;
        }
    }
    return false;
}

void PtyLine::discardInput()
{
    ::tcflush(fd_, TCIFLUSH);
    char buf[4096];
    for (;;) {
        struct pollfd p = {fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN) || ::read(fd_, buf, sizeof buf) <= 0)
            return;
    }
}

} // namespace pell::test

#include "tests/sim/SimLine.h"

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace pell::test {

using Clock = std::chrono::steady_clock;

SimLine::SimLine(const std::string& path)
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

SimLine::~SimLine()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void SimLine::send(const std::string& bytes)
{
    std::size_t done = 0;
    auto end = Clock::now() + std::chrono::seconds(10);
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("write to the simulator failed");
        if (Clock::now() > end)
            throw std::runtime_error("the simulator does not read");
        struct pollfd p = {fd_, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
}

std::string SimLine::readUntil(const std::function<bool(const std::string&)>& done,
                               std::chrono::milliseconds deadline)
{
    std::string out;
    auto end = Clock::now() + deadline;
    while (!done(out)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            break;
        struct pollfd p = {fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buf[8192];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break; // hung up
    }
    return out;
}

std::string SimLine::readUntilContains(const std::string& needle, std::chrono::milliseconds deadline)
{
    return readUntil([&](const std::string& s) { return s.find(needle) != std::string::npos; },
                     deadline);
}

std::string SimLine::readExactly(std::size_t count, std::chrono::milliseconds deadline)
{
    return readUntil([&](const std::string& s) { return s.size() >= count; }, deadline);
}

std::string SimLine::readFor(std::chrono::milliseconds period)
{
    return readUntil([](const std::string&) { return false; }, period);
}

std::vector<SimLine::Piece> SimLine::readPieces(const std::string& needle,
                                                std::chrono::milliseconds deadline)
{
    std::vector<Piece> pieces;
    std::string all;
    auto end = Clock::now() + deadline;
    while (all.find(needle) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            break;
        struct pollfd p = {fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buf[8192];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            pieces.push_back({std::string(buf, static_cast<std::size_t>(n)), Clock::now()});
            all.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return pieces;
}

bool SimLine::waitHangUp(std::chrono::milliseconds deadline)
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

void SimLine::discardInput()
{
    ::tcflush(fd_, TCIFLUSH);
    char buf[4096];
    while (::read(fd_, buf, sizeof buf) > 0) {
    }
}

} // namespace pell::test

#include "tests/support/PtyPair.h"

#include <cerrno>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace pell::test {

PtyPair::PtyPair()
{
    char name[256] = {};
    struct termios raw {};
    ::cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
}

PtyPair::~PtyPair()
{
    closeMaster();
    closeSlaveHandle();
}

void PtyPair::send(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("pty write failed");
        } else {
            struct pollfd p = {master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

std::string PtyPair::receive(std::chrono::milliseconds wait)
{
    std::string out;
    struct pollfd p = {master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || !(p.revents & POLLIN))
        return out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
        struct pollfd q = {master_, POLLIN, 0};
        if (::poll(&q, 1, 0) <= 0 || !(q.revents & POLLIN))
            break;
    }
    return out;
}

std::string PtyPair::receiveExactly(std::size_t count, std::chrono::milliseconds deadline)
{
    std::string out;
    auto end = std::chrono::steady_clock::now() + deadline;
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        out += receive(left);
    }
    return out;
}

void PtyPair::closeMaster()
{
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PtyPair::closeSlaveHandle()
{
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace pell::test

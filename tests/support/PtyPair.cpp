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
    int master = -1;
    if (::openpty(&master, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    master_ = PtyLine(master);
    slavePath_ = name;
}

PtyPair::~PtyPair()
{
    closeMaster();
    closeSlaveHandle();
}

void PtyPair::closeSlaveHandle()
{
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

} // namespace pell::test

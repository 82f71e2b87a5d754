// Rates outside the termios table (for example 250000 or 14400) go through
// termios2 with BOTHER. Kept in a file of its own: <asm/termbits.h> and
// <termios.h> cannot be included together.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pell {

bool LinuxSetCustomBaud(int fd, unsigned baud)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace pell

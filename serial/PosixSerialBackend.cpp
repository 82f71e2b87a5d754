// POSIX serial port: termios for the line, poll() for every wait, an eventfd
// to wake all waits at once when the port closes and one to end a single
// read (a receive thread that is stopped while the port stays open).
#include "serial/SerialBackend.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string_view>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/sysmacros.h>
#endif

namespace pell {

#ifdef __linux__
bool LinuxSetCustomBaud(int fd, unsigned baud); // LinuxBaud.cpp
#endif

namespace {

int interruptSignal()
{
    return SIGRTMIN + 4;
}

void ignoreInterrupt(int) {}

void installInterruptHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = ignoreInterrupt;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the driver wait must return EINTR
        sigaction(interruptSignal(), &sa, nullptr);
    });
}

speed_t standardSpeed(unsigned baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
#ifdef B460800
    case 460800: return B460800;
    case 921600: return B921600;
#endif
    default: return B0;
    }
}

// Whether `dev` is a terminal this process runs in: the one /dev/tty leads
// to (its controlling terminal) or one on standard input, output or error.
bool isOwnTerminal(dev_t dev)
{
#if defined(TIOCGDEV) && defined(__linux__)
    int tty = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (tty >= 0) {
        unsigned int code = 0;
        const bool known = ::ioctl(tty, TIOCGDEV, &code) == 0;
        ::close(tty);
        // The kernel's encoding: minor in bits 0-7 and 20-31, major in 8-19.
        if (known && makedev((code >> 8) & 0xfff, (code & 0xff) | ((code >> 12) & 0xfff00)) == dev)
            return true;
    }
#endif
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev && ::isatty(fd) == 1)
            return true;
    }
    return false;
}

#ifdef __linux__
// A character device that the kernel files under another class than tty is
// no terminal, which is known without opening it (opening some devices
// acts: a watchdog starts, a tape rewinds). Pseudo-terminals are not filed:
// for them, and without /sys, the open decides.
bool filedAsNoTerminal(dev_t dev)
{
    const std::string link = "/sys/dev/char/" + std::to_string(major(dev)) + ":" +
                             std::to_string(minor(dev)) + "/subsystem";
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof target))
        return false;
    const std::string_view cls(target, static_cast<std::size_t>(n));
    return cls != "tty" && !cls.ends_with("/tty");
}
#endif

// Why the file `st` describes is no serial line, or null when it may be one.
// Before the file is opened its kind and device number tell; once it is
// open it must also answer as a terminal.
const char* whyNoSerialLine(const struct stat& st, bool opened, bool terminal)
{
    if (S_ISREG(st.st_mode))
        return "a regular file";
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISFIFO(st.st_mode))
        return "a pipe";
    if (S_ISSOCK(st.st_mode))
        return "a socket";
    if (!S_ISCHR(st.st_mode))
        return "a device that is not a terminal";
    struct stat tty {};
    if ((::stat("/dev/tty", &tty) == 0 && S_ISCHR(tty.st_mode) && tty.st_rdev == st.st_rdev) ||
        isOwnTerminal(st.st_rdev))
        return "the terminal this program runs in";
#ifdef __linux__
    // /dev/console, /dev/ptmx (each open makes a new pseudo-terminal) and
    // /dev/tty0 (whichever virtual console is in front).
    const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
    if ((maj == 5 && min <= 2) || (maj == 4 && min == 0))
        return "a stand-in for another terminal";
    if (filedAsNoTerminal(st.st_rdev))
        return "a device that is not a terminal";
#endif
    if (opened && !terminal)
        return "a device that is not a terminal";
    return nullptr;
}

class PosixSerialBackend : public SerialBackend {
public:
    ~PosixSerialBackend() override { close(); }

    OpenError open(const std::string& portText, std::string& detail) override
    {
        std::string path = PosixDevicePath(portText);
        if (path.empty()) {
            detail = "no port name";
            return OpenError::InvalidName;
        }
        // What the name leads to is looked at before anything is opened: a
        // pipe, a file or the user's own terminal is refused untouched.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            if (const char* why = whyNoSerialLine(st, false, false)) {
                detail = path + ": not a serial line (" + why + ")";
                return OpenError::NotASerialLine;
            }
        }
        // The wake-ups before the device: once it is held exclusively
        // nothing can fail any more, so no failure leaves the flag behind.
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        interruptFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0 || interruptFd_ < 0) {
            detail = std::strerror(errno);
            close();
            return OpenError::Other;
        }
        const OpenError err = openDevice(path, detail);
        if (err != OpenError::None)
            close();
        return err;
    }

    bool prepare() override
    {
        // The driver's queues are its own; the time-outs are applied per
        // read and write. Ask for low latency so short replies are not held
        // back by the adapter (FTDI: 1 ms instead of 16 ms); ptys refuse it.
#ifdef __linux__
        struct serial_struct ss {};
        if (::ioctl(fd_, TIOCGSERIAL, &ss) == 0) {
            ss.flags |= ASYNC_LOW_LATENCY;
            ::ioctl(fd_, TIOCSSERIAL, &ss);
        }
        icountSupported_ = ::ioctl(fd_, TIOCGICOUNT, &count_) == 0;
#endif
        int bits = 0;
        modemSupported_ = ::ioctl(fd_, TIOCMGET, &bits) == 0;
        modemBits_ = bits;
        return true;
    }

    bool setLineSettings(const LineSettings& s) override
    {
        struct termios t {};
        if (::tcgetattr(fd_, &t) != 0)
            return false;
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
        t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | IGNPAR | PARMRK);
        switch (s.dataBits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        case 8: t.c_cflag |= CS8; break;
        default: return false;
        }
        switch (s.stopBits) {
        case 0: break;
        case 2: t.c_cflag |= CSTOPB; break;
        default: return false; // one and a half stop bits: not on this platform
        }
        switch (s.parity) {
        case 0: break;
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: return false;
        }
        if (s.parity != 0)
            t.c_iflag |= INPCK;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (s.baud == 0)
            return false;
        speed_t speed = standardSpeed(s.baud);
        bool custom = speed == B0;
        if (!custom) {
            ::cfsetispeed(&t, speed);
            ::cfsetospeed(&t, speed);
        }
        if (::tcsetattr(fd_, TCSANOW, &t) != 0)
            return false;
#ifdef __linux__
        if (custom)
            return LinuxSetCustomBaud(fd_, s.baud);
        return true;
#else
        return !custom;
#endif
    }

    void purge(bool rx, bool tx) override
    {
        if (rx && tx)
            ::tcflush(fd_, TCIOFLUSH);
        else if (rx)
            ::tcflush(fd_, TCIFLUSH);
        else if (tx)
            ::tcflush(fd_, TCOFLUSH);
    }

    uint32_t takeLineErrors() override
    {
#ifdef __linux__
        // Readers, writers and the event thread all take errors from here.
        std::lock_guard<std::mutex> lock(countMutex_);
        if (!icountSupported_)
            return 0;
        struct serial_icounter_struct now {};
        if (::ioctl(fd_, TIOCGICOUNT, &now) != 0)
            return 0;
        uint32_t flags = 0;
        if (now.overrun != count_.overrun)
            flags |= kErrOverrun;
        if (now.parity != count_.parity)
            flags |= kErrParity;
        if (now.frame != count_.frame)
            flags |= kErrFraming;
        if (now.brk != count_.brk)
            flags |= kErrBreak;
        if (now.buf_overrun != count_.buf_overrun)
            flags |= kErrBufferOverrun;
        count_.overrun = now.overrun;
        count_.parity = now.parity;
        count_.frame = now.frame;
        count_.brk = now.brk;
        count_.buf_overrun = now.buf_overrun;
        return flags;
#else
        return 0;
#endif
    }

    int read(char* buffer, int max, int waitMs) override
    {
        struct pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {interruptFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        int nfds = max > 0 ? 3 : 2;
        int r = ::poll(fds, nfds, waitMs < 0 ? -1 : waitMs);
        if (r <= 0 || (fds[0].revents & POLLIN))
            return 0;
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0; // taken: the interrupt ends this read only
            ssize_t n = ::read(interruptFd_, &count, sizeof count);
            (void)n;
            return 0;
        }
        if (fds[2].revents & POLLIN) {
            ssize_t n = ::read(fd_, buffer, static_cast<size_t>(max));
            if (n > 0)
                return static_cast<int>(n);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return 0;
            return -1; // EIO/ENXIO: the device is gone
        }
        if (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL))
            return -1;
        return 0;
    }

    void interruptRead() override
    {
        if (interruptFd_ >= 0) {
            uint64_t one = 1;
            ssize_t r = ::write(interruptFd_, &one, sizeof one);
            (void)r;
        }
    }

    int write(const char* bytes, int count, int timeoutMs) override
    {
        int written = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (written < count) {
            ssize_t n = ::write(fd_, bytes + written, static_cast<size_t>(count - written));
            if (n > 0) {
                written += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return -1;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            struct pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, POLLOUT, 0}};
            int r = ::poll(fds, 2, static_cast<int>(left.count()));
            if (r < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN)
                break; // closing
            if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
                return -1;
        }
        return written;
    }

    bool waitEvents(uint32_t& events, uint32_t& lineErrors) override
    {
        events = 0;
        lineErrors = 0;
        waiter_.store(::pthread_self());
        waiterKnown_.store(true);
#ifdef __linux__
        if (modemWaitSupported_ && modemSupported_) {
            if (::ioctl(fd_, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS) == 0) {
                collectEvents(events, lineErrors);
                return events != 0 || lineErrors != 0;
            }
            if (errno == EINTR)
                return false;
            modemWaitSupported_ = false; // this driver cannot wait for modem lines
        }
#endif
        // Nothing to wait for in the driver: wait for the close.
        struct pollfd fd = {wakeFd_, POLLIN, 0};
        ::poll(&fd, 1, -1);
        return false;
    }

    void wake() override
    {
        if (wakeFd_ >= 0) {
            uint64_t one = 1;
            ssize_t r = ::write(wakeFd_, &one, sizeof one);
            (void)r;
        }
    }

    void interruptEventWait() override
    {
        if (waiterKnown_.load())
            ::pthread_kill(waiter_.load(), interruptSignal());
    }

    uint32_t modemStatus() override
    {
        int bits = 0;
        if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &bits) != 0)
            return 0;
        uint32_t status = 0;
        if (bits & TIOCM_CTS)
            status |= kEvCts;
        if (bits & TIOCM_DSR)
            status |= kEvDsr;
        return status;
    }

    void close() override
    {
        if (fd_ >= 0) {
            // Exclusive use ends with our use, however it ends; on a device
            // that vanished this fails, and there is nothing left to free.
            if (exclusive_)
                ::ioctl(fd_, TIOCNXCL);
            exclusive_ = false;
            ::close(fd_);
            fd_ = -1;
        }
        if (wakeFd_ >= 0) {
            ::close(wakeFd_);
            wakeFd_ = -1;
        }
        if (interruptFd_ >= 0) {
            ::close(interruptFd_);
            interruptFd_ = -1;
        }
    }

private:
    OpenError openDevice(const std::string& path, std::string& detail)
    {
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            int e = errno;
            detail = path + ": " + std::strerror(e);
            if (e == EACCES || e == EPERM) {
                struct stat st {};
                std::string group = "dialout";
                if (::stat(path.c_str(), &st) == 0) {
                    if (struct group* g = ::getgrgid(st.st_gid))
                        group = g->gr_name;
                }
                detail = group;
                return OpenError::PermissionDenied;
            }
            if (e == EBUSY)
                return OpenError::Busy;
            if (e == EISDIR) {
                detail = path + ": not a serial line (a folder)";
                return OpenError::NotASerialLine;
            }
            if (e == ENOENT || e == ENODEV || e == ENXIO || e == ENOTDIR)
                return OpenError::NotFound;
            return OpenError::Other;
        }
        // The name may have changed since it was looked at: what was opened
        // decides, still before a setting is changed or a byte written.
        struct stat st {};
        const char* why = ::fstat(fd, &st) != 0 ? "cannot be examined"
                                                : whyNoSerialLine(st, true, ::isatty(fd) == 1);
        if (why) {
            ::close(fd);
            detail = path + ": not a serial line (" + why + ")";
            return OpenError::NotASerialLine;
        }
        // Exclusive: no second opener, in this process or another.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            detail = path + ": in use";
            return OpenError::Busy;
        }
        // Kept by the terminal beyond our descriptor (a pseudo-terminal
        // whose other end stays open keeps it for good): close() clears it.
        exclusive_ = ::ioctl(fd, TIOCEXCL) == 0;
        fd_ = fd;
        detail = path;
        installInterruptHandler();
        return OpenError::None;
    }

    void collectEvents(uint32_t& events, uint32_t& lineErrors)
    {
        int bits = 0;
        if (::ioctl(fd_, TIOCMGET, &bits) == 0) {
            int changed = bits ^ modemBits_;
            modemBits_ = bits;
            if (changed & TIOCM_CTS)
                events |= kEvCts;
            if (changed & TIOCM_DSR)
                events |= kEvDsr;
            if (changed & TIOCM_CD)
                events |= kEvCarrier;
            if (changed & TIOCM_RNG)
                events |= kEvRing;
        }
        lineErrors = takeLineErrors();
        if (lineErrors & kErrBreak)
            events |= kEvBreak;
    }

    int fd_ = -1;
    bool exclusive_ = false; // TIOCEXCL set by us on fd_
    int wakeFd_ = -1;      // set for good when the port closes
    int interruptFd_ = -1; // one read at a time: the receive thread's stop
    bool icountSupported_ = false;
    bool modemSupported_ = false;
    bool modemWaitSupported_ = true;
    int modemBits_ = 0;
#ifdef __linux__
    struct serial_icounter_struct count_ {};
#endif
    std::mutex countMutex_;
    std::atomic<pthread_t> waiter_{};
    std::atomic<bool> waiterKnown_{false};
};

} // namespace

std::unique_ptr<SerialBackend> MakePlatformSerialBackend()
{
    return std::make_unique<PosixSerialBackend>();
}

} // namespace pell

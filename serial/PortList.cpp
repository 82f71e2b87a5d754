#include "serial/PortList.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace pell {

bool PortNameLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        unsigned char ca = a[i], cb = b[j];
        if (std::isdigit(ca) && std::isdigit(cb)) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie])))
                ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je])))
                ++je;
            std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ie;
            j = je;
            continue;
        }
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

#ifndef _WIN32
std::string SimulatorPortFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/halden-sim";
    return "/tmp/halden-sim-" + std::to_string(::getuid());
}

namespace {

bool hasHardware(const fs::path& entry)
{
    std::error_code ec;
    if (!fs::exists(entry / "device", ec))
        return false; // virtual terminals, ptys, console
    std::ifstream type(entry / "type");
    int t = -1;
    if (type >> t)
        return t != 0; // 8250 placeholders without a UART report type 0
    return true;
}

} // namespace

namespace {

constexpr char kLockSuffix[] = ".lock";

bool isLockName(const std::string& name)
{
    const std::size_t n = sizeof kLockSuffix - 1;
    return name.size() > n && name.compare(name.size() - n, n, kLockSuffix) == 0;
}

std::string readLink(const std::string& link)
{
    char buf[4096];
    ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

// The terminal a lock file names (its first line); empty when unreadable.
std::string lockedTarget(int fd)
{
    char buf[4096];
    ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return {};
    std::string text(buf, static_cast<std::size_t>(n));
    std::size_t eol = text.find('\n');
    return eol == std::string::npos ? std::string() : text.substr(0, eol);
}

// True when `path` still names the file open on `fd`.
bool sameFile(int fd, const std::string& path)
{
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

enum class LinkCheck { Live, Busy, Stale };

// Whether the simulator behind `link` is alive and owns the terminal the
// link leads to. A stale link and its lock file are removed.
LinkCheck checkSimulatorLink(const std::string& link)
{
    const std::string lockPath = link + kLockSuffix;
    int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT)
            return LinkCheck::Busy; // cannot tell: neither list nor remove it
        ::unlink(link.c_str()); // no simulator ever vouched for it
        return LinkCheck::Stale;
    }
    // A shared lock: two port lists looking at once do not take each other
    // for a simulator.
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        // Nobody holds the lock: its simulator is gone. Removed while we hold
        // it, so a simulator starting under this name meanwhile either finds
        // the name taken or, after the removal, makes a new lock file.
        if (sameFile(fd, lockPath)) {
            ::unlink(link.c_str());
            ::unlink(lockPath.c_str());
        }
        ::close(fd);
        return LinkCheck::Stale;
    }
    const bool held = errno == EWOULDBLOCK;
    const std::string target = held ? lockedTarget(fd) : std::string();
    ::close(fd);
    if (!held || target.empty() || readLink(link) != target)
        return LinkCheck::Busy; // being published or withdrawn right now
    struct stat st {};
    return ::stat(target.c_str(), &st) == 0 ? LinkCheck::Live : LinkCheck::Busy;
}

// A lock file whose link is gone and whose lock nobody holds.
void removeOrphanLock(const std::string& lockPath)
{
    int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    const std::string link = lockPath.substr(0, lockPath.size() - (sizeof kLockSuffix - 1));
    struct stat st {};
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0 && ::lstat(link.c_str(), &st) != 0 &&
        sameFile(fd, lockPath))
        ::unlink(lockPath.c_str());
    ::close(fd);
}

} // namespace

SimulatorPortLink::~SimulatorPortLink()
{
    Withdraw();
}

bool SimulatorPortLink::Publish(const std::string& folder, const std::string& name,
                                const std::string& target, std::string* error)
{
    Withdraw();
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.' || isLockName(name))
        return fail("not a plain link name: " + name);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return fail("cannot create " + folder + ": " + ec.message());
    const std::string link = folder + "/" + name;
    const std::string lockPath = link + kLockSuffix;
    int fd = -1;
    // A lister may remove a stale lock file between our open and our lock;
    // then the lock is on a file nobody finds: take a new one.
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return fail("cannot open " + lockPath + ": " + std::strerror(errno));
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            ::close(fd);
            return fail(e == EWOULDBLOCK ? link + " belongs to a running simulator"
                                         : "cannot lock " + lockPath + ": " + std::strerror(e));
        }
        if (!sameFile(fd, lockPath)) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        return fail("cannot lock " + lockPath);
    const std::string line = target + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size())) {
        const int e = errno;
        ::unlink(lockPath.c_str());
        ::close(fd);
        return fail("cannot write " + lockPath + ": " + std::strerror(e));
    }
    // A new link replaces a stale one of the same name in one step.
    const std::string temp = folder + "/." + name + "." + std::to_string(::getpid()) + ".new";
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), link.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        ::unlink(lockPath.c_str());
        ::close(fd);
        return fail("cannot link " + link + ": " + std::strerror(e));
    }
    lockFd_ = fd;
    link_ = link;
    lockPath_ = lockPath;
    target_ = target;
    return true;
}

void SimulatorPortLink::Withdraw()
{
    if (lockFd_ < 0)
        return;
    // The link first: without its lock file a link is never listed.
    if (readLink(link_) == target_)
        ::unlink(link_.c_str());
    if (sameFile(lockFd_, lockPath_))
        ::unlink(lockPath_.c_str());
    ::close(lockFd_);
    lockFd_ = -1;
    link_.clear();
    lockPath_.clear();
    target_.clear();
}

std::vector<std::string> ListSerialPorts(const std::string& sysDir, const std::string& simDir)
{
    std::vector<std::string> sims, real, locks;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(simDir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name[0] == '.')
            continue; // a link being made
        if (isLockName(name)) {
            locks.push_back(e.path().string());
            continue;
        }
        std::error_code ec2;
        if (!fs::is_symlink(e.symlink_status(ec2)))
            continue; // not a simulator's link
        if (checkSimulatorLink(e.path().string()) == LinkCheck::Live)
            sims.push_back(e.path().string());
    }
    for (const auto& lock : locks)
        removeOrphanLock(lock);
    for (const auto& e : fs::directory_iterator(sysDir, ec)) {
        if (hasHardware(e.path()))
            real.push_back(e.path().filename().string());
    }
    std::sort(sims.begin(), sims.end(), PortNameLess);
    std::sort(real.begin(), real.end(), PortNameLess);
    // A simulator that the user started is what they want to talk to.
    sims.insert(sims.end(), real.begin(), real.end());
    return sims;
}

std::vector<std::string> ListSerialPorts()
{
    return ListSerialPorts("/sys/class/tty", SimulatorPortFolder());
}

std::string SerialPortDescription(const std::string& port)
{
    return port;
}

#else

std::vector<std::string> ListRegistryPorts(const std::string& subKey, bool currentUser)
{
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, subKey.c_str(), 0,
                        KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;
    DWORD count = 0, longestName = 0, longestData = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                           &longestName, &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
        // Every name and every value is read whole, whatever its length
        // (COM100 and above included).
        for (DWORD i = 0; i < count; ++i) {
            std::string name(longestName + 1, '\0');
            std::string data(longestData + 1, '\0');
            DWORD nameLength = longestName + 1, dataLength = longestData, type = 0;
            if (::RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type,
                                reinterpret_cast<BYTE*>(data.data()), &dataLength) != ERROR_SUCCESS)
                continue;
            if (type != REG_SZ)
                continue;
            data.resize(std::min<std::size_t>(dataLength, data.size()));
            data.resize(std::strlen(data.c_str())); // without its terminating zero
            if (!data.empty())
                ports.push_back(data);
        }
    }
    ::RegCloseKey(key);
    return ports;
}

std::vector<std::string> ListSerialPorts()
{
    return ListRegistryPorts("HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

std::string SerialPortDescription(const std::string& port)
{
    // The present devices of the Ports class: the one whose PortName is
    // this port gives its friendly name.
    std::string description = port;
    HDEVINFO devices = ::SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return description;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        char name[64] = {};
        DWORD size = sizeof name - 1, type = 0;
        const bool named = ::RegQueryValueExA(key, "PortName", nullptr, &type,
                                              reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                           type == REG_SZ;
        ::RegCloseKey(key);
        if (!named || _stricmp(name, port.c_str()) != 0)
            continue;
        char friendly[256] = {};
        if (::SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1,
                                                nullptr) &&
            friendly[0] != '\0')
            description = friendly;
        break;
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return description;
}

#endif

} // namespace pell

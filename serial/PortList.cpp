#include "serial/PortList.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>
#else
#include <dirent.h>
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

bool isLockName(std::string_view name)
{
    const std::size_t n = sizeof kLockSuffix - 1;
    return name.size() > n && name.compare(name.size() - n, n, kLockSuffix) == 0;
}

// Everything in the folder is reached through the folder's descriptor, so
// what was checked is what is used, whatever happens to the path meanwhile.
// An entry counts only when this user owns it: anything of another user's
// (root may find such entries) is neither listed, replaced nor removed.
bool ownEntry(int dir, const std::string& name, struct stat* st = nullptr)
{
    struct stat own {};
    struct stat& s = st ? *st : own;
    return ::fstatat(dir, name.c_str(), &s, AT_SYMLINK_NOFOLLOW) == 0 && s.st_uid == ::geteuid();
}

bool entryExists(int dir, const std::string& name)
{
    struct stat st {};
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Where our link `name` leads; empty when it is no link of ours.
std::string ownLinkTarget(int dir, const std::string& name)
{
    struct stat st {};
    if (!ownEntry(dir, name, &st) || !S_ISLNK(st.st_mode))
        return {};
    char buf[4096];
    ssize_t n = ::readlinkat(dir, name.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

// The lock file `name` opened, when it is a plain file of ours; else -1.
int openOwnLock(int dir, const std::string& name, int flags)
{
    int fd = ::openat(dir, name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// True when `name` in the folder still is the file open on `fd`.
bool sameFile(int dir, int fd, const std::string& name)
{
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::fstatat(dir, name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the simulator folder, making it first (private) with `create`.
// -1, with `why` set, unless it is a real folder (no link) of this user's
// that nobody else may write.
int openSimulatorFolder(const std::string& folder, bool create, std::string* why)
{
    auto fail = [&](const std::string& text) {
        if (why)
            *why = folder + ": " + text;
        return -1;
    };
    if (folder.empty())
        return fail("no folder");
    if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        std::error_code ec;
        fs::create_directories(fs::path(folder).parent_path(), ec);
        ::mkdir(folder.c_str(), 0700);
    }
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return fail(errno == ELOOP ? "a link, not a folder" : std::strerror(errno));
    struct stat st {};
    const char* wrong = nullptr;
    if (::fstat(dir, &st) != 0)
        wrong = "cannot be examined";
    else if (st.st_uid != ::geteuid())
        wrong = "belongs to another user";
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        wrong = "others may write it";
    if (wrong) {
        ::close(dir);
        return fail(wrong);
    }
    return dir;
}

enum class LinkCheck { Live, Busy, Stale };

// Whether the simulator behind our link `name` is alive and owns the
// terminal the link leads to. A stale link and its lock file are removed.
LinkCheck checkSimulatorLink(int dir, const std::string& name)
{
    const std::string target = ownLinkTarget(dir, name);
    if (target.empty())
        return LinkCheck::Busy; // not ours, or not readable: leave it
    const std::string lockName = name + kLockSuffix;
    int fd = openOwnLock(dir, lockName, O_RDONLY);
    if (fd < 0) {
        if (errno != ENOENT || entryExists(dir, lockName))
            return LinkCheck::Busy; // cannot tell: neither list nor remove it
        ::unlinkat(dir, name.c_str(), 0); // no simulator ever vouched for it
        return LinkCheck::Stale;
    }
    // A shared lock: two port lists looking at once do not take each other
    // for a simulator.
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        // Nobody holds the lock: its simulator is gone. Removed while we hold
        // it, so a simulator starting under this name meanwhile either finds
        // the name taken or, after the removal, makes a new lock file.
        if (sameFile(dir, fd, lockName)) {
            ::unlinkat(dir, name.c_str(), 0);
            ::unlinkat(dir, lockName.c_str(), 0);
        }
        ::close(fd);
        return LinkCheck::Stale;
    }
    const bool held = errno == EWOULDBLOCK;
    std::string locked;
    if (held) {
        char buf[4096];
        ssize_t n = ::pread(fd, buf, sizeof buf, 0);
        if (n > 0)
            locked = LockedTerminal(std::string_view(buf, static_cast<std::size_t>(n)));
    }
    ::close(fd);
    if (locked.empty() || locked != target)
        return LinkCheck::Busy; // being published or withdrawn right now
    struct stat st {};
    return ::stat(target.c_str(), &st) == 0 ? LinkCheck::Live : LinkCheck::Busy;
}

// A lock file of ours whose link is gone and whose lock nobody holds.
void removeOrphanLock(int dir, const std::string& lockName)
{
    int fd = openOwnLock(dir, lockName, O_RDONLY);
    if (fd < 0)
        return;
    const std::string link = lockName.substr(0, lockName.size() - (sizeof kLockSuffix - 1));
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0 && !entryExists(dir, link) && sameFile(dir, fd, lockName))
        ::unlinkat(dir, lockName.c_str(), 0);
    ::close(fd);
}

} // namespace

std::string LockedTerminal(std::string_view lockText)
{
    // A lock file being written has no line end yet.
    const std::size_t eol = lockText.find('\n');
    if (eol == std::string_view::npos || eol == 0 || lockText[0] != '/')
        return {};
    const std::string_view line = lockText.substr(0, eol);
    if (line.find('\0') != std::string_view::npos)
        return {};
    return std::string(line);
}

bool UsableSimulatorFolder(const std::string& folder, bool create, std::string* why)
{
    int dir = openSimulatorFolder(folder, create, why);
    if (dir < 0)
        return false;
    ::close(dir);
    return true;
}

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
    if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
        name[0] == '.' || isLockName(name))
        return fail("not a plain link name: " + name);
    std::string why;
    int dir = openSimulatorFolder(folder, true, &why);
    if (dir < 0)
        return fail(why);
    const std::string link = folder + "/" + name;
    const std::string lockName = name + kLockSuffix;
    auto failIn = [&](int fd, bool dropLock, const std::string& reason) {
        if (dropLock && sameFile(dir, fd, lockName))
            ::unlinkat(dir, lockName.c_str(), 0);
        if (fd >= 0)
            ::close(fd);
        ::close(dir);
        return fail(reason);
    };
    int fd = -1;
    // A lister may remove a stale lock file between our open and our lock;
    // then the lock is on a file nobody finds: take a new one.
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        fd = openOwnLock(dir, lockName, O_RDWR | O_CREAT);
        if (fd < 0)
            return failIn(-1, false,
                          errno == EPERM ? link + kLockSuffix + " is not a lock file of this user's"
                                         : "cannot open " + link + kLockSuffix + ": " + std::strerror(errno));
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            return failIn(fd, false, e == EWOULDBLOCK ? link + " belongs to a running simulator"
                                                      : "cannot lock " + link + kLockSuffix + ": " +
                                                            std::strerror(e));
        }
        if (!sameFile(dir, fd, lockName)) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        return failIn(-1, false, "cannot lock " + link + kLockSuffix);
    // Only a stale link of ours is replaced: never a file, nor anything of
    // another user's.
    struct stat old {};
    if (entryExists(dir, name) && (!ownEntry(dir, name, &old) || !S_ISLNK(old.st_mode)))
        return failIn(fd, true, link + " is not a simulator link of this user's; left alone");
    const std::string line = target + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()))
        return failIn(fd, true, "cannot write " + link + kLockSuffix + ": " + std::strerror(errno));
    // A new link replaces a stale one of the same name in one step.
    const std::string temp = "." + name + "." + std::to_string(::getpid()) + ".new";
    if (ownEntry(dir, temp))
        ::unlinkat(dir, temp.c_str(), 0);
    if (::symlinkat(target.c_str(), dir, temp.c_str()) != 0 ||
        ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
        const std::string reason = "cannot link " + link + ": " + std::strerror(errno);
        if (ownEntry(dir, temp))
            ::unlinkat(dir, temp.c_str(), 0);
        return failIn(fd, true, reason);
    }
    dirFd_ = dir;
    lockFd_ = fd;
    link_ = link;
    name_ = name;
    target_ = target;
    return true;
}

void SimulatorPortLink::Withdraw()
{
    if (lockFd_ < 0)
        return;
    // The link first: without its lock file a link is never listed.
    if (ownLinkTarget(dirFd_, name_) == target_)
        ::unlinkat(dirFd_, name_.c_str(), 0);
    const std::string lockName = name_ + kLockSuffix;
    if (sameFile(dirFd_, lockFd_, lockName))
        ::unlinkat(dirFd_, lockName.c_str(), 0);
    ::close(lockFd_);
    ::close(dirFd_);
    lockFd_ = dirFd_ = -1;
    link_.clear();
    name_.clear();
    target_.clear();
}

std::vector<std::string> ListSerialPorts(const std::string& sysDir, const std::string& simDir)
{
    std::vector<std::string> sims, real, locks;
    if (int dir = openSimulatorFolder(simDir, false, nullptr); dir >= 0) {
        std::vector<std::string> names;
        if (DIR* d = ::fdopendir(::dup(dir))) {
            while (const dirent* e = ::readdir(d))
                names.emplace_back(e->d_name);
            ::closedir(d);
        }
        for (const std::string& name : names) {
            if (name.empty() || name[0] == '.')
                continue; // ".", "..", a link being made
            if (isLockName(name))
                locks.push_back(name);
            else if (checkSimulatorLink(dir, name) == LinkCheck::Live)
                sims.push_back(simDir + "/" + name);
        }
        for (const auto& lock : locks)
            removeOrphanLock(dir, lock);
        ::close(dir);
    }
    std::error_code ec;
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

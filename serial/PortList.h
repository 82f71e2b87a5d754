#pragma once
// The serial ports the port combo offers, in a stable order.
#include <string>
#include <string_view>
#include <vector>

namespace pell {

#ifndef _WIN32
// The folder where running simulated controllers leave a link to their port
// (one link per simulator, named after it). $XDG_RUNTIME_DIR/halden-sim when
// that variable is set, else /tmp/halden-sim-<uid>. In /tmp anybody could
// make that folder first, so it is used only when it is a real folder (no
// link) of this user's that nobody else may write, and in it only entries of
// this user's count: others are neither listed, replaced nor removed.
std::string SimulatorPortFolder();

// Whether `folder` may hold simulator links, as above; with `create` a
// missing folder is made first, private (0700). `why` says what is wrong.
bool UsableSimulatorFolder(const std::string& folder, bool create, std::string* why = nullptr);

// The terminal a simulator's lock file names: its first line, complete
// (ended by '\n'), a full path without zero bytes; else empty.
std::string LockedTerminal(std::string_view lockText);

// A simulator's entry in the simulator folder: the link `<name>` to its
// pseudo-terminal and the lock file `<name>.lock` beside it. The simulator
// holds an exclusive lock (flock) on the lock file for as long as it owns that
// terminal, and the file names the terminal the link leads to. A simulator
// that dies, however it dies, loses the lock with its last descriptor, so a
// link whose lock nobody holds is stale: its terminal number may already
// belong to another program.
class SimulatorPortLink {
public:
    SimulatorPortLink() = default;
    ~SimulatorPortLink(); // Withdraw()
    SimulatorPortLink(const SimulatorPortLink&) = delete;
    SimulatorPortLink& operator=(const SimulatorPortLink&) = delete;

    // Locks `<folder>/<name>.lock` and links `<folder>/<name>` to `target`.
    // False (with `error` set) when another live simulator holds that name,
    // the folder is unusable or cannot be written, or `<name>` is something
    // else than a link of this user's. A stale link of that name is replaced.
    bool Publish(const std::string& folder, const std::string& name, const std::string& target,
                 std::string* error = nullptr);
    // Removes the link and the lock file (if still ours) and drops the lock.
    void Withdraw();
    const std::string& LinkPath() const { return link_; }

private:
    int dirFd_ = -1; // the folder, as it was checked
    int lockFd_ = -1;
    std::string link_, name_, target_;
};

// The simulator links in simDir first (a simulator the user started is what
// they want to talk to), then the real serial devices of sysDir (entries of
// /sys/class/tty with a device link; 8250 ports whose "type" is 0 have no
// hardware and are left out). A simulator link is listed only while its
// lock is held and names the link's terminal, and that terminal exists;
// links whose lock nobody holds are removed with their lock files (only
// this user's, in a usable folder: see SimulatorPortFolder). Names
// sort naturally (ttyS2 before ttyS10). Real devices are given by name
// (ttyUSB0), simulator links by full path.
std::vector<std::string> ListSerialPorts(const std::string& sysDir, const std::string& simDir);
#else
// The ports named by the string values of a registry key, in the key's
// order; values that are empty or no strings are left out. `subKey` is read
// under HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER when `currentUser`.
std::vector<std::string> ListRegistryPorts(const std::string& subKey, bool currentUser = false);
#endif

// The ports of this system: on Windows the registry's list of serial
// communication ports (HARDWARE\DEVICEMAP\SERIALCOMM), else as above.
std::vector<std::string> ListSerialPorts();

// A description of a listed port for people ("USB Serial Port (COM3)")
// where the system has one, else the port's name itself.
std::string SerialPortDescription(const std::string& port);

// Natural order of port names: digit runs compare by value.
bool PortNameLess(const std::string& a, const std::string& b);

} // namespace pell

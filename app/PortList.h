#pragma once
// The serial ports the port combo offers, in a stable order.
#include <string>
#include <vector>

namespace pell {

// The folder where running simulated controllers leave a link to their port
// (one link per simulator, named after it). $XDG_RUNTIME_DIR/halden-sim when
// that variable is set, else /tmp/halden-sim-<uid>.
std::string SimulatorPortFolder();

// The simulator links in simDir first (a simulator the user started is what
// they want to talk to), then the real serial devices of sysDir (entries of
// /sys/class/tty with a device link; 8250 ports whose "type" is 0 have no
// hardware and are left out). Stale links are left out. Names sort naturally (ttyS2
// before ttyS10). Real devices are given by name (ttyUSB0), simulator links
// by full path.
std::vector<std::string> ListSerialPorts(const std::string& sysDir, const std::string& simDir);
std::vector<std::string> ListSerialPorts();

// Natural order of port names: digit runs compare by value.
bool PortNameLess(const std::string& a, const std::string& b);

} // namespace pell

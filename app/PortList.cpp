#include "app/PortList.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace pell {

std::string SimulatorPortFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/halden-sim";
    return "/tmp/halden-sim-" + std::to_string(::getuid());
}

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

std::vector<std::string> ListSerialPorts(const std::string& sysDir, const std::string& simDir)
{
    std::vector<std::string> sims, real;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(simDir, ec)) {
        std::error_code ec2;
        // A stale link (its simulator ended) leads nowhere: leave it out.
        if (fs::exists(e.path(), ec2))
            sims.push_back(e.path().string());
    }
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

} // namespace pell

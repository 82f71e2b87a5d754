#include "app/PortList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace pell;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        path = fs::temp_directory_path() / ("halden-ports-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
};

void addTty(const fs::path& sys, const std::string& name, bool device, int type = -1)
{
    fs::create_directories(sys / name);
    if (device)
        fs::create_directories(sys / name / "device");
    if (type >= 0)
        std::ofstream(sys / name / "type") << type << "\n";
}

} // namespace

TEST(PortList, RealDevicesInNaturalOrderWithoutPlaceholders)
{
    TempDir sys, sim;
    addTty(sys.path, "ttyS10", true, 4);
    addTty(sys.path, "ttyS2", true, 4);
    addTty(sys.path, "ttyS3", true, 0); // an 8250 slot without a UART
    addTty(sys.path, "ttyUSB0", true);
    addTty(sys.path, "ttyACM1", true);
    addTty(sys.path, "tty0", false); // virtual terminal
    addTty(sys.path, "console", false);
    auto ports = ListSerialPorts(sys.path.string(), sim.path.string());
    EXPECT_EQ(ports, (std::vector<std::string>{"ttyACM1", "ttyS2", "ttyS10", "ttyUSB0"}));
}

TEST(PortList, SimulatorLinksComeFirstAndStaleOnesAreLeftOut)
{
    TempDir sys, sim;
    addTty(sys.path, "ttyUSB0", true);
    std::ofstream(sim.path / "target") << "x";
    fs::create_symlink(sim.path / "target", sim.path / "sim");
    fs::create_symlink(sim.path / "gone", sim.path / "sim2");
    auto ports = ListSerialPorts(sys.path.string(), sim.path.string());
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0], (sim.path / "sim").string());
    EXPECT_EQ(ports[1], (sim.path / "target").string());
    EXPECT_EQ(ports[2], "ttyUSB0");
}

TEST(PortList, MissingFoldersGiveNoPorts)
{
    EXPECT_TRUE(ListSerialPorts("/nonexistent/sys", "/nonexistent/sim").empty());
}

TEST(PortList, NaturalOrder)
{
    EXPECT_TRUE(PortNameLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(PortNameLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(PortNameLess("ttyS", "ttyS0"));
    EXPECT_FALSE(PortNameLess("ttyS02", "ttyS2"));
    EXPECT_FALSE(PortNameLess("ttyS2", "ttyS02"));
}

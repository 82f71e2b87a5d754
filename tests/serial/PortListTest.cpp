#include "serial/PortList.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

using namespace pell;
using pell::test::PtyPair;
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

// What a simulator that died without cleaning up leaves: its link and its
// lock file naming the terminal, with nobody holding the lock.
void leaveDeadSimulator(const fs::path& dir, const std::string& name, const std::string& target)
{
    std::ofstream(dir / (name + ".lock")) << target << "\n";
    fs::create_symlink(target, dir / name);
}

bool present(const fs::path& p)
{
    return fs::exists(fs::symlink_status(p));
}

TEST(PortList, LiveSimulatorsComeFirstAndDeadOnesAreLeftOutAndRemoved)
{
    TempDir sys, sim;
    addTty(sys.path, "ttyUSB0", true);
    PtyPair live, live10, foreign, other;
    SimulatorPortLink a, b, c;
    ASSERT_TRUE(a.Publish(sim.path.string(), "sim10", live10.slavePath()));
    ASSERT_TRUE(b.Publish(sim.path.string(), "sim", live.slavePath()));
    // A pseudo-terminal that belongs to another program now, behind a dead
    // simulator's link, with and without its lock file.
    leaveDeadSimulator(sim.path, "sim2", foreign.slavePath());
    fs::create_symlink(foreign.slavePath(), sim.path / "sim3");
    std::ofstream(sim.path / "sim4.lock") << "/dev/pts/999\n"; // lock without link
    // A live simulator whose link does not lead where its lock says.
    ASSERT_TRUE(c.Publish(sim.path.string(), "sim5", other.slavePath()));
    fs::remove(sim.path / "sim5");
    fs::create_symlink(foreign.slavePath(), sim.path / "sim5");
    std::ofstream(sim.path / "notes.txt") << "x"; // no link at all

    auto ports = ListSerialPorts(sys.path.string(), sim.path.string());
    EXPECT_EQ(ports, (std::vector<std::string>{(sim.path / "sim").string(),
                                               (sim.path / "sim10").string(), "ttyUSB0"}));
    EXPECT_FALSE(present(sim.path / "sim2"));
    EXPECT_FALSE(present(sim.path / "sim2.lock"));
    EXPECT_FALSE(present(sim.path / "sim3"));
    EXPECT_FALSE(present(sim.path / "sim4.lock"));
    EXPECT_TRUE(present(sim.path / "sim5")) << "its simulator lives: not ours to remove";
    EXPECT_TRUE(present(sim.path / "sim.lock"));

    // A withdrawn simulator is gone from the list and from the folder.
    b.Withdraw();
    EXPECT_FALSE(present(sim.path / "sim"));
    EXPECT_FALSE(present(sim.path / "sim.lock"));
    ports = ListSerialPorts(sys.path.string(), sim.path.string());
    EXPECT_EQ(ports, (std::vector<std::string>{(sim.path / "sim10").string(), "ttyUSB0"}));
}

TEST(PortList, ALiveSimulatorKeepsItsNameAndADeadOnesNameIsTakenOver)
{
    TempDir sim;
    PtyPair first, second, third;
    SimulatorPortLink a, b;
    ASSERT_TRUE(a.Publish(sim.path.string(), "sim", first.slavePath()));
    std::string error;
    EXPECT_FALSE(b.Publish(sim.path.string(), "sim", second.slavePath(), &error));
    EXPECT_NE(error.find("running simulator"), std::string::npos) << error;
    EXPECT_EQ(fs::read_symlink(sim.path / "sim").string(), first.slavePath());

    fs::remove(sim.path / "sim");
    fs::remove(sim.path / "sim.lock");
    leaveDeadSimulator(sim.path, "sim", third.slavePath());
    a.Withdraw(); // its files are no longer its own: left alone
    EXPECT_TRUE(present(sim.path / "sim"));
    ASSERT_TRUE(b.Publish(sim.path.string(), "sim", second.slavePath(), &error)) << error;
    EXPECT_EQ(fs::read_symlink(sim.path / "sim").string(), second.slavePath());
    EXPECT_EQ(ListSerialPorts("/nonexistent/sys", sim.path.string()),
              std::vector<std::string>{(sim.path / "sim").string()});
    EXPECT_FALSE(b.Publish(sim.path.string(), "../x", second.slavePath()));
}

TEST(PortList, AFolderSomeoneElseCouldHaveMadeIsNeitherUsedNorCleanedUp)
{
    struct Plant {
        const char* name;
        bool needsRoot; // to give a folder to another user
        std::function<fs::path(const fs::path&)> make;
    } plants[] = {
        {"a link to a folder", false, [](const fs::path& real) {
             fs::create_directory_symlink(real, real.parent_path() / "planted");
             return real.parent_path() / "planted";
         }},
        {"group-writable", false, [](const fs::path& real) {
             fs::permissions(real, fs::perms::group_write, fs::perm_options::add);
             return real;
         }},
        {"another user's", true, [](const fs::path& real) {
             EXPECT_EQ(::chown(real.c_str(), 1000, 1000), 0);
             return real;
         }},
    };
    for (const Plant& plant : plants) {
        if (plant.needsRoot && ::geteuid() != 0)
            continue; // only root can make it
        TempDir top;
        const fs::path real = top.path / "halden-sim";
        PtyPair live;
        SimulatorPortLink sim, other;
        ASSERT_TRUE(sim.Publish(real.string(), "sim", live.slavePath()));
        leaveDeadSimulator(real, "dead", live.slavePath());
        const fs::path folder = plant.make(real);
        EXPECT_TRUE(ListSerialPorts("/nonexistent/sys", folder.string()).empty()) << plant.name;
        EXPECT_TRUE(present(real / "dead") && present(real / "dead.lock")) << plant.name;
        EXPECT_FALSE(other.Publish(folder.string(), "sim2", live.slavePath())) << plant.name;
        EXPECT_FALSE(present(real / "sim2")) << plant.name;
    }
}

TEST(PortList, EntriesOfAnotherUserAreNeitherListedReplacedNorRemoved)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    TempDir top;
    const fs::path sim = top.path / "new" / "halden-sim";
    PtyPair a, b;
    SimulatorPortLink live, theirs, taker;
    ASSERT_TRUE(live.Publish(sim.string(), "live", a.slavePath()));
    EXPECT_EQ(fs::status(sim).permissions(), fs::perms::owner_all) << "made private";
    ASSERT_TRUE(theirs.Publish(sim.string(), "theirs", b.slavePath()));
    leaveDeadSimulator(sim, "dead-link", a.slavePath());
    leaveDeadSimulator(sim, "dead-lock", a.slavePath());
    std::ofstream(sim / "orphan.lock") << "/dev/pts/999\n";
    fs::create_symlink(a.slavePath(), sim / "nolock");
    const char* foreign[] = {"theirs.lock", "dead-link", "dead-lock.lock", "orphan.lock", "nolock"};
    for (const char* name : foreign)
        ASSERT_EQ(::lchown((sim / name).c_str(), 65534, 65534), 0);
    std::ofstream(sim / "file") << "mine"; // ours, but no link

    EXPECT_EQ(ListSerialPorts("/nonexistent/sys", sim.string()),
              std::vector<std::string>{(sim / "live").string()});
    for (const char* name : {"dead-link", "dead-lock", "file"})
        EXPECT_FALSE(taker.Publish(sim.string(), name, b.slavePath())) << name;
    for (const char* name : foreign)
        EXPECT_TRUE(present(sim / name)) << name;
    EXPECT_TRUE(present(sim / "dead-lock"));
    EXPECT_EQ(fs::file_size(sim / "file"), 4u);
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

// The halden-sim program as a user starts it: it prints its port, links it
// where the tool's port list looks, takes typed commands, and cleans up on
// its way out.
#include "serial/PortList.h"
#include "tests/support/PtyLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

class Program {
public:
    // Starts halden-sim with `args`; the runtime folder is `runtimeDir`.
    // With `typed` false its input is /dev/null.
    Program(const std::vector<std::string>& args, const std::string& runtimeDir, bool typed = true)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        ::posix_spawn_file_actions_init(&fa);
        if (typed)
            ::posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
        else
            ::posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0)
                env.emplace_back(*e);
        env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argStore = {HALDEN_SIM_PROGRAM};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, HALDEN_SIM_PROGRAM, &fa, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        ::posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        out_ = out[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
        if (!typed) {
            ::close(in_);
            in_ = -1;
        }
    }

    ~Program()
    {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (in_ >= 0)
            ::close(in_);
        if (out_ >= 0)
            ::close(out_);
    }

    bool running() const { return pid_ > 0; }

    void type(const std::string& text)
    {
        [[maybe_unused]] ssize_t n = ::write(in_, text.data(), text.size());
    }

    // Reads the program's output until it holds `needle` (from `from` on).
    bool waitOutput(const std::string& needle, std::chrono::milliseconds deadline = 30s,
                    std::size_t from = 0)
    {
        auto end = Steady::now() + deadline;
        while (output.find(needle, from) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Steady::now()).count();
            if (left <= 0)
                return false;
            struct pollfd p = {out_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left));
            char buf[4096];
            ssize_t n = ::read(out_, buf, sizeof buf);
            if (n > 0)
                output.append(buf, static_cast<std::size_t>(n));
            else if (n == 0)
                return output.find(needle, from) != std::string::npos;
        }
        return true;
    }

    // Reads the output of an exited program up to its end.
    void drainOutput()
    {
        auto end = Steady::now() + 5s;
        while (Steady::now() < end) {
            struct pollfd p = {out_, POLLIN, 0};
            ::poll(&p, 1, 100);
            char buf[4096];
            ssize_t n = ::read(out_, buf, sizeof buf);
            if (n > 0)
                output.append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return;
        }
    }

    // The port path from the first line: "halden-sim: port <path> (link <link>)".
    std::string portPath()
    {
        if (!waitOutput("halden-sim: port ") || !waitOutput("\n", 30s, output.find("halden-sim: port ")))
            return {};
        std::size_t at = output.find("halden-sim: port ") + 12;
        at += 5;
        std::size_t end = output.find_first_of(" \n", at);
        return output.substr(at, end - at);
    }

    // Waits for the exit; its status, or -1 when it did not end in time.
    int waitExit(std::chrono::milliseconds deadline = 30s)
    {
        auto end = Steady::now() + deadline;
        while (Steady::now() < end) {
            int status = 0;
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                drainOutput(); // collect what is left
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            struct pollfd p = {out_, POLLIN, 0};
            ::poll(&p, 1, 20);
            char buf[4096];
            ssize_t n = ::read(out_, buf, sizeof buf);
            if (n > 0)
                output.append(buf, static_cast<std::size_t>(n));
        }
        return -1;
    }

    void signal(int sig) { ::kill(pid_, sig); }
    pid_t pid() const { return pid_; }

    std::string output;

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool exited_ = false;
};

class TempDir {
public:
    TempDir()
    {
        char name[] = "/tmp/halden-sim-test-XXXXXX";
        if (::mkdtemp(name))
            path = name;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};

std::string LinkTarget(const std::string& link)
{
    std::error_code ec;
    fs::path t = fs::read_symlink(link, ec);
    return ec ? std::string() : t.string();
}

TEST(HaldenSimProgram, LinksItsPortWhereThePortListLooksAndRemovesItOnTerm)
{
    TempDir dir;
    Program prog({"--auto-power", "--loader-window", "100", "--config-window", "100"}, dir.path);
    ASSERT_TRUE(prog.running());
    std::string port = prog.portPath();
    ASSERT_FALSE(port.empty()) << prog.output;
    const std::string folder = dir.path + "/halden-sim";
    const std::string link = folder + "/sim";
    EXPECT_EQ(LinkTarget(link), port);
    std::vector<std::string> ports = pell::ListSerialPorts(dir.path + "/no-sys", folder);
    EXPECT_NE(std::find(ports.begin(), ports.end(), link), ports.end());

    // The tool's end: the program powers the device up on 'S' and logs the traffic.
    {
        pell::test::PtyLine line(link);
        ASSERT_TRUE(line.ok());
        line.send("S");
        EXPECT_NE(line.readUntilContains("CONFIGURE PROGRAM").find("CONFIGURE PROGRAM"), std::string::npos);
        line.send("AT\r\n");
        EXPECT_EQ(line.readUntilContains("\r\nOK\r\n"), "\r\nOK\r\n");
    }
    EXPECT_TRUE(prog.waitOutput("<- AT\\r\\n"));
    EXPECT_TRUE(prog.waitOutput("-> \\r\\nOK\\r\\n"));
    prog.type("i\n");
    EXPECT_TRUE(prog.waitOutput("mode configuration"));

    prog.signal(SIGTERM);
    EXPECT_EQ(prog.waitExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(HaldenSimProgram, AKilledSimulatorsLinkIsLeftOutOfThePortListAndRemoved)
{
    TempDir dir;
    const std::string folder = dir.path + "/halden-sim";
    Program prog({}, dir.path, false);
    ASSERT_FALSE(prog.portPath().empty()) << prog.output;
    ASSERT_EQ(pell::ListSerialPorts(dir.path + "/no-sys", folder),
              std::vector<std::string>{folder + "/sim"});
    prog.signal(SIGKILL); // no chance to clean up
    EXPECT_EQ(prog.waitExit(30s), 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(fs::symlink_status(folder + "/sim"))) << "left behind";
    EXPECT_TRUE(pell::ListSerialPorts(dir.path + "/no-sys", folder).empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/sim")));
    EXPECT_FALSE(fs::exists(folder + "/sim.lock"));
}

TEST(HaldenSimProgram, ClosingItsLineWithdrawsItsLink)
{
    TempDir dir;
    const std::string folder = dir.path + "/halden-sim";
    Program prog({}, dir.path);
    ASSERT_FALSE(prog.portPath().empty()) << prog.output;
    prog.type("c\n");
    ASSERT_TRUE(prog.waitOutput("(closed)", 30s)) << prog.output;
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/sim")));
    EXPECT_TRUE(pell::ListSerialPorts(dir.path + "/no-sys", folder).empty());
    const std::size_t closedAt = prog.output.find("(closed)");
    prog.type("o\n"); // a new line is published again
    ASSERT_TRUE(prog.waitOutput("(link " + folder + "/sim)", 30s, closedAt)) << prog.output;
    EXPECT_EQ(pell::ListSerialPorts(dir.path + "/no-sys", folder),
              std::vector<std::string>{folder + "/sim"});
    prog.type("q\n");
    EXPECT_EQ(prog.waitExit(30s), 0);
}

TEST(HaldenSimProgram, ServesWithoutTypedInputUntilInterrupted)
{
    TempDir dir;
    Program prog({"--powered", "--loader-window", "100", "--config-window", "100"}, dir.path, false);
    std::string port = prog.portPath();
    ASSERT_FALSE(port.empty()) << prog.output;
    {
        pell::test::PtyLine line(port);
        ASSERT_TRUE(line.ok());
        EXPECT_NE(line.readUntilContains("System running").find("System running"), std::string::npos);
    }
    EXPECT_EQ(prog.waitExit(300ms), -1) << "the end of its input does not end it";
    prog.signal(SIGINT);
    EXPECT_EQ(prog.waitExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path + "/halden-sim/sim")));
}

TEST(HaldenSimProgram, TypedPowerCycleFaultsAndQuit)
{
    TempDir dir;
    Program prog({"--loader-window", "100", "--config-window", "60000"}, dir.path);
    std::string port = prog.portPath();
    ASSERT_FALSE(port.empty()) << prog.output;
    pell::test::PtyLine line(port);
    ASSERT_TRUE(line.ok());
    line.send("S");
    EXPECT_EQ(line.readFor(200ms), "") << "off until switched on";
    prog.type("p\n");
    EXPECT_NE(line.readUntilContains("for setup").find("for setup"), std::string::npos);
    line.send("S");
    EXPECT_NE(line.readUntilContains("CONFIGURE PROGRAM").find("CONFIGURE PROGRAM"), std::string::npos);
    prog.type("e AT+IDNT\n");
    EXPECT_TRUE(prog.waitOutput("error for AT+IDNT"));
    line.send("AT+IDNT=1\r\n");
    EXPECT_NE(line.readUntilContains("ERROR\r\n", 30s).find("ERROR"), std::string::npos);
    prog.type("a\n");
    EXPECT_TRUE(prog.waitOutput("auto power-up on"));
    prog.type("b 9600\n");
    EXPECT_TRUE(prog.waitOutput("baud 9600"));
    prog.type("bogus\n");
    EXPECT_TRUE(prog.waitOutput("unknown command"));
    prog.type("q\n");
    EXPECT_EQ(prog.waitExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path + "/halden-sim/sim")));
}

TEST(HaldenSimProgram, SecondSimulatorGetsItsOwnLink)
{
    TempDir dir;
    Program first({}, dir.path, false);
    ASSERT_FALSE(first.portPath().empty());
    Program second({}, dir.path, false);
    std::string port2 = second.portPath();
    ASSERT_FALSE(port2.empty());
    const std::string link2 = dir.path + "/halden-sim/sim-" + std::to_string(second.pid());
    EXPECT_EQ(LinkTarget(link2), port2);
    EXPECT_NE(LinkTarget(dir.path + "/halden-sim/sim"), port2);
    second.signal(SIGTERM);
    EXPECT_EQ(second.waitExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link2)));
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir.path + "/halden-sim/sim"))) << "not its link";
    first.signal(SIGTERM);
    EXPECT_EQ(first.waitExit(), 0);
}

TEST(HaldenSimProgram, AFolderSomeoneElseCouldHaveMadeGetsNoLinkButThePortServes)
{
    struct Plant {
        const char* name;
        bool needsRoot;
        const char* shell; // makes $F (the simulator folder) from $V, a folder holding a file "sim"
    } plants[] = {
        {"a link to another folder", false, "ln -s \"$V\" \"$F\""},
        {"group-writable", false, "mkdir -m 0770 \"$F\""},
        {"another user's", true, "mkdir -m 0700 \"$F\" && chown 1000:1000 \"$F\""},
    };
    for (const Plant& plant : plants) {
        if (plant.needsRoot && ::geteuid() != 0)
            continue; // only root can make it
        TempDir dir;
        const std::string victim = dir.path + "/victim", folder = dir.path + "/halden-sim";
        const std::string make = "V='" + victim + "' F='" + folder + "'; mkdir \"$V\" && echo notes > \"$V/sim\" && " +
                                 plant.shell;
        ASSERT_EQ(std::system(make.c_str()), 0) << plant.name;
        Program prog({}, dir.path, false);
        EXPECT_FALSE(prog.portPath().empty()) << plant.name << prog.output;
        EXPECT_TRUE(prog.waitOutput("the port is not linked")) << plant.name << prog.output;
        EXPECT_EQ(fs::file_size(victim + "/sim"), 6u) << plant.name;
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder + "/sim"))) << plant.name;
        EXPECT_FALSE(fs::exists(victim + "/sim.lock")) << plant.name;
    }
}

TEST(HaldenSimProgram, HelpAndBadOptions)
{
    TempDir dir;
    {
        Program help({"--help"}, dir.path, false);
        EXPECT_EQ(help.waitExit(), 0);
        EXPECT_NE(help.output.find("--auto-power"), std::string::npos);
    }
    {
        Program bad({"--baud", "fast"}, dir.path, false);
        EXPECT_EQ(bad.waitExit(), 2);
    }
    {
        Program bad({"--no-such-option"}, dir.path, false);
        EXPECT_EQ(bad.waitExit(), 2);
    }
    EXPECT_FALSE(fs::exists(dir.path + "/halden-sim/sim"));
}

} // namespace

// The halden program as a technician starts it: Ctrl-C while it waits for
// a controller ends it with status 130 and frees the port; --help prints
// the overview.
#include "serial/CSerial.h"
#include "sim/Simulator.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace pell;

namespace {

using namespace std::chrono_literals;

// halden with `args`; its stdout and stderr go to one pipe the test reads.
class Halden {
public:
    explicit Halden(std::vector<std::string> args)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        ::posix_spawn_file_actions_init(&fa);
        ::posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&fa, out[1], STDERR_FILENO);
        args.insert(args.begin(), HALDEN_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, HALDEN_PROGRAM, &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        ::posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        fd_ = out[0];
    }
    ~Halden()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0)
            ::close(fd_);
    }

    // Reads until `text` has appeared (true) or the output ended.
    bool awaitText(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buffer[512];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    // The exit status, once it has ended (-1 when it did not end normally).
    int wait()
    {
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        awaitText("\x01"); // the rest of its output
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void signal(int sig) { ::kill(pid_, sig); }
    const std::string& output() const { return output_; }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
};

TEST(HaldenProgram, InterruptAndHelp)
{
    {
        Halden help({"--help"});
        ASSERT_TRUE(help.started());
        EXPECT_EQ(help.wait(), 0);
        EXPECT_NE(help.output().find("usage: halden COMMAND"), std::string::npos) << help.output();
    }
    for (int sig : {SIGINT, SIGTERM}) {
        sim::Options o;
        o.faults.silent = true;
        sim::Simulator device(o);
        ASSERT_TRUE(device.Start());
        Halden halden({"get", "1", "--port", device.PortPath()});
        ASSERT_TRUE(halden.started());
        ASSERT_TRUE(halden.awaitText("to enter configuration mode")) << halden.output();
        halden.signal(sig);
        EXPECT_EQ(halden.wait(), 130) << halden.output();
        EXPECT_NE(halden.output().find("halden: interrupted; the port is closed"), std::string::npos)
            << halden.output();
        pell::CSerial next;
        EXPECT_TRUE(next.OpenPort(device.PortPath(), 115200, pell::NOPARITY, 8, pell::ONESTOPBIT));
    }
}

} // namespace



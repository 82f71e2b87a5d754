// The program itself: started on a port, told to stop, it joins its threads
// and exits with status 0.
#include "serial/PortList.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace pell::test;
namespace fs = std::filesystem;

TEST(Program, ExitsCleanlyWithThePortOpen)
{
    PtyPair pty;
    // A runtime folder of the test's own where the test publishes the pty as
    // a simulator does (link and held lock), so the program lists and opens
    // it first.
    fs::path runtime = fs::temp_directory_path() / ("halden-exit-" + std::to_string(::getpid()));
    pell::SimulatorPortLink link;
    ASSERT_TRUE(link.Publish((runtime / "halden-sim").string(), "sim", pty.slavePath()));

    std::string env1 = "XDG_RUNTIME_DIR=" + runtime.string();
    std::string env2 = "QT_QPA_PLATFORM=offscreen";
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("XDG_RUNTIME_DIR=", 0) != 0 && std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.push_back(*e);
    env.push_back(env1.data());
    env.push_back(env2.data());
    env.push_back(nullptr);

    std::string program = PELLTOOL_PATH;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, env.data()), 0);

    // The program holds its port exclusively once it has opened it.
    auto portTaken = [&] {
        int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return true;
        bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return locked;
    };
    ASSERT_TRUE(WaitUntil(portTaken, std::chrono::milliseconds(20000)));
    pty.send("bytes nobody asked for");
    ::kill(pid, SIGTERM);
    int status = 0;
    bool exited = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; },
                            std::chrono::milliseconds(10000));
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    link.Withdraw();
    fs::remove_all(runtime);
    ASSERT_TRUE(exited);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

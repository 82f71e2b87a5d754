// What the tool costs while nothing happens: starts halden-sim, then the
// tool offscreen (it opens the simulator's port, the first one it lists),
// lets it settle, and counts over a measuring window how often each of the
// tool's threads was woken (voluntary + involuntary context switches) and
// how much CPU the process used.
//
// Usage: bench_idle_wakeups [seconds] [settle-seconds]   (default 10 and 2)
// The tool and the simulator are the ones of this build; PELL_TOOL and
// PELL_SIM name others.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PELL_TOOL_PATH
#define PELL_TOOL_PATH "pelltool"
#endif
#ifndef PELL_SIM_PATH
#define PELL_SIM_PATH "halden-sim"
#endif

namespace {

using namespace std::chrono_literals;

struct TaskSample {
    std::string name;
    long long switches = 0; // voluntary + involuntary
    long long ticks = 0;    // utime + stime, clock ticks
    long long runNs = -1;   // time on a CPU from schedstat, when the kernel keeps it
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// utime + stime of a /proc stat line (fields 14 and 15, after the name in
// parentheses, which may hold blanks).
long long statTicks(const std::string& stat)
{
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        if (i == 15)
            stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

long long statusValue(const std::string& status, const char* key)
{
    const auto at = status.find(key);
    return at == std::string::npos ? 0 : std::atoll(status.c_str() + at + std::strlen(key));
}

std::map<int, TaskSample> sampleTasks(pid_t pid)
{
    std::map<int, TaskSample> tasks;
    const std::string base = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr)
        return tasks;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const int tid = std::atoi(e->d_name);
        const std::string t = base + "/" + e->d_name;
        TaskSample s;
        s.name = readFile(t + "/comm");
        if (!s.name.empty() && s.name.back() == '\n')
            s.name.pop_back();
        const std::string status = readFile(t + "/status");
        s.switches = statusValue(status, "\nvoluntary_ctxt_switches:") +
                     statusValue(status, "\nnonvoluntary_ctxt_switches:");
        s.ticks = statTicks(readFile(t + "/stat"));
        const std::string schedstat = readFile(t + "/schedstat");
        if (!schedstat.empty())
            s.runNs = std::atoll(schedstat.c_str());
        tasks[tid] = s;
    }
    ::closedir(dir);
    return tasks;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& outFile)
{
    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::perror("execv");
    ::_exit(127);
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(50ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// The pseudo-terminal the simulator linked into the port folder.
std::string simulatorTerminal(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return {};
    std::string found;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        char target[256] = {};
        const std::string link = folder + "/" + e->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
            std::strncmp(target, "/dev/pts/", 9) == 0) {
            found = target;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool holdsFile(pid_t pid, const std::string& path)
{
    const std::string base = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr)
        return false;
    bool holds = false;
    while (dirent* e = ::readdir(dir)) {
        char target[256] = {};
        const std::string link = base + "/" + e->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && path == target)
            holds = true;
    }
    ::closedir(dir);
    return holds;
}

template <class Pred>
bool waitFor(Pred pred, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return pred();
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int settle = argc > 2 ? std::max(0, std::atoi(argv[2])) : 2;
    const char* toolEnv = std::getenv("PELL_TOOL");
    const char* simEnv = std::getenv("PELL_SIM");
    const std::string tool = toolEnv ? toolEnv : PELL_TOOL_PATH;
    const std::string simulator = simEnv ? simEnv : PELL_SIM_PATH;

    // A runtime folder of our own: the tool lists this simulator first and
    // no other.
    char folderTemplate[] = "/tmp/pell-idle-XXXXXX";
    if (::mkdtemp(folderTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string runtime = folderTemplate;
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    int rc = 1;
    pid_t sim = spawn({simulator, "--quiet"}, runtime + "/sim.log");
    pid_t app = -1;
    std::string terminal;
    if (!waitFor([&] { return !(terminal = simulatorTerminal(runtime + "/halden-sim")).empty(); }, 30s)) {
        std::fprintf(stderr, "the simulator published no port (see %s/sim.log)\n", runtime.c_str());
    } else {
        app = spawn({tool}, runtime + "/tool.log");
        if (!waitFor([&] { return holdsFile(app, terminal); }, 60s)) {
            std::fprintf(stderr, "the tool did not open %s (see %s/tool.log)\n", terminal.c_str(),
                         runtime.c_str());
        } else {
            std::this_thread::sleep_for(std::chrono::seconds(settle));
            const long long processBefore =
                statTicks(readFile("/proc/" + std::to_string(app) + "/stat"));
            auto before = sampleTasks(app);
            const auto t0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            auto after = sampleTasks(app);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const long long processAfter =
                statTicks(readFile("/proc/" + std::to_string(app) + "/stat"));
            const bool stillOpen = holdsFile(app, terminal);
            const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));

            std::printf("idle tool with the simulator's port %s open%s, %.1f s measured after %d s "
                        "settling\n",
                        terminal.c_str(), stillOpen ? "" : " (NOT open at the end)", elapsed,
                        settle);
            std::printf("%-8s %-16s %12s %14s\n", "tid", "thread", "wake-ups/s", "CPU us/s");
            double totalWakeups = 0, totalRunNs = 0;
            bool haveRunNs = true;
            for (const auto& [tid, a] : after) {
                auto b = before.find(tid);
                const TaskSample zero;
                const TaskSample& s = b != before.end() ? b->second : zero;
                const double wakeups = static_cast<double>(a.switches - s.switches) / elapsed;
                double runUs = -1;
                if (a.runNs >= 0 && (b == before.end() || s.runNs >= 0)) {
                    const double ns = static_cast<double>(a.runNs - std::max(0LL, s.runNs));
                    totalRunNs += ns;
                    runUs = ns / 1000.0 / elapsed;
                } else {
                    haveRunNs = false;
                }
                totalWakeups += wakeups;
                std::printf("%-8d %-16s %12.1f %14.1f\n", tid, a.name.c_str(), wakeups, runUs);
            }
            for (const auto& [tid, b] : before)
                if (!after.count(tid))
                    std::printf("%-8d %-16s (ended while measured)\n", tid, b.name.c_str());
            const double tickPercent =
                static_cast<double>(processAfter - processBefore) / tick / elapsed * 100.0;
            std::printf("process: %.1f wake-ups/s (target <= 5)\n", totalWakeups);
            std::printf("process: CPU %.3f %% of one core from utime+stime (%lld ticks of %.0f/s)",
                        tickPercent, processAfter - processBefore, tick);
            if (haveRunNs)
                std::printf(", %.4f %% from schedstat", totalRunNs / 1e9 / elapsed * 100.0);
            std::printf(" (target <= 0.05 %%)\n");
            rc = stillOpen ? 0 : 1;
        }
    }
    stop(app);
    stop(sim);
    if (rc == 0) { // the logs stay for a run that failed
        for (const char* f : {"/sim.log", "/tool.log"})
            ::unlink((runtime + f).c_str());
        ::rmdir((runtime + "/halden-sim").c_str());
        ::rmdir(runtime.c_str());
    }
    return rc;
}

// halden-sim: a simulated well controller and boot loader on a
// pseudo-terminal, for trying the tool without hardware.
#include "serial/PortList.h"
#include "sim/ProgramOptions.h"
#include "sim/Simulator.h"
#include "debug/HexText.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using pell::sim::Faults;
using pell::sim::ParseCount;
using pell::sim::Simulator;
using pell::sim::Traffic;

const char* const kCommands =
    "commands: p power cycle | on | off | a auto power on/off | s silent on/off\n"
    "  e CMD error for CMD (e alone: none) | w MS slow | k N chunks | t N,N split | g MS gap\n"
    "  n noise on/off | r K reject block | d K drop answer | x N err_ handshakes\n"
    "  c [N] close line (now / after N reply bytes) | o open a new line | b N baud\n"
    "  poll HEX.. MS send the hex frame every MS ms (poll alone: stop)\n"
    "  flood S [BAUD] numbered text at the line rate for S seconds (flood alone: stop)\n"
    "  i status | h help | q quit\n";

std::mutex outM;
bool quiet = false;
int signalPipe[2] = {-1, -1};

void say(const std::string& text)
{
    std::lock_guard<std::mutex> lock(outM);
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string stamp()
{
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    std::tm tm{};
    ::localtime_r(&tv.tv_sec, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return buf;
}

// Printable ASCII as is, CR and LF as \r \n, everything else as \xNN; long
// data is cut with its length.
std::string readable(const std::string& bytes)
{
    constexpr std::size_t kShown = 120;
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (bytes.size() > kShown)
        out += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

void onSignal(int)
{
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

bool toSizes(const std::string& s, std::vector<std::size_t>& out)
{
    out.clear();
    std::stringstream in(s);
    std::string part;
    while (std::getline(in, part, ',')) {
        long v = 0;
        if (!ParseCount(part, v))
            return false;
        out.push_back(static_cast<std::size_t>(v));
    }
    return true;
}

// The link in the tool's port folder, with the lock that tells the port list
// this simulator is alive and owns the terminal. Withdrawn when the line
// closes (its terminal number is free for others then) and at exit; the
// lock goes with the process however it ends.
struct PortLink {
    std::mutex m;
    pell::SimulatorPortLink link;

    // `name`, or name-<pid> when a running simulator holds that name.
    bool create(const std::string& name, const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m);
        const std::string folder = pell::SimulatorPortFolder();
        std::string error;
        // A folder someone else made (or a link they planted) is not ours
        // to write into: the port still works, by its path.
        if (!pell::UsableSimulatorFolder(folder, true, &error)) {
            say("halden-sim: " + error + "; the port is not linked");
            return false;
        }
        if (link.Publish(folder, name, path, &error))
            return true;
        std::string second;
        if (link.Publish(folder, name + "-" + std::to_string(::getpid()), path, &second))
            return true;
        say("halden-sim: " + error + "; " + second);
        return false;
    }

    void remove()
    {
        std::lock_guard<std::mutex> lock(m);
        link.Withdraw();
    }

    std::string path()
    {
        std::lock_guard<std::mutex> lock(m);
        return link.LinkPath();
    }
};

void printStatus(const Simulator& sim)
{
    Faults f = sim.GetFaults();
    pell::sim::LoaderStats l = sim.Loader();
    std::ostringstream s;
    s << "port " << sim.PortPath() << (sim.LineOpen() ? "" : " (closed)") << ", mode "
      << pell::sim::ModeName(sim.CurrentMode()) << ", power-ups " << sim.PowerUps()
      << ", commands " << sim.CommandCount() << ", auto power-up " << (sim.AutoPowerUp() ? "on" : "off")
      << ", baud " << (sim.Baud() > 0 ? std::to_string(sim.Baud()) : std::string("unpaced")) << "\n";
    s << "image " << sim.ReceivedImage().size() << " bytes" << (sim.ImageComplete() ? " complete" : "")
      << ", blocks " << sim.Blocks().size() << ", handshakes B " << l.bootRequests << " P "
      << l.loaderRequests << ", transfers " << l.transfersCompleted << "/" << l.transfersStarted << "\n";
    s << "faults: silent " << f.silent << ", error for";
    for (const auto& e : f.errorFor)
        s << " " << e;
    s << ", slow " << f.replyDelayMs << " ms, chunk " << f.chunkSize << ", split";
    for (auto at : f.splitAt)
        s << " " << at;
    s << ", gap " << f.chunkGapMs << " ms, noise " << f.noise << ", reject block " << f.rejectBlock
      << ", drop answer " << f.dropAckBlock << ", err_ " << f.loaderErrors << ", close after "
      << f.closeAfterReplyBytes;
    say(s.str());
}

// One typed command; false to quit.
bool command(Simulator& sim, PortLink& link, const std::string& name, const std::string& line)
{
    std::istringstream in(line);
    std::string word, arg;
    in >> word;
    std::getline(in >> std::ws, arg);
    long n = 0;
    if (word.empty())
        return true;
    if (word == "q" || word == "quit")
        return false;
    if (word == "p") {
        sim.PowerCycle();
    } else if (word == "on") {
        sim.PowerOn();
    } else if (word == "off") {
        sim.PowerOff();
    } else if (word == "a") {
        sim.SetAutoPowerUp(!sim.AutoPowerUp());
    } else if (word == "s") {
        sim.UpdateFaults([](Faults& f) { f.silent = !f.silent; });
    } else if (word == "e") {
        sim.UpdateFaults([&](Faults& f) {
            if (arg.empty())
                f.errorFor.clear();
            else
                f.errorFor.push_back(arg);
        });
    } else if (word == "w" && ParseCount(arg, n)) {
        sim.UpdateFaults([&](Faults& f) { f.replyDelayMs = static_cast<int>(n); });
    } else if (word == "k" && ParseCount(arg, n)) {
        sim.UpdateFaults([&](Faults& f) { f.chunkSize = static_cast<std::size_t>(n); });
    } else if (word == "t") {
        std::vector<std::size_t> at;
        if (!arg.empty() && !toSizes(arg, at)) {
            say("t wants offsets like 5,12");
            return true;
        }
        sim.UpdateFaults([&](Faults& f) { f.splitAt = at; });
    } else if (word == "g" && ParseCount(arg, n)) {
        sim.UpdateFaults([&](Faults& f) { f.chunkGapMs = static_cast<int>(n); });
    } else if (word == "n") {
        sim.UpdateFaults([](Faults& f) { f.noise = !f.noise; });
    } else if (word == "r" && ParseCount(arg, n)) {
        sim.UpdateFaults([&](Faults& f) { f.rejectBlock = static_cast<int>(n); });
    } else if (word == "d" && ParseCount(arg, n)) {
        sim.UpdateFaults([&](Faults& f) { f.dropAckBlock = static_cast<int>(n); });
    } else if (word == "x" && ParseCount(arg, n)) {
        sim.UpdateFaults([&](Faults& f) { f.loaderErrors = static_cast<int>(n); });
    } else if (word == "c") {
        if (arg.empty())
            sim.CloseLine();
        else if (ParseCount(arg, n))
            sim.UpdateFaults([&](Faults& f) { f.closeAfterReplyBytes = n; });
    } else if (word == "o") {
        link.remove();
        sim.Stop();
        if (!sim.Start()) {
            say("halden-sim: cannot open a pseudo-terminal");
            return false;
        }
        link.create(name, sim.PortPath());
        const std::string linked = link.path();
        say("port " + sim.PortPath() + (linked.empty() ? "" : " (link " + linked + ")"));
    } else if (word == "b" && ParseCount(arg, n)) {
        sim.SetBaud(static_cast<int>(n));
    } else if (word == "poll") {
        // poll 01 03 00 00 00 02 C4 0B 1000: the frame, then the period.
        const std::size_t cut = arg.find_last_of(' ');
        std::string frame;
        if (arg.empty()) {
            sim.StopPolling();
            say("polling stopped after " + std::to_string(sim.PollsSent()) + " frames");
            return true;
        }
        if (cut == std::string::npos || !ParseCount(arg.substr(cut + 1), n) || n < 1 ||
            pell::ParseHexText(arg.substr(0, cut), 5120, frame) != pell::HexParse::Ok || frame.empty()) {
            say("poll wants hex bytes and a period in ms, like: poll 01 03 00 00 00 02 C4 0B 1000");
            return true;
        }
        sim.StartPolling(frame, static_cast<int>(n));
        say("polling every " + std::to_string(n) + " ms: " + readable(frame));
        return true;
    } else if (word == "flood") {
        std::istringstream a(arg);
        std::string seconds, rate;
        a >> seconds >> rate;
        long baudRate = sim.Baud() > 0 ? sim.Baud() : 115200;
        if (seconds.empty()) {
            sim.StopFlood();
            say("flood stopped after " + std::to_string(sim.FloodBytes()) + " bytes");
            return true;
        }
        if (!ParseCount(seconds, n) || n > 86400 || (!rate.empty() && (!ParseCount(rate, baudRate) || baudRate < 10))) {
            say("flood wants seconds and optionally a baud rate, like: flood 10 921600");
            return true;
        }
        sim.StartFlood(static_cast<int>(n * 1000), static_cast<int>(baudRate));
        say("flooding for " + std::to_string(n) + " s at " + std::to_string(baudRate) + " baud");
        return true;
    } else if (word == "i") {
        printStatus(sim);
        return true;
    } else if (word == "h" || word == "?" || word == "help") {
        say(kCommands);
        return true;
    } else {
        say("unknown command; h for help");
        return true;
    }
    printStatus(sim);
    return true;
}

// Takes typed commands until one quits or a signal comes; without typed
// input only the signal ends it.
void serveTypedCommands(Simulator& sim, PortLink& link, const std::string& name)
{
    bool stdinOpen = ::fcntl(STDIN_FILENO, F_GETFD) != -1;
    std::string pending;
    bool quit = false;
    while (!quit) {
        struct pollfd p[2] = {{signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        int r = ::poll(p, stdinOpen ? 2 : 1, -1);
        if (r < 0 && errno != EINTR)
            break;
        if (p[0].revents & POLLIN) {
            say("halden-sim: signal, stopping");
            break;
        }
        if (stdinOpen && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[512];
            ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                // No more typed commands: serve until a signal ends us.
                stdinOpen = false;
                continue;
            }
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t eol;
            while (!quit && (eol = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                quit = !command(sim, link, name, line);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    pell::sim::ProgramSettings settings;
    if (const std::optional<int> exit = pell::sim::ParseProgramOptions(argc, argv, settings))
        return *exit;
    const std::string& name = settings.name;
    const bool autoPower = settings.options.autoPowerUp;
    const bool powered = settings.powered;
    quiet = settings.quiet;

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("halden-sim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator sim(settings.options);
    PortLink link;
    sim.SetObserver([&link](Traffic kind, const std::string& bytes) {
        // A closed line's terminal number may soon be another program's.
        if (kind == Traffic::Event && bytes == "line closed")
            link.remove();
        if (quiet && kind != Traffic::Event)
            return;
        const char* tag = kind == Traffic::Received ? "<- " : kind == Traffic::Sent ? "-> " : "** ";
        say(stamp() + " " + tag + (kind == Traffic::Event ? bytes : readable(bytes)));
    });
    if (!sim.Start()) {
        std::fprintf(stderr, "halden-sim: cannot open a pseudo-terminal\n");
        return 1;
    }
    link.create(name, sim.PortPath());
    const std::string linked = link.path();
    say("halden-sim: port " + sim.PortPath() + (linked.empty() ? "" : " (link " + linked + ")"));
    if (powered)
        sim.PowerOn();
    say(std::string("device ") + (powered ? "on" : "off") +
        (autoPower ? ", powers up when the tool's handshake bytes arrive" : "") +
        "; p + Enter switches it off and on");
    const bool interactive = ::isatty(STDIN_FILENO) == 1;
    if (interactive)
        say(kCommands);
    for (const auto& c : settings.startCommands)
        if (!command(sim, link, name, c))
            return 0;

    serveTypedCommands(sim, link, name);
    link.remove();
    sim.Stop();
    say("halden-sim: stopped");
    return 0;
}

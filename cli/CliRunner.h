#pragma once
// halden's commands on the core: each opens the port, runs the same jobs as
// the window (the configuration worker's, or the download session's) and
// reports on the terminal. No exception, no partial file, a documented exit
// status for every outcome (see HelpText).
#include "common/Clock.h"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace pell {
class ParamTable;
}

namespace pell::cli {

enum ExitStatus {
    kExitOk = 0,
    kExitDiffer = 1,
    kExitUsage = 2,
    kExitPort = 3,
    kExitSilent = 4,
    kExitRefused = 5,
    kExitFile = 6,
    kExitInterrupted = 130,
};

// Ctrl-C: raised once from the signal thread (or a test); every wait of a
// command watches it.
class Interrupt {
public:
    void Raise();
    bool Raised() const { return raised_.load(std::memory_order_acquire); }
    // An event to set on Raise (and at once when already raised).
    void Watch(Event* event);
    void Unwatch(Event* event);

private:
    std::atomic<bool> raised_{false};
    std::mutex m_;
    std::vector<Event*> events_;
};

struct CliEnv {
    std::ostream* out = nullptr;   // results (stdout)
    std::ostream* err = nullptr;   // messages and the progress bar (stderr)
    // The engine's waits for replies, and (when given) its pause after one.
    const Clock* clock = &systemClock();
    const Clock* pauseClock = nullptr;
    // How long halden waits for the controller to enter configuration mode
    // and for the boot loader (--wait).
    const Clock* waitClock = &systemClock();
    Interrupt* interrupt = nullptr;
    // Draw the progress bar with carriage returns (stderr is a terminal).
    bool progressBar = false;
    // The ports to choose from without --port (default: the port list).
    std::function<std::vector<std::string>()> listPorts;
    // Called with the session's parameter values once its configuration
    // jobs have stopped, as the session ends (none: nobody asks).
    std::function<void(const ParamTable& values)> valuesAtEnd;
};

// Runs one command line (without the program name); returns the exit status.
int RunCli(const std::vector<std::string>& args, CliEnv& env);

} // namespace pell::cli

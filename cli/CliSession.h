#pragma once
// One run of a halden command: the port it opens, the configuration page's
// jobs on that port, configuration mode and the waits (CliSession.cpp), the
// terminal's streams, and how a job's outcomes become messages and exit
// statuses (CliOutcomes.cpp). The commands (CliCommands.h) are functions on
// it.
#include "cli/CliArgs.h"
#include "cli/CliConfigView.h"
#include "cli/CliRunner.h"
#include "config/ConfigController.h"
#include "config/JobResult.h"
#include "protocol/CommandEngine.h"
#include "serial/CSerial.h"
#include "serial/ReceiveDispatcher.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace pell::cli {

// Keeps an event on the interrupt's list for a scope.
class Watching {
public:
    Watching(Interrupt* interrupt, Event& event) : interrupt_(interrupt), event_(event)
    {
        if (interrupt_)
            interrupt_->Watch(&event_);
    }
    ~Watching()
    {
        if (interrupt_)
            interrupt_->Unwatch(&event_);
    }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

private:
    Interrupt* interrupt_;
    Event& event_;
};

// The configuration page of the window without its window: the engine on
// the port, the controller with its worker, and the receive dispatch thread
// that hands it the controller's bytes. Stopped in reverse order.
struct ConfigLink {
    ConfigLink(CSerial& port, const CliEnv& env);
    ~ConfigLink();
    ConfigLink(const ConfigLink&) = delete;
    ConfigLink& operator=(const ConfigLink&) = delete;
    void Start();

    CommandEngine engine;
    CliConfigView view;
    // The pages' request texts (clock, counters, records, serial meters).
    RequestText requests[kRequestSlotCount];
    std::atomic<RequestText*> recordsRequest{nullptr};
    ConfigController controller;
    ReceiveDispatcher dispatcher;
    std::function<void(const ParamTable& values)> valuesAtEnd; // CliEnv's
};

class Session {
public:
    Session(const CliOptions& options, CliEnv& env) : o_(options), env_(env), out_(*env.out), err_(*env.err) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const CliOptions& Options() const { return o_; }
    const CliEnv& Env() const { return env_; }
    // Results; messages and the progress bar. A job's worker writes to both
    // under ErrMutex() (the command sink, the verbose log, the flash view).
    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }
    std::mutex& ErrMutex() { return errMutex_; }

    bool Interrupted() const { return env_.interrupt && env_.interrupt->Raised(); }
    // "halden: message" on stderr (with --json also the failure on stdout);
    // returns `status`.
    int Fail(int status, const std::string& message);
    int InterruptedExit();

    // The port of --port (or the first one listed), 8N1 at --baud: kExitOk,
    // or the failure's status after its message.
    int OpenPort();
    CSerial& Port() { return port_; }
    const std::string& PortName() const { return portName_; }

    // Opens the port, starts the configuration jobs on it and asks the
    // controller into configuration mode, then reads its parameters back.
    int StartConfig();
    ConfigLink& Link() { return *link_; }
    // What the read-back after entering configuration mode found.
    const JobResult& ReadBack() const { return readBack_; }
    // What that read-back's report lacked, for messages.
    std::string ReportShortfall() const;
    // Whether the read-back gave the parameter's value (ids outside the
    // configurable range always count as known).
    bool Known(int id) const;

    // Waits until the worker has run the job started after `runsBefore`.
    int AwaitJob(int runsBefore);

    // Exit status and message for a command that was not confirmed.
    int FailFor(const CommandOutcome& c);
    // Prints each command of a job and its outcome as it ends.
    void PrintCommands();
    // Exit status and message for the commands a job sent.
    int CommandsOutcome(const std::vector<CommandOutcome>& sent);
    // The boxes a job showed since `before`, on stderr.
    void PrintBoxes(std::size_t before);

private:
    int enterConfigurationMode();
    void warnPartial();

    const CliOptions& o_;
    CliEnv& env_;
    std::ostream& out_;
    std::ostream& err_;
    std::mutex errMutex_;
    std::string portName_;
    // Declared before the link: the port closes after everything on it stopped.
    CSerial port_;
    std::unique_ptr<ConfigLink> link_;
    JobResult readBack_;
};

// The first command of a job whose line went away, or null.
const CommandOutcome* LineLost(const JobResult& result);
// A command's line as the terminal shows it.
std::string CommandText(const CommandOutcome& c);
// A parameter's label (GBK; empty for an id without one).
std::string ParameterLabel(int id);
// The labels of configurable parameters, UTF-8, separated by ", ".
std::string Labels(const std::vector<int>& ids);
// A parameter's value in the table (GBK).
std::string TableValue(const ParamTable& values, int id);

} // namespace pell::cli

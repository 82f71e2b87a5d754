#include "cli/CliRunner.h"

#include "cli/CliArgs.h"
#include "cli/CliConfigView.h"
#include "cli/CliText.h"
#include "cli/ConfigFileIo.h"
#include "cli/FlashView.h"
#include "common/FileIo.h"
#include "config/ConfigController.h"
#include "config/ConfigFile.h"
#include "config/ConfigJobs.h"
#include "config/ConfigTexts.h"
#include "download/DownloadSession.h"
#include "pages/ClockRequest.h"
#include "pages/HistoryRecords.h"
#include "download/DownloadTexts.h"
#include "protocol/CommandEngine.h"
#include "protocol/CommandTable.h"
#include "serial/CSerial.h"
#include "serial/PortList.h"
#include "serial/ReceiveDispatcher.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace pell::cli {

void Interrupt::Raise()
{
    std::lock_guard<std::mutex> lock(m_);
    raised_.store(true, std::memory_order_release);
    for (Event* e : events_)
        e->set();
}

void Interrupt::Watch(Event* event)
{
    std::lock_guard<std::mutex> lock(m_);
    events_.push_back(event);
    if (raised_.load())
        event->set();
}

void Interrupt::Unwatch(Event* event)
{
    std::lock_guard<std::mutex> lock(m_);
    events_.erase(std::remove(events_.begin(), events_.end(), event), events_.end());
}

namespace {

constexpr std::chrono::milliseconds kPoll{50};

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
    ConfigLink(CSerial& port, const CliEnv& env)
        : engine(port, *env.clock, env.pauseClock),
          controller(view, port, engine,
                     [this](RequestSlot slot) {
                         // The records page's request lives with its records.
                         if (slot == RequestSlot::Records)
                             return recordsRequest.load();
                         return &requests[static_cast<std::size_t>(slot)];
                     }),
          dispatcher(port)
    {
    }
    ~ConfigLink()
    {
        dispatcher.Stop();
        controller.Stop();
    }
    void Start()
    {
        dispatcher.SetConfigReceiver(&controller);
        controller.Start();
        dispatcher.Start();
    }

    CommandEngine engine;
    CliConfigView view;
    // The pages' request texts (clock, counters, records, serial meters).
    RequestText requests[10];
    std::atomic<RequestText*> recordsRequest{nullptr};
    ConfigController controller;
    ReceiveDispatcher dispatcher;
};

// "YYYY/MM/DD hh:mm:ss" (month, day and hour may have one digit) naming a
// date of the calendar and a time of the day, and nothing else: the date
// and the time texts, or nothing.
std::optional<std::pair<std::string, std::string>> RealClockText(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                    &used) != 6 ||
        static_cast<std::size_t>(used) != text.size())
        return std::nullopt;
    // Only digits where numbers stand (sscanf would take signs and blanks).
    for (char c : text)
        if (!(c >= '0' && c <= '9') && c != '/' && c != ':' && c != ' ')
            return std::nullopt;
    if (text.find("  ") != std::string::npos || text.front() == ' ')
        return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || year > 2099 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::size_t blank = text.find(' ');
    return std::make_pair(text.substr(0, blank), text.substr(blank + 1));
}

std::string parameterLabel(int id)
{
    const char* label = ParamLabel(id);
    return label ? label : "";
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string looseLabel(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == ':'))
        text.pop_back();
    const std::size_t start = text.find_first_not_of(' ');
    return lower(start == std::string::npos ? std::string() : text.substr(start));
}

class Runner {
public:
    Runner(const CliOptions& o, CliEnv& env) : o_(o), env_(env), out_(*env.out), err_(*env.err) {}

    int Run()
    {
        switch (o_.verb) {
        case Verb::Read: return read();
        case Verb::Write: return write();
        case Verb::Diff: return diff();
        case Verb::Get: return get();
        case Verb::Set: return set();
        case Verb::Flash: return flash();
        case Verb::Version: return maintenance(kJobVersion, false);
        case Verb::Signal: return maintenance(kJobSignal, false);
        case Verb::Restart: return maintenance(kJobRestart, false);
        case Verb::Factory: return maintenance(kJobFactory, false);
        case Verb::ClearCache: return maintenance(kJobClearCache, true);
        case Verb::ClearMeter: return maintenance(kJobClearMeter, true);
        case Verb::Clock: return clock();
        case Verb::Counter:
        case Verb::Meter: return initialValue();
        case Verb::Records: return records();
        case Verb::None: break;
        }
        return kExitUsage;
    }

private:
    bool interrupted() const { return env_.interrupt && env_.interrupt->Raised(); }

    int fail(int status, const std::string& message)
    {
        err_ << "halden: " << message << "\n";
        if (o_.json)
            out_ << "{\"ok\":false,\"status\":" << status << ",\"error\":" << JsonString(message) << "}\n";
        out_.flush();
        err_.flush();
        return status;
    }

    int interruptedExit()
    {
        return fail(kExitInterrupted, "interrupted; the port is closed and no file was written");
    }

    // ---- the port ----

    int openPort()
    {
        portName_ = o_.port;
        if (portName_.empty()) {
            const std::vector<std::string> ports = env_.listPorts ? env_.listPorts() : ListSerialPorts();
            if (ports.empty())
                return fail(kExitPort, "no serial port found; plug in the adapter or name one with --port");
            portName_ = ports.front();
        }
        if (port_.OpenPort(portName_, o_.baud, NOPARITY, 8, ONESTOPBIT))
            return kExitOk;
        const OpenError error = port_.LastOpenError();
        const std::string detail = port_.LastOpenDetail();
        port_.ClosePort(); // a port opened with settings it refused is closed again
        switch (error) {
        case OpenError::NotFound:
        case OpenError::InvalidName:
            return fail(kExitPort, "serial port " + portName_ + " does not exist (" + detail + ")");
        case OpenError::Busy:
            return fail(kExitPort, "serial port " + portName_ +
                                       " is busy: another program (the window, a terminal, another "
                                       "halden) has it open (" + detail + ")");
        case OpenError::NotASerialLine:
            // The detail says what it is instead (this terminal, a file, ...).
            return fail(kExitPort, "refusing to use " + portName_ + " as the controller's port: " + detail +
                                       "; name the serial adapter's port (ttyUSB0, ttyS0, ...)");
        case OpenError::PermissionDenied:
            // The detail names the group that owns the device.
            return fail(kExitPort, "no permission to open serial port " + portName_ +
                                       "; join the group that owns it (" + detail +
                                       "): sudo usermod -aG " + detail + " $USER, then log in again");
        default:
            return fail(kExitPort, "serial port " + portName_ + " cannot be used at " +
                                       std::to_string(o_.baud) + " baud 8N1 (" + detail + ")");
        }
    }

    // ---- configuration mode and jobs ----

    int startConfig()
    {
        if (int status = openPort())
            return status;
        link_ = std::make_unique<ConfigLink>(port_, env_);
        if (o_.verbose)
            link_->view.SetLogSink([this](std::string_view text) {
                std::lock_guard<std::mutex> lock(errMutex_);
                err_ << GbkToUtf8(TrimLineBreaks(text)) << "\n";
                err_.flush();
            });
        link_->Start();
        return enterConfigurationMode();
    }

    // The window's "重新加载": 'S' every 50 ms until the controller says
    // "CONFIGURE PROGRAM", then job 1 (AT, then the read-back).
    int enterConfigurationMode()
    {
        ConfigController& controller = link_->controller;
        const int runsBefore = controller.Worker().JobsRun();
        controller.OnReloadButton();
        if (controller.JobState() != kJobWaiting)
            return fail(kExitPort, "serial port " + portName_ + " is not open");
        {
            std::lock_guard<std::mutex> lock(errMutex_);
            err_ << "Waiting for the controller on " << portName_
                 << " to enter configuration mode: switch it off and on again now";
            if (o_.waitSeconds > 0)
                err_ << " (halden gives up after " << o_.waitSeconds << " s)";
            err_ << ".\n";
            err_.flush();
        }
        Event left;
        Watching watch(env_.interrupt, left);
        WorkerThread ticker;
        ticker.Start(
            [&] {
                while (!ticker.Stopping()) {
                    if (controller.JobState() != kJobWaiting) {
                        left.set();
                        return;
                    }
                    controller.OnTimerTick();
                    ticker.Wake().waitFor(kPoll);
                }
            },
            "cli-ticker");
        bool entered = true;
        if (o_.waitSeconds > 0)
            entered = env_.waitClock->waitFor(left, o_.waitSeconds * 1000);
        else
            left.wait();
        ticker.Stop();
        if (interrupted() || !entered || controller.JobState() == kJobWaiting) {
            if (controller.JobState() == kJobWaiting)
                controller.OnReloadButton(); // cancels the wait
            if (interrupted())
                return interruptedExit();
            if (controller.JobState() == kJobWaiting || !entered)
                return fail(kExitSilent,
                            "the controller did not enter configuration mode within " +
                                std::to_string(o_.waitSeconds) +
                                " s (no \"CONFIGURE PROGRAM\" after 'S'); check the cable, the port "
                                "and the line speed, and switch the controller off and on while "
                                "halden waits");
        }
        if (int status = awaitJob(runsBefore))
            return status;
        readBack_ = controller.Worker().LastResult();
        if (const CommandOutcome* lost = lineLost(readBack_))
            return failFor(*lost);
        switch (readBack_.readback) {
        case ReadbackStatus::Whole:
            if (controller.Worker().ValuesGiven())
                return kExitOk;
            break;
        case ReadbackStatus::Partial:
            // The commands decide what a report that lacked parameters means
            // for them; the user hears of it in any case.
            warnPartial();
            return kExitOk;
        case ReadbackStatus::Failed:
            return fail(kExitSilent, "the controller answered AT but its parameter report (AT+SHOW) "
                                     "could not be read in 9 attempts");
        case ReadbackStatus::NotRun:
            break;
        }
        return fail(kExitSilent, "the controller entered configuration mode but did not confirm AT "
                                 "(10 attempts)");
    }

    static const CommandOutcome* lineLost(const JobResult& result)
    {
        for (const CommandOutcome& c : result.commands)
            if (c.status == CommandStatus::LineLost)
                return &c;
        return nullptr;
    }

    static std::string commandText(const CommandOutcome& c)
    {
        return GbkToUtf8(TrimLineBreaks(c.line));
    }

    // The labels of configurable parameters, UTF-8, separated by ", ".
    static std::string labels(const std::vector<int>& ids)
    {
        std::string text;
        for (int id : ids)
            text += (text.empty() ? "" : ", ") + GbkToUtf8(parameterLabel(id));
        return text;
    }

    // What the last read-back's report lacked, for messages.
    std::string reportShortfall() const
    {
        if (!readBack_.report)
            return "no report";
        const ReportReading& r = *readBack_.report;
        std::string text;
        if (!r.missing.empty())
            text = std::to_string(r.missing.size()) + " parameter(s) missing (" + labels(r.missing) + ")";
        if (!r.unplaced.empty())
            text += (text.empty() ? "" : "; ") + std::to_string(r.unplaced.size()) + " line(s) no label fits";
        return text;
    }

    void warnPartial()
    {
        std::lock_guard<std::mutex> lock(errMutex_);
        err_ << "halden: the controller's parameter report was not whole: " << reportShortfall() << "\n";
        if (readBack_.report)
            for (const std::string& line : readBack_.report->unplaced)
                err_ << "  unplaced: " << GbkToUtf8(line) << "\n";
        err_.flush();
    }

    bool known(int id) const
    {
        return id < kFirstParamId || id > kLastParamId || link_->controller.Worker().Known().Known(id);
    }

    // Exit status and message for a command that was not confirmed.
    int failFor(const CommandOutcome& c)
    {
        const std::string line = commandText(c);
        switch (c.status) {
        case CommandStatus::Confirmed:
            return kExitOk;
        case CommandStatus::Refused:
            return fail(kExitRefused, "the controller refused " + line);
        case CommandStatus::AnsweredLate:
            return fail(kExitRefused, "the controller did not confirm " + line +
                                          " in time (its answer came after the time-out)");
        case CommandStatus::Unanswered:
            return fail(kExitSilent, "the controller did not confirm " + line);
        case CommandStatus::LineLost:
            return fail(kExitPort, "the port went away during " + line + "; check the cable and the adapter");
        case CommandStatus::NotSent:
        case CommandStatus::Cancelled:
            break;
        }
        return fail(kExitRefused, line + " was not sent");
    }

    // Waits until the worker has run the job started after `runsBefore`.
    int awaitJob(int runsBefore)
    {
        ConfigController& controller = link_->controller;
        Event& idle = link_->view.Idle();
        Watching watch(env_.interrupt, idle);
        while (controller.Worker().JobsRun() <= runsBefore) {
            if (interrupted()) {
                // The job's remaining commands fail at once; nothing more goes out.
                controller.Stop();
                return interruptedExit();
            }
            idle.waitFor(kPoll);
            idle.reset();
        }
        return interrupted() ? interruptedExit() : kExitOk;
    }

    // Prints each command of a job and its outcome as it ends.
    void printCommands()
    {
        link_->view.SetCommandSink([this](const CommandOutcome& c) {
            static constexpr const char* kWhy[] = {"", " (refused: ERROR)", " (no answer)",
                                                   " (answered late, after the time-out)",
                                                   " (the port went away)", " (not sent)", " (stopped)"};
            std::lock_guard<std::mutex> lock(errMutex_);
            out_ << commandText(c) << "  "
                 << GbkToUtf8(TrimLineBreaks(c.Confirmed() ? configtext::kSetOk : configtext::kSetFailed))
                 << kWhy[static_cast<int>(c.status)] << "\n";
            out_.flush();
        });
    }

    // Exit status and message for the commands a job sent.
    int commandsOutcome(const std::vector<CommandOutcome>& sent)
    {
        std::size_t confirmed = 0;
        const CommandOutcome* refused = nullptr;
        const CommandOutcome* unconfirmed = nullptr;
        for (const CommandOutcome& c : sent) {
            if (c.Confirmed())
                ++confirmed;
            else if (c.status == CommandStatus::Refused && !refused)
                refused = &c;
            else if (c.status != CommandStatus::Refused && !unconfirmed)
                unconfirmed = &c;
        }
        const std::string tally = " (" + std::to_string(sent.size() - confirmed) + " of " +
                                  std::to_string(sent.size()) + " commands not confirmed)";
        for (const CommandOutcome& c : sent)
            if (c.status == CommandStatus::LineLost)
                return fail(kExitPort, "the port went away during " + commandText(c) + tally);
        if (refused)
            return fail(kExitRefused, "the controller refused " + commandText(*refused) + tally);
        if (unconfirmed)
            return fail(kExitRefused, "the controller did not confirm " + commandText(*unconfirmed) + " (" +
                                          CommandStatusName(unconfirmed->status) + ")" + tally);
        return kExitOk;
    }

    // ---- parameters ----

    std::optional<int> resolveParameter(const std::string& target, bool configurableOnly, std::string& why)
    {
        const bool digits = !target.empty() && target.size() < 5 &&
                            std::all_of(target.begin(), target.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) {
            const int id = std::stoi(target);
            const bool configurable = id >= kFirstParamId && id <= kLastParamId && HasParamRow(id);
            if (configurable || (!configurableOnly && HasParamRow(id) && id != kEndRowId))
                return id;
            why = "no parameter has the id " + target +
                  (configurableOnly ? " (configurable ids: 0 to 144)" : " (ids: 0 to 144, 152 to 161)");
            return std::nullopt;
        }
        std::vector<int> loose;
        for (int row = 0; row < ParamRowCount(); ++row) {
            const int id = ParamRowId(row);
            if (id == kEndRowId)
                continue;
            if (configurableOnly && (id < kFirstParamId || id > kLastParamId))
                continue;
            if (target == ParamRowLabel(row))
                return id;
            if (looseLabel(target) == looseLabel(ParamRowLabel(row)))
                loose.push_back(id);
        }
        if (loose.size() == 1)
            return loose.front();
        why = loose.empty() ? "no parameter is labelled \"" + target + "\""
                            : "\"" + target + "\" names more than one parameter; give its id";
        return std::nullopt;
    }

    static std::string tableValue(int id)
    {
        std::string value;
        GetParamValue(id, value);
        return value;
    }

    int read()
    {
        if (int status = startConfig())
            return status;
        const bool partial = readBack_.readback == ReadbackStatus::Partial;
        if (partial && !o_.partial)
            return fail(kExitRefused, "the controller's parameter report was not whole (" + reportShortfall() +
                                          "); no file was written (--partial writes what it held)");
        // The same text the window saves after this read-back; after a
        // report that lacked parameters, without their lines.
        const std::string text = FormatConfigText([this](int id) { return known(id); });
        std::string why;
        if (!WriteFileAtomically(o_.output, text, &why))
            return fail(kExitFile, "cannot save the configuration: " + why);
        if (o_.json) {
            out_ << "{\"ok\":true,\"file\":" << JsonString(o_.output) << ",\"bytes\":" << text.size();
            if (partial) {
                out_ << ",\"partial\":true,\"missing\":[";
                const std::vector<int>& missing = readBack_.report->missing;
                for (std::size_t i = 0; i < missing.size(); ++i)
                    out_ << (i ? "," : "") << "{\"id\":" << missing[i]
                         << ",\"label\":" << JsonString(GbkToUtf8(parameterLabel(missing[i]))) << "}";
                out_ << "]";
            }
            out_ << ",\"parameters\":[";
            bool first = true;
            for (int row = 0; row < ParamRowCount(); ++row) {
                const int id = ParamRowId(row);
                if (id == kEndRowId || !known(id))
                    continue;
                out_ << (first ? "" : ",") << "{\"id\":" << id << ",\"label\":"
                     << JsonString(GbkToUtf8(ParamRowLabel(row)))
                     << ",\"value\":" << JsonString(GbkToUtf8(tableValue(id))) << "}";
                first = false;
            }
            out_ << "]}\n";
        } else {
            out_ << "saved the controller's parameters to " << o_.output << " (" << text.size()
                 << " bytes)\n";
            if (partial)
                err_ << "the file holds only what the report held: " << reportShortfall() << "\n";
        }
        out_.flush();
        return kExitOk;
    }

    int loadFile(std::string& bytes, FileValues& values)
    {
        std::string why;
        if (!ReadConfigFileValues(o_.file, bytes, values, why))
            return fail(kExitFile, "cannot use the configuration file: " + why);
        return kExitOk;
    }

    struct Difference {
        int id;
        std::string controller, file;
    };

    // Configurable parameters the file names with another value than the
    // controller's (the table after a read-back).
    static std::vector<Difference> differences(const FileValues& values)
    {
        std::vector<Difference> out;
        for (const auto& [id, value] : values) {
            if (id < kFirstParamId || id > kLastParamId)
                continue;
            std::string controller = tableValue(id);
            if (controller != value)
                out.push_back({id, std::move(controller), value});
        }
        return out;
    }

    int diff()
    {
        std::string bytes;
        FileValues values;
        if (int status = loadFile(bytes, values))
            return status;
        if (int status = startConfig())
            return status;
        std::vector<int> unknown;
        for (const auto& [id, value] : values)
            if (id >= kFirstParamId && id <= kLastParamId && !known(id))
                unknown.push_back(id);
        if (!unknown.empty())
            return fail(kExitRefused, "the controller's parameter report lacked " + labels(unknown) +
                                          ", which the file names; they cannot be compared");
        const std::vector<Difference> found = differences(values);
        if (o_.json) {
            out_ << "{\"ok\":true,\"equal\":" << (found.empty() ? "true" : "false") << ",\"differences\":[";
            for (std::size_t i = 0; i < found.size(); ++i)
                out_ << (i ? "," : "") << "{\"id\":" << found[i].id
                     << ",\"label\":" << JsonString(GbkToUtf8(parameterLabel(found[i].id)))
                     << ",\"controller\":" << JsonString(GbkToUtf8(found[i].controller))
                     << ",\"file\":" << JsonString(GbkToUtf8(found[i].file)) << "}";
            out_ << "]}\n";
        } else {
            for (const Difference& d : found)
                out_ << GbkToUtf8(parameterLabel(d.id)) << "  controller \"" << GbkToUtf8(d.controller)
                     << "\"  file \"" << GbkToUtf8(d.file) << "\"\n";
            err_ << (found.empty() ? std::string("the controller equals ") + o_.file
                                   : std::to_string(found.size()) + " parameter(s) differ from " + o_.file)
                 << "\n";
        }
        out_.flush();
        return found.empty() ? kExitOk : kExitDiffer;
    }

    int write()
    {
        std::string bytes;
        FileValues values;
        if (int status = loadFile(bytes, values))
            return status;
        if (int status = startConfig())
            return status;
        const std::vector<Difference> found = differences(values);
        if (o_.dryRun) {
            for (const Difference& d : found) {
                // The line the write would build: the command and the file's value.
                SetParamValue(d.id, d.file);
                std::string line;
                link_->engine.FormatCommand(d.id, line);
                SetParamValue(d.id, d.controller);
                out_ << GbkToUtf8(TrimLineBreaks(line)) << "\n";
            }
            err_ << found.size() << " command(s) would be sent; nothing was sent\n";
            out_.flush();
            return kExitOk;
        }
        printCommands();
        ConfigController& controller = link_->controller;
        const int runsBefore = controller.Worker().JobsRun();
        // The window's "从配置文件配置": the file into the table, then job 18
        // sends what differs from what the page shows (the read-back).
        const bool queued = controller.OnConfigureFromFile(
            [&] { return ParseConfigText(bytes.data(), bytes.size()); });
        if (!queued)
            return fail(kExitFile, "the configuration file was not applied");
        if (int status = awaitJob(runsBefore))
            return status;
        const std::vector<CommandOutcome> sent = controller.Worker().LastResult().commands;
        err_ << sent.size() << " command(s) sent" << (sent.empty() ? ": the controller equals the file" : "")
             << "\n";
        return commandsOutcome(sent);
    }

    int get()
    {
        std::string why;
        const std::optional<int> id = resolveParameter(o_.target, false, why);
        if (!id)
            return fail(kExitUsage, why);
        if (int status = startConfig())
            return status;
        if (!known(*id))
            return fail(kExitRefused, "the controller's parameter report lacked " + parameterLabel(*id) +
                                          "; its value is not known");
        const std::string value = GbkToUtf8(tableValue(*id));
        if (o_.json)
            out_ << "{\"ok\":true,\"id\":" << *id << ",\"label\":" << JsonString(GbkToUtf8(parameterLabel(*id)))
                 << ",\"value\":" << JsonString(value) << "}\n";
        else
            out_ << value << "\n";
        out_.flush();
        return kExitOk;
    }

    int set()
    {
        std::string why;
        const std::optional<int> id = resolveParameter(o_.target, true, why);
        if (!id)
            return fail(kExitUsage, why);
        std::string value;
        if (!Utf8ToGbk(o_.value, value))
            return fail(kExitUsage, "the value is no UTF-8 text that code page 936 can carry");
        if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            return fail(kExitUsage, "the value must be one line");
        if (value.size() > static_cast<std::size_t>(kParamValueMax))
            return fail(kExitUsage, "the value has " + std::to_string(value.size()) +
                                        " bytes in code page 936; the controller keeps at most 99");
        if (int status = startConfig())
            return status;
        if (known(*id) && tableValue(*id) == value) {
            out_ << parameterLabel(*id) << " is already " << o_.value << "; nothing sent\n";
            return kExitOk;
        }
        printCommands();
        // The window's "保存参数" after one edit: job 2 sends what the page
        // shows differently from the table.
        ConfigController& controller = link_->controller;
        const int runsBefore = controller.Worker().JobsRun();
        link_->view.Edit(*id, value);
        // The value is the user's own, whatever the report held.
        controller.Worker().Known().Set(*id, true);
        controller.OnJobButton(kJobWrite);
        if (int status = awaitJob(runsBefore))
            return status;
        const std::vector<CommandOutcome> sent = controller.Worker().LastResult().commands;
        if (sent.empty())
            return fail(kExitRefused, "nothing was sent");
        return commandsOutcome(sent);
    }

    // ---- maintenance, clock, initial values ----

    // The controller's answer without the OK or error reply at its end and
    // without the command line a controller may echo in front of it.
    static std::string answerBody(const CommandOutcome& c)
    {
        std::string body = c.reply;
        for (bool cut = true; cut;) {
            cut = false;
            for (const char* tail : {"\r\nOK\r\n", "\r\nERROR\r\n"}) {
                const std::string_view t(tail);
                if (body.size() >= t.size() && body.compare(body.size() - t.size(), t.size(), t) == 0) {
                    body.resize(body.size() - t.size());
                    cut = true;
                }
            }
        }
        const std::string echo(TrimLineBreaks(c.line));
        const std::size_t start = body.find_first_not_of("\r\n");
        if (start != std::string::npos && !echo.empty() && body.compare(start, echo.size(), echo) == 0)
            body.erase(0, start + echo.size());
        return std::string(TrimLineBreaks(body));
    }

    // The boxes a job showed since `before`, on stderr.
    void printBoxes(std::size_t before)
    {
        const std::vector<std::string> boxes = link_->view.Messages();
        for (std::size_t i = before; i < boxes.size(); ++i)
            err_ << GbkToUtf8(TrimLineBreaks(boxes[i])) << "\n";
        err_.flush();
    }

    // A button of the configuration page: its job, the controller's answer
    // and the box the job shows; the exit status from the job's result.
    int maintenance(int code, bool clearButton)
    {
        if (int status = startConfig())
            return status;
        CliConfigView& view = link_->view;
        view.SetYes(o_.yes);
        const std::size_t boxesBefore = view.Messages().size();
        const int runsBefore = link_->controller.Worker().JobsRun();
        if (clearButton)
            link_->controller.OnClearButton(code);
        else
            link_->controller.OnJobButton(code);
        if (link_->controller.JobState() == kJobIdle && link_->controller.Worker().JobsRun() == runsBefore)
            return fail(kExitRefused, "the job was not started");
        if (int status = awaitJob(runsBefore))
            return status;
        const JobResult result = link_->controller.Worker().LastResult();
        if (result.commands.empty())
            return fail(kExitRefused, "nothing was sent");
        // The job's own command comes first; a read-back may follow it.
        const CommandOutcome& command = result.commands.front();
        const std::string body = command.status == CommandStatus::Confirmed ||
                                         command.status == CommandStatus::Refused
                                     ? answerBody(command)
                                     : std::string();
        if (!body.empty())
            out_ << GbkToUtf8(body) << "\n";
        out_.flush();
        printBoxes(boxesBefore);
        if (code == kJobRestart && command.Confirmed())
            err_ << GbkToUtf8(TrimLineBreaks(configtext::kRestartNote)) << "\n";
        if (!command.Confirmed())
            return failFor(command);
        if (code == kJobFactory) {
            if (const CommandOutcome* lost = lineLost(result))
                return failFor(*lost);
            if (result.readback == ReadbackStatus::Partial)
                return fail(kExitRefused, "factory settings restored, but the parameter report read back "
                                          "was not whole");
            if (result.readback != ReadbackStatus::Whole)
                return fail(kExitSilent, "factory settings restored, but the parameters could not be read back");
        }
        return kExitOk;
    }

    // A page request (clock, counter, serial meter) taken by the worker.
    int request(RequestSlot slot, const std::string& text, bool read)
    {
        if (int status = startConfig())
            return status;
        CliConfigView& view = link_->view;
        const std::size_t boxesBefore = view.Messages().size();
        const int runsBefore = link_->controller.Worker().JobsRun();
        link_->requests[static_cast<std::size_t>(slot)].Set(text);
        if (int status = awaitJob(runsBefore))
            return status;
        const JobResult result = link_->controller.Worker().LastResult();
        if (read && result.answer)
            out_ << GbkToUtf8(TrimLineBreaks(*result.answer)) << "\n";
        out_.flush();
        printBoxes(boxesBefore);
        if (result.commands.empty())
            return fail(kExitRefused, "the request was not sent");
        return failFor(result.commands.front());
    }

    int clock()
    {
        std::string text = SystemClockRequest(LocalCivilTimeNow());
        if (!o_.clockText.empty()) {
            const std::optional<std::pair<std::string, std::string>> parts = RealClockText(o_.clockText);
            if (!parts)
                return fail(kExitUsage, "--set wants a real local time \"YYYY/MM/DD hh:mm:ss\" (got \"" +
                                            o_.clockText + "\")");
            const std::optional<int> weekday = LocalWeekday(ParsePickedDateTime(parts->first, parts->second));
            if (!weekday)
                return fail(kExitUsage, "--set names a time this computer cannot place: " + o_.clockText);
            text = ManualClockRequest(parts->first, parts->second, *weekday);
        }
        return request(RequestSlot::Clock, text, false);
    }

    int initialValue()
    {
        const bool counter = o_.verb == Verb::Counter;
        const int first = static_cast<int>(counter ? RequestSlot::Counter0 : RequestSlot::Serial0);
        const auto slot = static_cast<RequestSlot>(first + o_.index - 1);
        std::string text = "?";
        if (o_.hasValue) {
            std::string value;
            if (!Utf8ToGbk(o_.value, value) || value.empty())
                return fail(kExitUsage, "the value is no text that code page 936 can carry");
            if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos || value.size() > 98)
                return fail(kExitUsage, "the value must be one line of at most 98 bytes");
            text = "=" + value;
        }
        return request(slot, text, !o_.hasValue);
    }

    // ---- history records ----

    // The records page's "开始查询" with an export path: job 13 reads the
    // batches and, when the query succeeded, writes the CSV file whole.
    int records()
    {
        if (int status = startConfig())
            return status;
        auto records = std::make_shared<HistoryRecords>();
        OfferHistoryRecords(records);
        link_->recordsRequest.store(&records->request);
        const int runsBefore = link_->controller.Worker().JobsRun();
        int status = kExitOk;
        if (!records->StartQuery(o_.from, o_.to, o_.output, o_.output))
            status = fail(kExitRefused, "a records query is already running");
        else
            status = awaitJob(runsBefore);
        // The worker has let go of the records (the job ended or stopped).
        link_->controller.Stop();
        link_->recordsRequest.store(nullptr);
        WithdrawHistoryRecords(records.get());
        if (status != kExitOk)
            return status;
        const JobResult result = link_->controller.Worker().LastResult();
        if (!result.exportFailure.empty())
            return fail(kExitFile, GbkToUtf8(result.exportFailure));
        if (result.records != RecordsEnd::Done) {
            if (const CommandOutcome* lost = lineLost(result))
                return failFor(*lost);
            return fail(kExitSilent, "the records query failed (" + GbkToUtf8(recordtext::kQueryFailed) +
                                         "); nothing was written");
        }
        if (o_.json) {
            out_ << "{\"ok\":true,\"file\":" << JsonString(o_.output) << ",\"records\":" << records->RecordCount()
                 << ",\"rows\":[";
            std::istringstream lines(records->RecordText());
            std::string line;
            bool header = true, first = true;
            while (std::getline(lines, line)) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (header || line.empty()) {
                    header = false;
                    continue;
                }
                out_ << (first ? "" : ",") << "[";
                std::size_t start = 0;
                for (bool firstField = true;; firstField = false) {
                    const std::size_t end = line.find(';', start);
                    out_ << (firstField ? "" : ",")
                         << JsonString(GbkToUtf8(line.substr(start, end == std::string::npos ? end : end - start)));
                    if (end == std::string::npos)
                        break;
                    start = end + 1;
                }
                out_ << "]";
                first = false;
            }
            out_ << "]}\n";
        } else {
            out_ << "saved " << records->RecordCount() << " records to " << o_.output << "\n";
        }
        out_.flush();
        return kExitOk;
    }

    // ---- firmware ----

    int flash()
    {
        {
            DownloadImage probe;
            const DownloadImage::Result r = probe.Load(o_.file);
            if (r.status == DownloadImage::Status::FileError)
                return fail(kExitFile, "cannot read the image " + o_.file + ": " +
                                           (r.reason.empty() ? std::string(std::strerror(r.error)) : r.reason));
            if (r.status == DownloadImage::Status::BadLength)
                return fail(kExitFile, "the image " + o_.file + " must hold 1 to 1,048,575 bytes");
        }
        if (int status = openPort())
            return status;
        FlashView view(*env_.err, errMutex_, env_.progressBar, o_.verbose);
        DownloadSession session(view, port_, *env_.clock);
        ReceiveDispatcher dispatcher(port_);
        dispatcher.SetDownloadReceiver(&session);
        session.Init();
        dispatcher.Start();
        const auto began = std::chrono::steady_clock::now();
        const DownloadSession::Toggle started =
            session.ToggleDownload(o_.file, o_.boot ? downloadtext::kBootProgram : downloadtext::kApplication);
        int status = kExitOk;
        if (started == DownloadSession::Toggle::NoPort)
            status = fail(kExitPort, "serial port " + portName_ + " is not open");
        else if (started != DownloadSession::Toggle::Started)
            status = fail(kExitFile, "cannot read the image " + o_.file);
        else
            status = awaitDownload(session, view);
        dispatcher.Stop();
        session.Shutdown();
        view.EndBar();
        if (status != kExitOk)
            return status;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        if (o_.json)
            out_ << "{\"ok\":true,\"image\":" << JsonString(o_.file) << ",\"bytes\":" << view.ImageBytes()
                 << ",\"blocks\":" << view.Blocks() << ",\"restarts\":" << view.Restarts()
                 << ",\"seconds\":" << seconds << "}\n";
        else
            out_ << "download success ok: " << view.ImageBytes() << " bytes in " << view.Blocks()
                 << " blocks\n";
        out_.flush();
        return kExitOk;
    }

    // Wakes a wait when the port's line goes away.
    struct LineGoneAlarm : ILineWatcher {
        LineGoneAlarm(CSerial& port, Event& wake) : port_(port), wake_(wake) { port_.AddLineWatcher(this); }
        ~LineGoneAlarm() override { port_.RemoveLineWatcher(this); }
        LineGoneAlarm(const LineGoneAlarm&) = delete;
        LineGoneAlarm& operator=(const LineGoneAlarm&) = delete;
        void OnLineGone() override { wake_.set(); }
        CSerial& port_;
        Event& wake_;
    };

    int awaitDownload(DownloadSession& session, FlashView& view)
    {
        Event& progress = view.Progress();
        Watching watch(env_.interrupt, progress);
        LineGoneAlarm alarm(port_, progress);
        // The last block's confirmation ends the download; the session
        // resets its page on its own a moment later.
        while (session.IsDownloadActive() && !view.Succeeded()) {
            bool moved = true;
            if (o_.waitSeconds > 0)
                moved = env_.waitClock->waitFor(progress, o_.waitSeconds * 1000);
            else
                progress.wait();
            progress.reset();
            if (interrupted()) {
                if (session.IsDownloadActive())
                    session.OnDownloadButton({}, {}); // the page's "取消"
                return interruptedExit();
            }
            if (port_.IsLost() && !view.Succeeded()) {
                if (session.IsDownloadActive())
                    session.OnDownloadButton({}, {});
                return fail(kExitPort, "the port went away during the download (block " +
                                           std::to_string(view.Blocks()) +
                                           " confirmed); check the cable and flash again");
            }
            if (!moved && session.IsDownloadActive() && !view.Succeeded()) {
                session.OnDownloadButton({}, {});
                return fail(kExitSilent, view.Blocks() == 0 && !view.LoaderAnswered()
                                             ? "the boot loader did not answer within " +
                                                   std::to_string(o_.waitSeconds) +
                                                   " s; switch the controller off and on while halden waits"
                                             : "no block was accepted for " + std::to_string(o_.waitSeconds) +
                                                   " s; the download was cancelled");
            }
        }
        if (!view.Succeeded())
            return fail(kExitSilent, "the download ended without the boot loader's confirmation");
        return kExitOk;
    }

    const CliOptions& o_;
    CliEnv& env_;
    std::ostream& out_;
    std::ostream& err_;
    std::mutex errMutex_;
    std::string portName_;
    // Declared before the link: the port closes after everything on it stopped.
    CSerial port_;
    std::unique_ptr<ConfigLink> link_;
    // What the read-back after entering configuration mode found.
    JobResult readBack_;
};

} // namespace

int RunCli(const std::vector<std::string>& args, CliEnv& env)
{
    const ParsedArgs parsed = ParseArgs(args);
    if (!parsed.ok) {
        *env.err << "halden: " << parsed.error << "\n";
        env.err->flush();
        return kExitUsage;
    }
    if (parsed.options.help) {
        *env.out << HelpText(parsed.options.verb);
        env.out->flush();
        return kExitOk;
    }
    Runner runner(parsed.options, env);
    return runner.Run();
}

} // namespace pell::cli

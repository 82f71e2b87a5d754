// A halden session: the port, the configuration jobs on it, configuration
// mode and the waits that watch Ctrl-C. Its messages: CliOutcomes.cpp.
#include "cli/CliSession.h"

#include "cli/CliText.h"
#include "common/WorkerThread.h"
#include "config/ConfigJobs.h"
#include "serial/PortList.h"

#include <algorithm>
#include <chrono>

namespace pell::cli {

namespace {

constexpr std::chrono::milliseconds kPoll{50};

} // namespace

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

ConfigLink::ConfigLink(CSerial& port, const CliEnv& env)
    : engine(port, *env.clock, env.pauseClock),
      view(engine.Values()),
      controller(view, port, engine,
                 [this](RequestSlot slot) {
                     // The records page's request lives with its records.
                     if (slot == RequestSlot::Records)
                         return recordsRequest.load();
                     return &requests[static_cast<std::size_t>(slot)];
                 }),
      dispatcher(port),
      valuesAtEnd(env.valuesAtEnd)
{
    for (RequestText& request : requests)
        request.SetObserver(&controller.Worker().RequestWatcher());
}

ConfigLink::~ConfigLink()
{
    dispatcher.Stop();
    controller.Stop();
    for (RequestText& request : requests)
        request.SetObserver(nullptr);
    if (valuesAtEnd)
        valuesAtEnd(engine.Values());
}

void ConfigLink::Start()
{
    dispatcher.SetConfigReceiver(&controller);
    controller.Start();
    dispatcher.Start();
}

int Session::OpenPort()
{
    portName_ = o_.port;
    if (portName_.empty()) {
        const std::vector<std::string> ports = env_.listPorts ? env_.listPorts() : ListSerialPorts();
        if (ports.empty())
            return Fail(kExitPort, "no serial port found; plug in the adapter or name one with --port");
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
        return Fail(kExitPort, "serial port " + portName_ + " does not exist (" + detail + ")");
    case OpenError::Busy:
        return Fail(kExitPort, "serial port " + portName_ +
                                   " is busy: another program (the window, a terminal, another "
                                   "halden) has it open (" + detail + ")");
    case OpenError::NotASerialLine:
        // The detail says what it is instead (this terminal, a file, ...).
        return Fail(kExitPort, "refusing to use " + portName_ + " as the controller's port: " + detail +
                                   "; name the serial adapter's port (ttyUSB0, ttyS0, ...)");
    case OpenError::PermissionDenied:
        // The detail names the group that owns the device.
        return Fail(kExitPort, "no permission to open serial port " + portName_ +
                                   "; join the group that owns it (" + detail +
                                   "): sudo usermod -aG " + detail + " $USER, then log in again");
    default:
        return Fail(kExitPort, "serial port " + portName_ + " cannot be used at " +
                                   std::to_string(o_.baud) + " baud 8N1 (" + detail + ")");
    }
}

int Session::StartConfig()
{
    if (int status = OpenPort())
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
int Session::enterConfigurationMode()
{
    ConfigController& controller = link_->controller;
    const int runsBefore = controller.Worker().JobsRun();
    controller.OnReloadButton();
    if (controller.JobState() != kJobWaiting)
        return Fail(kExitPort, "serial port " + portName_ + " is not open");
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
    if (Interrupted() || !entered || controller.JobState() == kJobWaiting) {
        if (controller.JobState() == kJobWaiting)
            controller.OnReloadButton(); // cancels the wait
        if (Interrupted())
            return InterruptedExit();
        if (controller.JobState() == kJobWaiting || !entered)
            return Fail(kExitSilent,
                        "the controller did not enter configuration mode within " +
                            std::to_string(o_.waitSeconds) +
                            " s (no \"CONFIGURE PROGRAM\" after 'S'); check the cable, the port "
                            "and the line speed, and switch the controller off and on while "
                            "halden waits");
    }
    if (int status = AwaitJob(runsBefore))
        return status;
    readBack_ = controller.Worker().LastResult();
    if (const CommandOutcome* lost = LineLost(readBack_))
        return FailFor(*lost);
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
        return Fail(kExitSilent, "the controller answered AT but its parameter report (AT+SHOW) "
                                 "could not be read in 9 attempts");
    case ReadbackStatus::NotRun:
        break;
    }
    return Fail(kExitSilent, "the controller entered configuration mode but did not confirm AT "
                             "(10 attempts)");
}

bool Session::Known(int id) const
{
    return id < kFirstParamId || id > kLastParamId || link_->controller.Worker().Known().Known(id);
}

int Session::AwaitJob(int runsBefore)
{
    ConfigController& controller = link_->controller;
    Event& idle = link_->view.Idle();
    Watching watch(env_.interrupt, idle);
    while (controller.Worker().JobsRun() <= runsBefore) {
        if (Interrupted()) {
            // The job's remaining commands fail at once; nothing more goes out.
            controller.Stop();
            return InterruptedExit();
        }
        idle.waitFor(kPoll);
        idle.reset();
    }
    return Interrupted() ? InterruptedExit() : kExitOk;
}

} // namespace pell::cli

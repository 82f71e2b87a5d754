#include "sim/Simulator.h"

#include "common/WorkerThread.h"
#include "sim/BootLoader.h"
#include "sim/ConfigDialogue.h"
#include "sim/DeviceParts.h"
#include "sim/DevicePower.h"
#include "sim/SimLine.h"
#include "sim/TrafficSources.h"

#include <algorithm>

namespace pell::sim {

const char* ModeName(Mode mode)
{
    switch (mode) {
    case Mode::Off: return "off";
    case Mode::LoaderWindow: return "boot loader listening";
    case Mode::BootUpdate: return "boot update";
    case Mode::LoaderReady: return "boot loader ready";
    case Mode::Transfer: return "transfer";
    case Mode::AppWindow: return "application start";
    case Mode::Running: return "running";
    case Mode::Configuration: return "configuration";
    }
    return "?";
}

// The device: its parts, and the thread that hands every byte to the part
// whose mode it is and runs the parts' timers.
struct Simulator::Impl {
    Options opt;
    DeviceShared shared;
    WorkerThread thread; // the device; its stop flag ends every wait of the device
    SimLine line;
    DevicePower power;
    BootLoader loader;
    ConfigDialogue config;
    TrafficSources traffic;
    TimePoint lastInput{}; // the device thread's

    explicit Impl(const Options& o)
        : opt(o), shared(o.faults),
          line(shared, [this] { return thread.Stopping() || power.RequestPending(); }, o.clock, o.baud),
          power(shared, line, thread, o, [this](uint8_t b) { feed(b); },
                [this] {
                    config.Reset();
                    loader.Reset();
                }),
          loader(shared, line, power), config(shared, line, power, o), traffic(shared, line)
    {
    }

    void feed(uint8_t b)
    {
        switch (power.CurrentMode()) {
        case Mode::Off:
            if (power.AutoTrigger(b)) {
                shared.Tell("power on by the line");
                power.PowerUp();
                feed(b);
            }
            return;
        case Mode::LoaderWindow:
        case Mode::BootUpdate:
        case Mode::LoaderReady:
            loader.HandshakeByte(b);
            return;
        case Mode::Transfer:
            loader.TransferByte(b);
            return;
        case Mode::AppWindow:
            if (b == 'S') {
                config.ClearLine();
                power.EnterConfiguration();
            } else if (power.AutoTrigger(b)) {
                power.RestartWith(b);
            }
            return;
        case Mode::Running:
            if (power.AutoTrigger(b))
                power.RestartWith(b);
            return;
        case Mode::Configuration:
            config.Byte(b);
            return;
        }
    }

    void onTimers(TimePoint now)
    {
        traffic.OnTimers(now);
        power.OnTimers(now);
        loader.OnTimers(now, lastInput);
    }

    // Until the next timer of the device; -1 (no limit) when none runs: input,
    // a request and the stop wake the device thread themselves.
    int timeoutMs(TimePoint now) const
    {
        const TimePoint next = std::min({power.NextTimer(), loader.NextTimer(lastInput), traffic.NextTimer()});
        if (next == TimePoint::max())
            return -1;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
        return static_cast<int>(std::clamp<int64_t>(ms + 1, 0, 3600 * 1000));
    }

    void run()
    {
        while (!thread.Stopping()) {
            power.ProcessRequests();
            onTimers(Steady::now());
            if (thread.Stopping())
                break;
            const TimePoint now = Steady::now();
            const std::string bytes = line.Receive(now, timeoutMs(now), lastInput);
            if (bytes.empty())
                continue;
            if (shared.observer)
                shared.observer(Traffic::Received, bytes);
            for (char c : bytes)
                feed(static_cast<uint8_t>(c));
        }
    }
};

Simulator::Simulator() : Simulator(Options{}) {}

Simulator::Simulator(const Options& options) : d_(std::make_unique<Impl>(options)) {}

Simulator::~Simulator()
{
    Stop();
    d_->line.Close();
}

bool Simulator::Start()
{
    Impl& d = *d_;
    if (d.power.Running())
        return true;
    if (!d.line.Open())
        return false;
    if (d.opt.startPowered && d.power.CurrentMode() == Mode::Off)
        d.power.PowerUp();
    d.power.Started();
    d.thread.Start([&d] { d.run(); }, "sim-device");
    return true;
}

void Simulator::Stop()
{
    Impl& d = *d_;
    if (!d.power.Running())
        return;
    d.thread.Stop([&d] {
        d.line.CutLateWait();
        d.line.Wake();
    });
    d.power.Stopped();
    d.line.Close();
    d.line.CloseWake();
}

bool Simulator::IsRunning() const { return d_->power.Running(); }
std::string Simulator::PortPath() const { return d_->line.Path(); }
void Simulator::SetObserver(Observer observer) { d_->shared.observer = std::move(observer); }

void Simulator::PowerCycle() { d_->power.Post(DevicePower::Request::PowerCycle); }
void Simulator::PowerOn() { d_->power.Post(DevicePower::Request::PowerOn); }
void Simulator::PowerOff() { d_->power.Post(DevicePower::Request::PowerOff); }
Mode Simulator::CurrentMode() const { return d_->power.CurrentMode(); }
int Simulator::PowerUps() const { return d_->power.PowerUps(); }
void Simulator::CloseLine() { d_->power.Post(DevicePower::Request::CloseLine); }
bool Simulator::LineOpen() const { return d_->line.LineOpen(); }

void Simulator::SetFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(d_->shared.m);
    d_->shared.faults = faults;
}

Faults Simulator::GetFaults() const { return d_->shared.FaultsNow(); }

void Simulator::UpdateFaults(const std::function<void(Faults&)>& change)
{
    std::lock_guard<std::mutex> lock(d_->shared.m);
    change(d_->shared.faults);
}

void Simulator::SetAutoPowerUp(bool on) { d_->power.SetAutoPower(on); }
bool Simulator::AutoPowerUp() const { return d_->power.AutoPower(); }
void Simulator::SetBaud(int baud) { d_->line.SetBaud(baud); }
void Simulator::ReleaseGap() { d_->line.ReleaseGap(); }
int Simulator::Baud() const { return d_->line.Baud(); }

void Simulator::SetWindows(int loaderWindowMs, int configWindowMs)
{
    d_->power.SetWindows(loaderWindowMs, configWindowMs);
}

bool Simulator::Discarding() const { return d_->loader.Discarding(); }

void Simulator::StartPolling(const std::string& frame, int everyMs) { d_->traffic.StartPolling(frame, everyMs); }
void Simulator::StopPolling() { d_->traffic.StopPolling(); }
bool Simulator::Polling() const { return d_->traffic.Polling(); }
uint64_t Simulator::PollsSent() const { return d_->traffic.PollsSent(); }
void Simulator::StartFlood(int ms, int baud) { d_->traffic.StartFlood(ms, baud); }
void Simulator::StopFlood() { d_->traffic.StopFlood(); }
bool Simulator::Flooding() const { return d_->traffic.Flooding(); }
uint64_t Simulator::FloodBytes() const { return d_->traffic.FloodBytes(); }

std::vector<uint8_t> Simulator::ReceivedImage() const { return d_->loader.Image(); }
bool Simulator::ImageComplete() const { return d_->loader.ImageComplete(); }
std::vector<BlockRecord> Simulator::Blocks() const { return d_->loader.Blocks(); }
LoaderStats Simulator::Loader() const { return d_->loader.Stats(); }

std::optional<std::string> Simulator::Param(int id) const
{
    return d_->config.WithModel([&](const ControllerModel& m) { return m.Param(id); });
}

bool Simulator::SetParam(int id, const std::string& value)
{
    return d_->config.WithModel([&](ControllerModel& m) { return m.SetParam(id, value); });
}

std::optional<std::string> Simulator::FactoryValue(int id) { return ControllerModel::FactoryValue(id); }

void Simulator::RestoreFactory()
{
    d_->config.WithModel([](ControllerModel& m) { m.RestoreFactory(); });
}

std::string Simulator::CounterValue(int index) const
{
    return d_->config.WithModel([&](const ControllerModel& m) { return m.CounterValue(index); });
}

void Simulator::SetCounterValue(int index, const std::string& value)
{
    d_->config.WithModel([&](ControllerModel& m) { m.SetCounterValue(index, value); });
}

std::string Simulator::SerialValue(int index) const
{
    return d_->config.WithModel([&](const ControllerModel& m) { return m.SerialValue(index); });
}

void Simulator::SetSerialValue(int index, const std::string& value)
{
    d_->config.WithModel([&](ControllerModel& m) { m.SetSerialValue(index, value); });
}

std::string Simulator::ClockText() const
{
    return d_->config.WithModel([](const ControllerModel& m) { return m.ClockText(); });
}

int Simulator::ClockSets() const
{
    return d_->config.WithModel([](const ControllerModel& m) { return m.ClockSets(); });
}

void Simulator::SetRecords(const std::vector<CardRecord>& records)
{
    d_->config.WithModel([&](ControllerModel& m) { m.SetRecords(records); });
}

std::vector<CardRecord> Simulator::Records() const
{
    return d_->config.WithModel([](const ControllerModel& m) { return m.Records(); });
}

std::vector<CardRecord> Simulator::SampleRecords(int year, int month, int day, int count)
{
    return SampleCardRecords(year, month, day, count);
}

std::string Simulator::Report() const
{
    return d_->config.WithModel([](const ControllerModel& m) { return m.Report(); });
}

std::string Simulator::ReportWithFaults() const { return d_->config.ReportWithFaults(); }
std::vector<std::string> Simulator::ReceivedCommands() const { return d_->config.Commands(); }
std::size_t Simulator::CommandCount() const { return d_->config.CommandCount(); }
void Simulator::ClearCommandLog() { d_->config.ClearCommands(); }

} // namespace pell::sim

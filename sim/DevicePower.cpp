#include "sim/DevicePower.h"

#include <algorithm>

namespace pell::sim {

namespace {

using std::chrono::milliseconds;

constexpr const char* kBanner =
    "\r\n\r\nWC-3 well controller\r\n"
    "Software V2.31.07 2024-05-16, hardware V1.2\r\n"
    "Send 'S' for setup...\r\n";
constexpr const char* kConfigureText = "\r\n*** CONFIGURE PROGRAM ***\r\n";
constexpr const char* kRunningText = "\r\nSystem running\r\n";

} // namespace

DevicePower::DevicePower(DeviceShared& shared, SimLine& line, const WorkerThread& thread,
                         const Options& options, std::function<void(uint8_t)> feed,
                         std::function<void()> resetParts)
    : shared_(shared), line_(line), thread_(thread), restartDelayMs_(options.restartDelayMs),
      feed_(std::move(feed)), resetParts_(std::move(resetParts))
{
    loaderWindowMs_ = options.loaderWindowMs;
    configWindowMs_ = options.configWindowMs;
    autoPower_ = options.autoPowerUp;
}

void DevicePower::SetWindows(int loaderWindowMs, int configWindowMs)
{
    loaderWindowMs_ = loaderWindowMs;
    configWindowMs_ = configWindowMs;
}

void DevicePower::RestartLoaderWindow() { windowEnd_ = Steady::now() + milliseconds(loaderWindowMs_.load()); }

void DevicePower::RestartSoon()
{
    restartPending_ = true;
    restartAt_ = Steady::now() + milliseconds(restartDelayMs_);
}

void DevicePower::resetState()
{
    windowActive_ = false;
    restartPending_ = false;
    resetParts_();
}

void DevicePower::powerOff()
{
    resetState();
    SetMode(Mode::Off);
    shared_.Tell("power off");
}

void DevicePower::PowerUp()
{
    resetState();
    SetMode(Mode::LoaderWindow);
    windowActive_ = true;
    windowEnd_ = Steady::now() + milliseconds(loaderWindowMs_.load());
    ++powerUps_;
    shared_.Tell("power on: boot loader listens for 'B' or 'P'");
}

void DevicePower::RestartWith(uint8_t b)
{
    shared_.Tell(std::string("restart on '") + static_cast<char>(b) + "'");
    PowerUp();
    feed_(b);
}

void DevicePower::StartApplication(bool configure)
{
    windowActive_ = false;
    if (configure) {
        SetMode(Mode::Configuration);
        shared_.Tell("application started, configuration mode");
        line_.Emit(kBanner, SimLine::Out::Text);
        line_.Emit(kConfigureText, SimLine::Out::Text);
        return;
    }
    SetMode(Mode::AppWindow);
    windowActive_ = true;
    windowEnd_ = Steady::now() + milliseconds(configWindowMs_.load());
    shared_.Tell("application started, watching for 'S'");
    line_.Emit(kBanner, SimLine::Out::Text);
}

void DevicePower::EnterConfiguration()
{
    windowActive_ = false;
    SetMode(Mode::Configuration);
    shared_.Tell("configuration mode");
    line_.Emit(kConfigureText, SimLine::Out::Text);
}

void DevicePower::OnTimers(TimePoint now)
{
    if (restartPending_ && now >= restartAt_) {
        restartPending_ = false;
        shared_.Tell("restart");
        PowerUp();
    }
    if (windowActive_ && now >= windowEnd_) {
        windowActive_ = false;
        if (mode_.load() == Mode::LoaderWindow) {
            StartApplication(false);
        } else if (mode_.load() == Mode::AppWindow) {
            SetMode(Mode::Running);
            shared_.Tell("running: the line is ignored");
            line_.Emit(kRunningText, SimLine::Out::Text);
        }
    }
}

TimePoint DevicePower::NextTimer() const
{
    TimePoint next = TimePoint::max();
    if (restartPending_)
        next = std::min(next, restartAt_);
    if (windowActive_)
        next = std::min(next, windowEnd_);
    return next;
}

void DevicePower::apply(Request r)
{
    switch (r) {
    case Request::PowerCycle:
        PowerUp();
        break;
    case Request::PowerOn:
        if (mode_.load() == Mode::Off)
            PowerUp();
        break;
    case Request::PowerOff:
        powerOff();
        break;
    case Request::CloseLine:
        line_.Close();
        break;
    }
}

void DevicePower::ProcessRequests()
{
    std::deque<std::pair<uint64_t, Request>> work;
    {
        std::lock_guard<std::mutex> lock(reqM_);
        work.swap(queue_);
        requestPending_ = false;
    }
    for (auto& [seq, r] : work) {
        apply(r);
        std::lock_guard<std::mutex> lock(reqM_);
        done_ = seq;
    }
    reqCv_.notify_all();
}

void DevicePower::Post(Request r)
{
    std::unique_lock<std::mutex> lock(reqM_);
    if (!running_.load()) {
        lock.unlock();
        apply(r);
        return;
    }
    uint64_t seq = ++posted_;
    queue_.emplace_back(seq, r);
    requestPending_ = true;
    line_.CutLateWait();
    line_.Wake();
    if (thread_.OnThread())
        return; // from the observer: carried out after the current byte
    reqCv_.wait_for(lock, std::chrono::seconds(10), [&] { return done_ >= seq || !running_.load(); });
}

void DevicePower::Stopped()
{
    {
        std::lock_guard<std::mutex> lock(reqM_);
        running_ = false;
        done_ = posted_;
        queue_.clear();
        requestPending_ = false;
    }
    reqCv_.notify_all();
}

} // namespace pell::sim

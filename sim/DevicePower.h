#pragma once
// The device's power and modes: power-up into the boot loader's listening
// window, the application's start and its window for 'S', configuration
// mode, the restart after a transfer or AT+RESET. Other threads work the
// power switch (and pull the line) through requests that the device thread
// carries out between two bytes.
#include "common/WorkerThread.h"
#include "sim/DeviceParts.h"
#include "sim/SimLine.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace pell::sim {

class DevicePower final : public DeviceHost {
public:
    enum class Request { PowerCycle, PowerOn, PowerOff, CloseLine };

    // `feed` hands a byte to the device, `resetParts` clears what the parts
    // hold of the run before a power-up or power-off.
    DevicePower(DeviceShared& shared, SimLine& line, const WorkerThread& thread, const Options& options,
                std::function<void(uint8_t)> feed, std::function<void()> resetParts);

    Mode CurrentMode() const override { return mode_.load(); }
    void SetMode(Mode mode) override { mode_.store(mode); }
    bool AutoPower() const override { return autoPower_.load(); }
    void RestartWith(uint8_t b) override;
    void StartApplication(bool configure) override;
    void EndWindow() override { windowActive_ = false; }
    void RestartLoaderWindow() override;
    void RestartSoon() override;

    void PowerUp();
    // 'S' in the application's window.
    void EnterConfiguration();
    // The tool's handshake bytes switch a device on that would ignore them.
    bool AutoTrigger(uint8_t b) const { return AutoPower() && (b == 'S' || b == 'B' || b == 'P'); }
    void SetAutoPower(bool on) { autoPower_ = on; }
    void SetWindows(int loaderWindowMs, int configWindowMs);
    int PowerUps() const { return powerUps_.load(); }

    // The restart and the end of a listening window, when due.
    void OnTimers(TimePoint now);
    TimePoint NextTimer() const;

    // From any thread: carried out by the device thread, which the caller
    // waits for (from the observer, on the device thread itself, only
    // queued). Carried out at once while no device thread runs.
    void Post(Request r);
    bool RequestPending() const { return requestPending_.load(); }
    // Device thread: carries out what was posted.
    void ProcessRequests();
    // The device thread runs from Started() to Stopped(); Stopped() drops
    // what it did not carry out and lets every waiting caller go.
    void Started() { running_ = true; }
    void Stopped();
    bool Running() const { return running_.load(); }

private:
    void resetState();
    void powerOff();
    void apply(Request r);

    DeviceShared& shared_;
    SimLine& line_;
    const WorkerThread& thread_;
    const int restartDelayMs_;
    const std::function<void(uint8_t)> feed_;
    const std::function<void()> resetParts_;

    std::atomic<bool> autoPower_{false};
    std::atomic<int> loaderWindowMs_{0};
    std::atomic<int> configWindowMs_{0};
    std::atomic<Mode> mode_{Mode::Off};
    std::atomic<int> powerUps_{0};
    std::atomic<bool> running_{false};

    std::mutex reqM_;
    std::condition_variable reqCv_;
    std::deque<std::pair<uint64_t, Request>> queue_;
    uint64_t posted_ = 0;
    uint64_t done_ = 0;
    std::atomic<bool> requestPending_{false};

    // The device thread's (or the caller's while no thread runs).
    bool windowActive_ = false;
    TimePoint windowEnd_{};
    bool restartPending_ = false;
    TimePoint restartAt_{};
};

} // namespace pell::sim

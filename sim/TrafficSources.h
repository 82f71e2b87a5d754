#pragma once
// Raw traffic the device sends whatever mode it is in: a frame polled at a
// fixed period, as a master polling a meter would, and a flood of numbered
// text lines at the full rate of a baud rate. Callers set them at any time;
// the device thread sends them when they are due.
#include "sim/DeviceParts.h"
#include "sim/SimLine.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace pell::sim {

class TrafficSources {
public:
    TrafficSources(DeviceShared& shared, SimLine& line);

    // For callers, at any time.
    void StartPolling(const std::string& frame, int everyMs);
    void StopPolling();
    bool Polling() const { return polling_.load(); }
    uint64_t PollsSent() const { return pollsSent_.load(); }
    void StartFlood(int ms, int baud);
    void StopFlood();
    bool Flooding() const { return flooding_.load(); }
    uint64_t FloodBytes() const { return floodBytes_.load(); }

    // Sends one slice of what is due at `now` (device thread).
    void OnTimers(TimePoint now);
    // When a slice is due next; TimePoint::max() when none runs.
    TimePoint NextTimer() const;

private:
    // Sets a source up under the device's lock and wakes the device thread,
    // which starts it.
    template <typename SetUp>
    void startWith(SetUp setUp)
    {
        {
            std::lock_guard<std::mutex> lock(shared_.m);
            setUp();
        }
        line_.Wake();
    }
    void flood(TimePoint now, int rate, bool line);

    DeviceShared& shared_;
    SimLine& line_;

    // Under shared_.m.
    std::string pollFrame_;
    int pollEveryMs_ = 0; // 0: not polling
    bool pollRestart_ = false;
    int floodBaud_ = 0; // 0: no flood
    int floodMs_ = 0;
    bool floodRestart_ = false;

    // The device thread's.
    TimePoint nextPoll_{};
    TimePoint floodNext_{};
    TimePoint floodEnd_{};
    std::string floodPending_; // the rest of the current line
    uint64_t floodLine_ = 0;

    std::atomic<uint64_t> pollsSent_{0};
    std::atomic<uint64_t> floodBytes_{0};
    std::atomic<bool> polling_{false};
    std::atomic<bool> flooding_{false};
};

} // namespace pell::sim

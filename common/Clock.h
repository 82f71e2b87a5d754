#pragma once
// Time as the system sees it: time-outs, pauses and polling periods are
// given in milliseconds of the controller's world. A Clock turns them into
// real durations, so tests can run the same logic faster.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace pell {

class Clock {
public:
    virtual ~Clock() = default;
    // Real duration of a system delay of `ms` milliseconds.
    virtual std::chrono::microseconds duration(int ms) const = 0;
    // Sleeps for a system delay of `ms` milliseconds.
    void sleep(int ms) const;
};

// The production clock: one system millisecond is one real millisecond.
const Clock& systemClock();

// A clock that runs `speedup` times faster than real time (tests).
class ScaledClock : public Clock {
public:
    explicit ScaledClock(double speedup) : speedup_(speedup) {}
    std::chrono::microseconds duration(int ms) const override;

private:
    double speedup_;
};

// A manual-reset event: set() wakes every waiter until reset().
class Event {
public:
    void set();
    void reset();
    bool isSet() const;
    // Waits until set or the duration has passed; true when set.
    bool waitFor(std::chrono::microseconds d);
    void wait();

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool set_ = false;
};

// Monotonic milliseconds, for measurements and deadlines.
int64_t monotonicMs();
int64_t monotonicUs();

} // namespace pell

#pragma once
// Time as the system sees it: time-outs, pauses and polling periods are
// given in milliseconds of the controller's world. Code that waits asks a
// Clock, never the system, so a test can hand it a ManualClock and step
// through a time-out deterministically, however busy the machine is.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace pell {

class Event;

class Clock {
public:
    virtual ~Clock() = default;
    // Real duration of a system delay of `ms` milliseconds.
    virtual std::chrono::microseconds duration(int ms) const = 0;
    // Waits until `event` is set or `ms` system milliseconds have passed;
    // true when the event was set.
    virtual bool waitFor(Event& event, int ms) const;
    // Sleeps for a system delay of `ms` milliseconds.
    virtual void sleep(int ms) const;
    // The clock's time in its milliseconds, from an arbitrary start: what
    // a deadline that moves (a reply still arriving) is measured on.
    virtual int64_t nowMs() const;
};

// The production clock: one system millisecond is one real millisecond.
const Clock& systemClock();

// A clock that runs `speedup` times faster than real time. Only for delays
// that pace work (the pause after a reply), never for a time-out that a test
// races against: a busy machine loses that race.
class ScaledClock : public Clock {
public:
    explicit ScaledClock(double speedup) : speedup_(speedup) {}
    std::chrono::microseconds duration(int ms) const override;

private:
    double speedup_;
};

// A clock that stands still until the test advances it. Waits on it end
// only when their event is set or advance() has carried the clock past
// their deadline, never by real time passing.
class ManualClock : public Clock {
public:
    // Real time is not this clock's time; code that still asks for a real
    // duration gets the system value.
    std::chrono::microseconds duration(int ms) const override;
    bool waitFor(Event& event, int ms) const override;
    void sleep(int ms) const override;

    // Moves the clock on and wakes every wait whose deadline has come.
    void advance(int ms);
    int64_t nowMs() const override { return now_.load(std::memory_order_acquire); }
    // How many waits are under way now.
    int waiting() const;
    // True when every wait under way is still before its deadline and its
    // event is not set: no waiter is about to leave, so waiting() tells
    // who really waits.
    bool settled() const;
    // How many waits (sleeps included) have begun since the clock was made.
    // Each one's deadline is fixed against the clock when it is counted, so
    // once a test has seen the count reach n, an advance() counts against
    // the n-th wait's deadline.
    int waitsBegun() const;
    // Blocks (in real time, up to `deadline`) until the n-th wait (counting
    // from 1) has begun. False when it never began or a later one already
    // has: the test lost track of the waits it meant to step.
    bool awaitWait(int n, std::chrono::milliseconds deadline = std::chrono::seconds(60)) const;
    // Blocks (in real time, up to `deadline`) until at least `count` waits
    // are under way; a test calls it before advance() so that the wait it
    // means to time out has really begun. True when they were.
    bool awaitWaiting(int count, std::chrono::milliseconds deadline = std::chrono::seconds(60)) const;

private:
    std::atomic<int64_t> now_{0};
    mutable std::mutex m_;
    mutable std::condition_variable waitingChanged_;
    struct Wait {
        Event* event;
        int64_t deadline;
    };
    mutable std::vector<Wait> waits_;
    mutable int begun_ = 0;
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
    // Waits until set or until `giveUp` (checked under the event's lock,
    // again after every poke) says to stop; true when set.
    bool waitUntil(const std::function<bool()>& giveUp);
    // Wakes the waiters so they check their give-up condition again.
    void poke();

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool set_ = false;
};

// Monotonic milliseconds, for measurements and deadlines.
int64_t monotonicMs();
int64_t monotonicUs();

} // namespace pell

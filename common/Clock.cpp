#include "common/Clock.h"

#include <thread>

namespace pell {

namespace {
class SystemClock : public Clock {
public:
    std::chrono::microseconds duration(int ms) const override
    {
        return std::chrono::milliseconds(ms);
    }
};
} // namespace

bool Clock::waitFor(Event& event, int ms) const
{
    return event.waitFor(duration(ms));
}

void Clock::sleep(int ms) const
{
    std::this_thread::sleep_for(duration(ms));
}

int64_t Clock::nowMs() const
{
    // Real milliseconds scaled back into the clock's own.
    const int64_t us = monotonicUs();
    const int64_t perMs = duration(1000).count();
    return perMs > 0 ? us / perMs * 1000 + us % perMs * 1000 / perMs : us / 1000;
}

const Clock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

std::chrono::microseconds ScaledClock::duration(int ms) const
{
    return std::chrono::microseconds(static_cast<int64_t>(ms * 1000.0 / speedup_));
}

std::chrono::microseconds ManualClock::duration(int ms) const
{
    return std::chrono::milliseconds(ms);
}

bool ManualClock::waitFor(Event& event, int ms) const
{
    int64_t deadline;
    {
        // Deadline, count and registration in one step under m_, against
        // which advance() runs: a test that has seen this wait counted moves
        // the clock against this deadline.
        std::lock_guard<std::mutex> lock(m_);
        deadline = nowMs() + ms;
        ++begun_;
        waits_.push_back({&event, deadline});
    }
    waitingChanged_.notify_all();
    // The give-up check reads only the atomic time, so advance() may hold
    // m_ while it pokes the event without any order of locks to break.
    bool set = event.waitUntil([this, deadline] { return nowMs() >= deadline; });
    {
        std::lock_guard<std::mutex> lock(m_);
        for (auto it = waits_.begin(); it != waits_.end(); ++it) {
            if (it->event == &event) {
                waits_.erase(it);
                break;
            }
        }
    }
    waitingChanged_.notify_all();
    return set;
}

void ManualClock::sleep(int ms) const
{
    Event never;
    waitFor(never, ms);
}

void ManualClock::advance(int ms)
{
    std::lock_guard<std::mutex> lock(m_);
    now_.fetch_add(ms, std::memory_order_acq_rel);
    // Under m_ a waiter cannot leave, so no event is poked after its wait.
    for (const Wait& w : waits_)
        w.event->poke();
}

int ManualClock::waiting() const
{
    std::lock_guard<std::mutex> lock(m_);
    return static_cast<int>(waits_.size());
}

bool ManualClock::settled() const
{
    std::lock_guard<std::mutex> lock(m_);
    const int64_t now = nowMs();
    for (const Wait& w : waits_)
        if (w.deadline <= now || w.event->isSet())
            return false;
    return true;
}

int ManualClock::waitsBegun() const
{
    std::lock_guard<std::mutex> lock(m_);
    return begun_;
}

bool ManualClock::awaitWait(int n, std::chrono::milliseconds deadline) const
{
    std::unique_lock<std::mutex> lock(m_);
    return waitingChanged_.wait_for(lock, deadline, [&] { return begun_ >= n; }) && begun_ == n;
}

bool ManualClock::awaitWaiting(int count, std::chrono::milliseconds deadline) const
{
    std::unique_lock<std::mutex> lock(m_);
    return waitingChanged_.wait_for(lock, deadline,
                                    [&] { return static_cast<int>(waits_.size()) >= count; });
}

void Event::set()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        set_ = true;
    }
    cv_.notify_all();
}

void Event::reset()
{
    std::lock_guard<std::mutex> lock(m_);
    set_ = false;
}

bool Event::isSet() const
{
    std::lock_guard<std::mutex> lock(m_);
    return set_;
}

bool Event::waitFor(std::chrono::microseconds d)
{
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, d, [this] { return set_; });
}

bool Event::waitUntil(const std::function<bool()>& giveUp)
{
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return set_ || giveUp(); });
    return set_;
}

void Event::poke()
{
    std::lock_guard<std::mutex> lock(m_);
    cv_.notify_all();
}

void Event::wait()
{
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return set_; });
}

int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t monotonicUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace pell

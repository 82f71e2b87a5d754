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

void Clock::sleep(int ms) const
{
    std::this_thread::sleep_for(duration(ms));
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

#pragma once
// A page's request to the configuration worker for something that is not a
// parameter (set the clock, set or read an initial value, query records).
// A non-empty text is the request. The UI thread writes it (a second click
// before the worker took the first replaces it); the worker reads it when it
// starts the job and empties it when the job ends, so a request made while
// its own job runs is dropped unsent. Both sides go through the lock.
#include <mutex>
#include <string>

namespace pell {

class RequestText {
public:
    // Keeps the text up to its first CR or LF.
    void Set(std::string text);
    std::string Get() const;
    bool Empty() const;
    void Clear();

private:
    mutable std::mutex m_;
    std::string text_;
};

// The request texts in the order the worker looks at them, each with the
// job it starts.
enum class RequestSlot {
    Clock,    // basic page, job 8
    Counter0, // counter page, jobs 9..12
    Counter1,
    Counter2,
    Counter3,
    Records,  // history records page, job 13
    Serial0,  // serial meter page, jobs 14..17
    Serial1,
    Serial2,
    Serial3,
};

inline constexpr RequestSlot kRequestPollOrder[] = {
    RequestSlot::Clock,    RequestSlot::Counter0, RequestSlot::Counter1, RequestSlot::Counter2,
    RequestSlot::Counter3, RequestSlot::Records,  RequestSlot::Serial0,  RequestSlot::Serial1,
    RequestSlot::Serial2,  RequestSlot::Serial3,
};

// The job code a request starts (8 clock ... 17 serial meter port 3).
constexpr int RequestJobCode(RequestSlot slot)
{
    return 8 + static_cast<int>(slot);
}

} // namespace pell

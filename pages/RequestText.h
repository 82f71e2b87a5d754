#pragma once
// A page's request to the configuration worker for something that is not a
// parameter (set the clock, set or read an initial value, query records).
// A non-empty text is the request. The UI thread writes it (a second click
// before the worker took the first replaces it); the worker reads it when it
// starts the job and empties it when the job ends, so a request made while
// its own job runs is dropped unsent. Both sides go through the lock.
//
// Setting a request text tells its observer (the configuration worker that
// serves it), which wakes up instead of looking every 50 ms.
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace pell {

class RequestText;

// Told, on the thread that set it, of every text set on a request it
// observes. Whoever attaches an observer to a request detaches it (or the
// request goes) before the observer goes; the detaching waits for a call
// under way. An observer must not set a request itself.
class RequestObserver {
public:
    virtual void OnRequestSet(const RequestText& request) = 0;

protected:
    ~RequestObserver() = default;
};

class RequestText {
public:
    // Keeps the text up to its first CR or LF, then tells the observer.
    void Set(std::string text);
    std::string Get() const;
    bool Empty() const;
    void Clear();

    // Called whenever Clear() empties a text that was set (the job that
    // served the request ended, or the request was refused), on the thread
    // that clears it, outside the lock. It must not wait for the interface.
    // nullptr removes it; the removal waits for a call under way.
    void SetEmptiedHook(std::function<void()> hook);

    // How the page that owns the request hears back from the job serving
    // it: the value the controller gave (GBK, unchanged), and whether the
    // job runs (true at its start, false at its end). Called on the worker,
    // outside the lock; a hook must not wait for the interface. nullptr
    // removes one; the removal waits for a call under way.
    void SetAnswerHook(std::function<void(const std::string& gbkText)> hook);
    void SetRunningHook(std::function<void(bool running)> hook);
    void Answer(const std::string& gbkText);
    void Running(bool running);

    // The worker that serves this request; nullptr detaches it.
    void SetObserver(RequestObserver* observer);

private:
    mutable std::mutex m_;
    std::string text_;
    std::mutex hookMutex_; // held while a hook runs
    std::function<void()> emptied_;
    std::function<void(const std::string&)> answer_;
    std::function<void(bool)> running_;
    RequestObserver* observer_ = nullptr;
};

// The pages' request texts, one slot each.
enum class RequestSlot {
    Clock,    // basic page
    Counter0, // counter page, counters 0..3
    Counter1,
    Counter2,
    Counter3,
    Records,  // history records page
    Serial0,  // serial meter page, ports 0..3
    Serial1,
    Serial2,
    Serial3,
};
// The number of slots: a table of one request per slot has this size.
constexpr std::size_t kRequestSlotCount = static_cast<std::size_t>(RequestSlot::Serial3) + 1;

} // namespace pell

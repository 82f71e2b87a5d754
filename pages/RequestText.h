#pragma once
// A page's request to the configuration worker for something that is not a
// parameter (set the clock, set or read an initial value, query records).
// A non-empty text is the request. The UI thread writes it (a second click
// before the worker took the first replaces it); the worker reads it when it
// starts the job and empties it when the job ends, so a request made while
// its own job runs is dropped unsent. Both sides go through the lock.
//
// Setting any request text sets every listening event: the worker sleeps
// until a request, a job or a stop wakes it instead of looking every 50 ms.
#include "common/Clock.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace pell {

// Events set whenever a page sets a request text. A listener removes itself
// before its event goes (the removal waits for a setting under way).
void AddRequestListener(Event* listener);
void RemoveRequestListener(Event* listener);

class RequestText;

// Told, on the thread that set it, of every request text a page sets (after
// the listening events). An observer removes itself before it goes (the
// removal waits for a call under way); it must not set a request itself.
class RequestObserver {
public:
    virtual void OnRequestSet(const RequestText& request) = 0;

protected:
    ~RequestObserver() = default;
};
void AddRequestObserver(RequestObserver* observer);
void RemoveRequestObserver(RequestObserver* observer);

class RequestText {
public:
    // Keeps the text up to its first CR or LF.
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

private:
    mutable std::mutex m_;
    std::string text_;
    std::mutex hookMutex_; // held while a hook runs
    std::function<void()> emptied_;
    std::function<void(const std::string&)> answer_;
    std::function<void(bool)> running_;
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

#pragma once
// Who holds the conversation with the controller, and which job runs.
//
// The job state (waiting for configuration mode, job running, idle) and the
// job code are read without a lock by the receive dispatch thread and the
// worker. Every change that starts or ends a job goes through Transition(),
// so a button, the dispatcher and the worker taking a page request can
// never start two jobs over each other; the code is always stored before the
// state that releases it.
#include "common/Clock.h"
#include "pages/RequestText.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

namespace pell {

enum JobState { kJobWaiting = 0, kJobRunning = 1, kJobIdle = 2 };

// Job codes.
enum JobCode {
    kJobNone = 0,
    kJobConnectAndRead = 1,
    kJobWrite = 2,
    kJobRead = 3,
    kJobVersion = 4,
    kJobSignal = 5,
    kJobFactory = 6,
    kJobRestart = 7,
    kJobClock = 8,
    kJobCounter0 = 9,   // ..12
    kJobRecords = 13,
    kJobSerial0 = 14,   // ..17
    kJobApplyLoaded = 18,
    kJobClearCache = 19,
    kJobClearMeter = 20,
    kJobCodeMax = 20,
};

// The pages' request texts in the order the worker looks at them.
inline constexpr RequestSlot kRequestPollOrder[] = {
    RequestSlot::Clock,    RequestSlot::Counter0, RequestSlot::Counter1, RequestSlot::Counter2,
    RequestSlot::Counter3, RequestSlot::Records,  RequestSlot::Serial0,  RequestSlot::Serial1,
    RequestSlot::Serial2,  RequestSlot::Serial3,
};

// The job a request starts (8 clock, 9..12 counters, 13 records, 14..17
// serial meter ports).
constexpr int RequestJobCode(RequestSlot slot)
{
    return kJobClock + static_cast<int>(slot);
}

class JobControl {
public:
    int State() const { return state_.load(std::memory_order_acquire); }
    int Code() const { return code_.load(std::memory_order_acquire); }

    // Hold while deciding on and making a change of state.
    std::unique_lock<std::mutex> Transition() { return std::unique_lock<std::mutex>(mutex_); }

    // With the transition held: the code first, then the running state.
    void StartLocked(int code);
    void SetStateLocked(int state) { state_.store(state, std::memory_order_release); }
    // With the transition held: idle, no code.
    void FinishLocked();
    // With the transition held: takes back a start the worker has not run,
    // to the state before it, without a code.
    void RevertLocked(int state);

    // The worker sleeps on this until a job is started, a request is set
    // (the worker observes the requests) or the worker is stopped.
    Event& Wake() { return wake_; }

private:
    std::mutex mutex_;
    std::atomic<int> state_{kJobIdle};
    std::atomic<int> code_{kJobNone};
    Event wake_;
};

// Where the worker finds the pages' request texts: the text of a slot, or
// nullptr when no page offers that request. A page asks for a job by making
// its text non-empty; the worker reads it when the job starts and empties it
// when the job ends.
using RequestLookup = std::function<RequestText*(RequestSlot)>;

// The job a request starts, and the request a job serves (nullopt for jobs
// that no request starts).
std::optional<RequestSlot> RequestOfJob(int code);

} // namespace pell

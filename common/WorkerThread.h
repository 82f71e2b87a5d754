#pragma once
// One thread the system starts: its body runs until Stop(), which sets the
// stop flag, wakes the body, keeps interrupting what the body may be blocked
// in until it has left, and joins it. Every thread of the system (receive
// dispatch, configuration worker, download worker and timer, the port's
// line-event thread, the simulated device) is one of these, so none is left
// running when its owner goes away.
#include "common/Clock.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace pell {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { Stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body` on a new thread unless one runs already (false then).
    // The body looks at Stopping() and may wait on Wake(). `name` (at most
    // 15 characters) is what the system shows for the thread (ps, top,
    // /proc/<pid>/task/<tid>/comm), so its cost can be told apart.
    bool Start(std::function<void()> body, std::string name = {});

    // Sets the stop flag and Wake(), then calls `interrupt` (when given)
    // every 20 ms until the body has returned, and joins the thread. For a
    // body that may block elsewhere (a reply wait, a line-event wait): the
    // interrupt ends that wait. Safe to call again, or when never started;
    // called on the thread itself it only sets the flag.
    void Stop(const std::function<void()>& interrupt = {});

    bool Stopping() const { return stop_.load(std::memory_order_acquire); }
    // The stop flag itself, for code that takes a flag to look at.
    const std::atomic<bool>* StopFlag() const { return &stop_; }
    bool Running() const { return running_.load(std::memory_order_acquire); }
    bool OnThread() const { return std::this_thread::get_id() == id_.load(); }

    // Set by Stop(); the body may also be woken by others through it. The
    // body resets it when it has looked.
    Event& Wake() { return wake_; }

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> id_{};
    Event wake_;
    Event finished_;
};

} // namespace pell

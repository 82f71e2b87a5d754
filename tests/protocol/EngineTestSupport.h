#pragma once
// Stepping the engine through its waits: a manual clock that counts the
// waits begun on it, and a command sent on a thread of its own so that the
// test can move the clock while the command waits.
#include "protocol/CommandEngine.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace pell::test {

// How long a test waits, in real time, for something that takes a
// moment on an idle machine: far beyond what a busy one needs.
constexpr std::chrono::milliseconds kPatience{30000};

// The engine's waits (for a reply, for a drain window) run one after the
// other on one thread, so once the n-th has begun every earlier one has
// ended: the manual clock's count of waits tells the test which one it steps.
using SteppedClock = ManualClock;

// One SendCommand on its own thread. The result is taken only once the
// command has ended by itself; a command that never ends fails the test and
// is freed (cancelled, clock moved far on) instead of hanging it.
class AsyncSend {
public:
    AsyncSend(CommandEngine& engine, ManualClock& clock, int id)
        : engine_(engine), clock_(clock)
    {
        thread_ = std::thread([this, id] {
            result_ = engine_.SendCommand(id, text_);
            done_.store(true);
        });
    }
    ~AsyncSend() { finish(); }
    AsyncSend(const AsyncSend&) = delete;
    AsyncSend& operator=(const AsyncSend&) = delete;

    bool Done() const { return done_.load(); }
    int Result()
    {
        finish();
        return result_;
    }
    // The command's text buffer afterwards ("junk" before).
    const std::string& Text()
    {
        finish();
        return text_;
    }

private:
    void finish()
    {
        if (!thread_.joinable())
            return;
        if (!WaitUntil([this] { return done_.load(); }, kPatience)) {
            ADD_FAILURE() << "the command did not end";
            while (!done_.load()) {
                engine_.CancelWait();
                clock_.advance(1000000);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        thread_.join();
    }

    CommandEngine& engine_;
    ManualClock& clock_;
    std::string text_ = "junk";
    int result_ = -1;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace pell::test

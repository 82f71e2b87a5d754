#pragma once
// The command engine on a line, driven the way the configuration page
// drives it, for the engine's tests and benchmarks: the port, the engine,
// the receive dispatch thread and a stand-in for the page that hands the
// engine its chunks; the wait for configuration mode; a command sent on a
// thread of its own, so that the test can move the clock while it waits;
// and a scripted controller on the far end of a pseudo-terminal.
#include "protocol/CommandEngine.h"
#include "serial/ReceiveDispatcher.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pell::test {

// How long a test waits, in real time, for something that takes a
// moment on an idle machine: far beyond what a busy one needs.
constexpr std::chrono::milliseconds kPatience{30000};

// The engine's waits (for a reply, for its late window) run one after the
// other on one thread, so once the n-th has begun every earlier one has
// ended: the manual clock's count of waits tells the test which one it steps.
using SteppedClock = ManualClock;

// Hands the received chunks to the engine as the configuration page does:
// collected unchecked while it waits for configuration mode (job state 0),
// recognised as replies while a job runs (1); idle (2) takes nothing.
// Counts the bytes it handed on.
class PageStandIn : public IConfigReceiver {
public:
    explicit PageStandIn(CommandEngine& engine, int state = 1) : engine_(engine), state_(state) {}
    int JobState() const { return state_.load(); }
    bool HoldsConversation() const override { return JobState() == 0 || JobState() == 1; }
    void OnPortData(int length, const char* bytes) override;
    void SetState(int state) { state_.store(state); }
    std::size_t Received() const { return received_.load(); }

private:
    CommandEngine& engine_;
    std::atomic<int> state_;
    std::atomic<std::size_t> received_{0};
};

// The engine on a port that the receive dispatch thread reads into the
// page stand-in (or another receiver). `waitClock` times the replies,
// `pauseClock` (when given) the pause after one.
class EngineRig {
public:
    EngineRig(const Clock& waitClock, const Clock* pauseClock, int pageState = 1)
        : engine(port, waitClock, pauseClock), page(engine, pageState)
    {
    }
    ~EngineRig() { Detach(); }
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

    // Opens the port on `path` at 115200 8N1 and starts the dispatch thread,
    // which hands the chunks to `receiver` (the page stand-in when null).
    bool Attach(const std::string& path, IConfigReceiver* receiver = nullptr);
    // Stops the dispatch thread and closes the port.
    void Detach();
    // 'S' every 50 ms until the controller says it is in configuration
    // mode, then the page stand-in takes replies.
    bool EnterConfiguration(std::chrono::milliseconds patience = kPatience);

    CSerial port;
    CommandEngine engine;
    PageStandIn page;
    ReceiveDispatcher dispatcher{port};
};

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
    // The command through Execute: its whole outcome is kept (Outcome()),
    // the result is 1 when it was confirmed.
    struct WithOutcome {};
    AsyncSend(CommandEngine& engine, ManualClock& clock, int id, WithOutcome)
        : engine_(engine), clock_(clock)
    {
        thread_ = std::thread([this, id] {
            outcome_ = engine_.Execute(id);
            result_ = outcome_.Confirmed() ? 1 : 0;
            done_.store(true);
        });
    }
    ~AsyncSend() { finish(); }
    AsyncSend(const AsyncSend&) = delete;
    AsyncSend& operator=(const AsyncSend&) = delete;

    // A command that ends without the clock moving: its result and text.
    static int Run(CommandEngine& engine, ManualClock& clock, int id, std::string& text)
    {
        AsyncSend command(engine, clock, id);
        int result = command.Result();
        text = command.Text();
        return result;
    }

    bool Done() const { return done_.load(); }
    int Result()
    {
        finish();
        return result_;
    }
    const CommandOutcome& Outcome()
    {
        finish();
        return outcome_;
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
    CommandOutcome outcome_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The far end: reads command lines and answers each with the pieces the
// script returns. With `taken` (how many bytes the tool's side has taken
// so far), each piece is sent only when the tool holds everything sent
// before it, so the pieces arrive as separate chunks.
class ScriptedController {
public:
    using Script = std::function<std::vector<std::string>(const std::string& line)>;

    explicit ScriptedController(PtyPair& pty, std::function<std::size_t()> taken = {})
        : pty_(pty), taken_(std::move(taken))
    {
    }
    ScriptedController(PtyPair& pty, const PageStandIn& page)
        : ScriptedController(pty, [&page] { return page.Received(); })
    {
    }
    ~ScriptedController() { Stop(); }
    ScriptedController(const ScriptedController&) = delete;
    ScriptedController& operator=(const ScriptedController&) = delete;

    void Start(Script script);
    void Stop();
    // The command lines received, each with its CR LF.
    std::vector<std::string> Lines() const;
    // Every byte received.
    std::string Raw() const;

private:
    void run();

    PtyPair& pty_;
    std::function<std::size_t()> taken_;
    std::size_t sent_ = 0; // everything ever sent to the tool
    Script script_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex m_;
    std::vector<std::string> lines_;
    std::string raw_;
};

} // namespace pell::test

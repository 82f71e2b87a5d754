#pragma once
// Worker threads never touch a widget: they hand a piece of code to the UI
// thread and wait until it has run (what a sent window message does). The
// UI thread never waits for a worker: at shutdown every pending and future
// call is released without running, so a worker that waits for the UI can
// always finish and be joined.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace pell::ui {

// Blocking calls from workers into the UI thread that their owner can
// release: once the gate is closed, waiting calls return false at once and
// calls not yet run are dropped. A page that is closed by itself closes its
// gate before it joins its worker; the process-wide gate behind
// RunOnUiThread is closed when the whole interface shuts down.
class UiCallGate {
public:
    UiCallGate();
    ~UiCallGate();
    UiCallGate(const UiCallGate&) = delete;
    UiCallGate& operator=(const UiCallGate&) = delete;

    // Runs fn on the UI thread (at once when called there) and waits for it.
    // `context` must live on the UI thread; the call is dropped with it.
    // False, with fn not run, once the gate is closed.
    bool Run(QObject* context, const std::function<void()>& fn);
    // UI thread only (asserted): there no call of the gate can be running
    // while it closes, so once Close() returns no call runs any more and a
    // worker waiting in Run() is released.
    void Close();
    bool IsClosed() const;
    // How many workers wait in Run() now, their call queued, for it to
    // have run or for the gate to close.
    int Waiting() const;

private:
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        bool closed = false;
        int waiting = 0;
    };
    std::shared_ptr<Shared> shared_;
};

// Runs fn on the UI thread and waits for it (runs it at once when called on
// the UI thread). False, with fn not run, once the UI is shutting down.
bool RunOnUiThread(const std::function<void()>& fn);
// Queues fn for the UI thread without waiting.
void PostToUiThread(std::function<void()> fn);
// From now on RunOnUiThread returns false at once; waiting callers are
// released. Called by the main window before it joins its threads.
void ShutdownUiCalls();
// Undoes ShutdownUiCalls (a new main window in the same process, tests).
void RestartUiCalls();
// How many workers wait in RunOnUiThread now.
int WaitingUiCalls();
bool IsUiThread();

} // namespace pell::ui

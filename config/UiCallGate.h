#pragma once
// Blocking calls from a worker into the UI thread that the owner of the
// worker can release on its own. RunOnUiThread is released only when the
// whole interface shuts down; a page that is closed by itself must still be
// able to stop and join its worker, so it closes its gate first: waiting
// calls return false at once and calls not yet run are dropped.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace pell::ui {

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
    void Close();
    bool IsClosed() const;

private:
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        bool closed = false;
    };
    std::shared_ptr<Shared> shared_;
};

} // namespace pell::ui

#include "config/UiCallGate.h"

#include "app/UiThread.h"

#include <QMetaObject>
#include <QObject>

namespace pell::ui {

UiCallGate::UiCallGate() : shared_(std::make_shared<Shared>()) {}

UiCallGate::~UiCallGate()
{
    Close();
}

bool UiCallGate::Run(QObject* context, const std::function<void()>& fn)
{
    if (IsUiThread()) {
        if (IsClosed())
            return false;
        fn();
        return true;
    }
    struct Call {
        bool done = false;
    };
    auto shared = shared_;
    auto call = std::make_shared<Call>();
    {
        std::lock_guard<std::mutex> lock(shared->m);
        if (shared->closed)
            return false;
    }
    // The caller waits until the call has run or the gate is closed, so fn
    // and what it refers to outlive the queued call whenever it runs.
    QMetaObject::invokeMethod(
        context,
        [shared, call, &fn] {
            {
                std::lock_guard<std::mutex> lock(shared->m);
                if (shared->closed)
                    return;
            }
            fn();
            {
                std::lock_guard<std::mutex> lock(shared->m);
                call->done = true;
            }
            shared->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(shared->m);
    shared->cv.wait(lock, [&] { return call->done || shared->closed; });
    return call->done;
}

void UiCallGate::Close()
{
    {
        std::lock_guard<std::mutex> lock(shared_->m);
        shared_->closed = true;
    }
    shared_->cv.notify_all();
}

bool UiCallGate::IsClosed() const
{
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->closed;
}

} // namespace pell::ui

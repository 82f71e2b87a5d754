#include "ui/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace pell::ui {

namespace {

std::mutex g_mutex;
std::shared_ptr<UiCallGate> g_gate = std::make_shared<UiCallGate>();

std::shared_ptr<UiCallGate> currentGate()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_gate;
}

} // namespace

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
    ++shared->waiting;
    shared->cv.wait(lock, [&] { return call->done || shared->closed; });
    --shared->waiting;
    return call->done;
}

void UiCallGate::Close()
{
    Q_ASSERT_X(QCoreApplication::instance() == nullptr ||
                   QThread::currentThread() == QCoreApplication::instance()->thread(),
               "UiCallGate::Close", "called off the UI thread");
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

int UiCallGate::Waiting() const
{
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->waiting;
}

int WaitingUiCalls()
{
    return currentGate()->Waiting();
}

bool IsUiThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool RunOnUiThread(const std::function<void()>& fn)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return false;
    return currentGate()->Run(app, fn);
}

void PostToUiThread(std::function<void()> fn)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void ShutdownUiCalls()
{
    currentGate()->Close();
}

void RestartUiCalls()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_gate->IsClosed())
        g_gate = std::make_shared<UiCallGate>();
}

} // namespace pell::ui

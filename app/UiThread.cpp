#include "app/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace pell::ui {

namespace {

struct PendingCall {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool abandoned = false;
};

std::mutex g_mutex;
bool g_shutdown = false;
std::set<std::shared_ptr<PendingCall>> g_pending;

} // namespace

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
    if (IsUiThread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<PendingCall>();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_shutdown)
            return false;
        g_pending.insert(call);
    }
    QMetaObject::invokeMethod(
        app,
        [call, fn] {
            {
                std::lock_guard<std::mutex> lock(call->m);
                if (call->abandoned)
                    return;
            }
            fn();
            {
                std::lock_guard<std::mutex> lock(call->m);
                call->done = true;
            }
            call->cv.notify_all();
        },
        Qt::QueuedConnection);
    bool ran;
    {
        std::unique_lock<std::mutex> lock(call->m);
        call->cv.wait(lock, [&] { return call->done || call->abandoned; });
        ran = call->done;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_pending.erase(call);
    return ran;
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
    std::lock_guard<std::mutex> lock(g_mutex);
    g_shutdown = true;
    for (const auto& call : g_pending) {
        {
            std::lock_guard<std::mutex> callLock(call->m);
            if (!call->done)
                call->abandoned = true;
        }
        call->cv.notify_all();
    }
}

void RestartUiCalls()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_shutdown = false;
}

} // namespace pell::ui

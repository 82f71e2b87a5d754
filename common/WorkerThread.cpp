#include "common/WorkerThread.h"

#include <chrono>

#ifdef __linux__
#include <pthread.h>
#endif

namespace pell {

bool WorkerThread::Start(std::function<void()> body, std::string name)
{
    if (thread_.joinable())
        return false;
    stop_.store(false, std::memory_order_release);
    finished_.reset();
    wake_.reset();
    running_.store(true, std::memory_order_release);
    thread_ = std::thread([this, body = std::move(body), name = std::move(name)] {
        id_.store(std::this_thread::get_id());
#ifdef __linux__
        if (!name.empty())
            ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
#endif
        body();
        running_.store(false, std::memory_order_release);
        finished_.set();
    });
    return true;
}

void WorkerThread::Stop(const std::function<void()>& interrupt)
{
    stop_.store(true, std::memory_order_release);
    wake_.set();
    if (!thread_.joinable() || OnThread())
        return;
    if (interrupt) {
        // The body may be just about to block when the flag is set; keep
        // interrupting until it has left.
        do {
            interrupt();
        } while (!finished_.waitFor(std::chrono::milliseconds(20)));
    }
    thread_.join();
    id_.store(std::thread::id());
}

} // namespace pell

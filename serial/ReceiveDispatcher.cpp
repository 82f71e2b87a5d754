#include "serial/ReceiveDispatcher.h"

#include <memory>

namespace pell {

ReceiveDispatcher::ReceiveDispatcher(CSerial& port) : port_(port) {}

ReceiveDispatcher::~ReceiveDispatcher()
{
    Stop();
}

void ReceiveDispatcher::Start()
{
    if (thread_.joinable())
        return;
    stop_.store(false);
    stopEvent_.reset();
    thread_ = std::thread([this] { run(); });
}

void ReceiveDispatcher::Stop()
{
    stop_.store(true);
    stopEvent_.set();
    if (thread_.joinable())
        thread_.join();
}

void ReceiveDispatcher::Route(int length, const char* bytes)
{
    if (IDownloadReceiver* d = download_.load(); d && d->IsDownloadActive()) {
        d->OnPortData(length, bytes);
        return;
    }
    if (IConfigReceiver* c = config_.load()) {
        int state = c->JobState();
        if (state == 0 || state == 1) {
            c->OnPortData(length, bytes);
            return;
        }
    }
    if (ITerminalReceiver* t = terminal_.load(); t && t->IsReceiving() && length != 0) {
        t->OnTerminalData(length, bytes);
        t->NotifyReceiveUpdate();
        return;
    }
    dropped_.fetch_add(static_cast<uint64_t>(length));
}

void ReceiveDispatcher::run()
{
    // One buffer for the thread's life; the consumers copy what they keep.
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    while (!stop_.load()) {
        if (!port_.IsOpen()) {
            stopEvent_.waitFor(std::chrono::milliseconds(kPollMs));
            continue;
        }
        int64_t started = monotonicUs();
        // Waits up to 20 ms for the first byte and wakes as soon as it comes.
        int n = port_.ReadAvailable(buffer.get());
        buffer[n] = 0;
        Route(n, buffer.get());
        if (n == 0 && monotonicUs() - started < 1000) {
            // The read came back at once without bytes (line errors, closing):
            // keep the polling period instead of spinning.
            stopEvent_.waitFor(std::chrono::milliseconds(kPollMs));
        }
    }
}

} // namespace pell

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
    if (thread_.Running())
        return;
    if (!watching_.exchange(true))
        port_.AddLineWatcher(this);
    thread_.Start([this] { run(); }, "dispatch");
}

void ReceiveDispatcher::Stop()
{
    // The thread sleeps on its wake-up while no port is open, else in the
    // port's read, which the interrupt ends.
    thread_.Stop([this] { port_.InterruptRead(); });
    if (watching_.exchange(false))
        port_.RemoveLineWatcher(this);
}

void ReceiveDispatcher::run()
{
    // One buffer for the thread's life; the consumers copy what they keep.
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    while (!thread_.Stopping()) {
        // Reset before looking: an opening or a stop after the look sets it
        // again and ends the sleep below.
        thread_.Wake().reset();
        if (thread_.Stopping())
            break;
        if (!port_.IsOpen()) {
            thread_.Wake().wait();
            continue;
        }
        const int64_t started = monotonicUs();
        readsBegun_.fetch_add(1);
        const int n = port_.ReadAvailable(buffer.get(), LineOwner::WantsEmptyChunks(owner_.Holder()) ? kPollMs : CSerial::kWaitForever);
        buffer[n] = 0;
        if (!owner_.Deliver(n, buffer.get()))
            dropped_.fetch_add(static_cast<uint64_t>(n));
        if (n == 0 && monotonicUs() - started < 1000) {
            // The read came back at once without bytes (line errors, a port
            // being closed): keep the polling period instead of spinning.
            thread_.Wake().waitFor(std::chrono::milliseconds(kPollMs));
        }
    }
}

} // namespace pell

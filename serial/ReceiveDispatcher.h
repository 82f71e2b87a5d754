#pragma once
// The receive dispatch thread: reads the port and hands every chunk to the
// page that holds the line (serial/LineOwner.h): the download page while its
// download is active, else the configuration page while it waits for
// configuration mode or runs a job, else the debug terminal while it
// receives; otherwise the chunk is dropped.
//
// It sleeps in the read until bytes arrive: with nothing on the line and no
// page listening it costs nothing. While the download page or the
// configuration page listens, a read ends after 20 ms without bytes, so
// they get their empty chunk every 20 ms. While no port is open
// the thread sleeps until one is opened; closing the port, a vanished
// device and Stop() end its read at once.
#include "common/WorkerThread.h"
#include "serial/CSerial.h"
#include "serial/LineOwner.h"

#include <atomic>
#include <vector>

namespace pell {

class ReceiveDispatcher : private ILineWatcher {
public:
    explicit ReceiveDispatcher(CSerial& port);
    ~ReceiveDispatcher() override;

    // Consumers may be set or cleared at any time; a null consumer is skipped.
    void SetDownloadReceiver(IDownloadReceiver* r) { owner_.SetDownload(r); }
    void SetConfigReceiver(IConfigReceiver* r) { owner_.SetConfig(r); }
    void SetTerminalReceiver(ITerminalReceiver* r) { owner_.SetTerminal(r); }
    // Who holds the line: the dispatch routes by it, the pages ask it.
    const LineOwner& Owner() const { return owner_; }

    void Start();
    // Stops and joins the thread; returns at once.
    void Stop();
    bool IsRunning() const { return thread_.Running(); }

    // The longest read without bytes while a page listens for empty chunks.
    static constexpr int kPollMs = 20;
    // Bytes read while no page was listening (dropped).
    uint64_t BytesDropped() const { return dropped_.load(); }
    // Reads begun on the open port so far: once it grows, the thread listens.
    uint64_t ReadsBegun() const { return readsBegun_.load(); }

private:
    void run();
    void OnLineGone() override { thread_.Wake().set(); }
    void OnLineOpened() override { thread_.Wake().set(); }

    CSerial& port_;
    LineOwner owner_;
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> readsBegun_{0};
    std::atomic<bool> watching_{false};
    WorkerThread thread_;
};

} // namespace pell

#pragma once
// The firmware download's runner: loads the image and drives the exchange
// of DownloadProtocol over the port.
//
// The protocol is a state machine without threads or time of its own; this
// session feeds it and carries out what it asks. The page's thread starts
// and cancels downloads (ToggleDownload); the receive dispatch thread hands
// every received chunk to OnPortData while a download is active; one worker
// thread waits for whatever is due next (the 500 ms handshake tick on the
// ticker clock, a block's 5000 ms answer time-out on the worker clock) and
// writes the handshake bytes, the 0x06 and the block frames, in the order
// the machine asked for them. While no download is under way the worker
// blocks until a start, a cancel or the end of the session: idle costs
// nothing. A download ends only with success, with a cancel or with the
// port being closed (the owner then calls ToggleDownload); how it ended is
// a DownloadResult, handed to the view and kept for LastResult().
#include "serial/ReceiveDispatcher.h"
#include "common/Clock.h"
#include "common/PageLog.h"
#include "common/WorkerThread.h"
#include "download/DownloadImage.h"
#include "download/DownloadProtocol.h"
#include "download/DownloadResult.h"
#include "serial/CSerial.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pell {

// How fast the current pass goes, after each accepted block.
struct TransferRate {
    uint32_t bytesDone = 0;     // image bytes accepted in this pass
    uint32_t imageLength = 0;
    double bytesPerSecond = 0;  // since the pass's first frame
    double secondsLeft = 0;     // at that rate
};

// What the session needs of its page. Calls marked "any thread" come from the
// worker, the receive dispatch thread or the page's own thread; they must
// not wait for the page's thread (queue the work there instead), because
// they may be made while the session holds its locks.
class IDownloadView {
public:
    virtual ~IDownloadView() = default;

    // Any thread. A time-stamped line was added to the log; the log was
    // emptied first when `emptiedFirst` is true.
    virtual void LogAppended(const std::string& line, bool emptiedFirst) = 0;
    // Any thread. The log was emptied.
    virtual void LogCleared() = 0;
    // Any thread. Progress bar range 0 .. blocks, and its position.
    virtual void SetProgressRange(int blocks) = 0;
    virtual void SetProgress(int position) = 0;
    // Any thread. Download button reads "取消", type/load/path disabled,
    // progress bar shown.
    virtual void ShowActiveLook() = 0;
    // Any thread. Download button reads "下载", type/load/path enabled,
    // progress bar at 0 and hidden, throughput hidden, prompt closed.
    virtual void ShowIdleLook() = 0;
    // Any thread. After every accepted block.
    virtual void ShowThroughput(const TransferRate& rate) = 0;
    // Any thread. The boot loader answered: the power-cycle prompt closes.
    virtual void ClosePowerCyclePrompt() = 0;
    // Any thread. Block `block` was rejected or got no answer; the image
    // starts again at block 1 after a new 'P' handshake. Comes right before
    // that block's log line.
    virtual void BlockFailed(int /*block*/, BlockFailure /*kind*/) {}
    // Any thread. A download that started is over, however it ended; once
    // per download (a session shut down in the middle of one reports
    // nothing). On a success it comes with the last block's confirmation,
    // before the page is reset. Must not call back into the session.
    virtual void DownloadEnded(const DownloadResult& /*result*/) {}

    // The thread that called ToggleDownload (the page's); may be modal.
    // The prompt "请将设备重新上电", caption "提示".
    virtual void ShowPowerCyclePrompt() = 0;
    // A message box with an OK button (texts in GBK).
    virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
    // The image file could not be opened or read (`error` is an errno value,
    // `reason` the same in words, untranslated: "is not a regular file (a
    // named pipe)"; `path` as given to ToggleDownload).
    virtual void ShowFileError(const std::string& path, int error, const std::string& reason) = 0;
};

class DownloadSession : public IDownloadReceiver {
public:
    // How a ToggleDownload ended.
    enum class Toggle { Started, Reset, NoPort, NoFile, FileError, BadLength };

    static constexpr int kHandshakePeriodMs = DownloadProtocol::kHandshakePeriodMs;
    static constexpr int kAckTimeoutMs = DownloadProtocol::kAckTimeoutMs;

    // `clock` times the waits for a block's answer (the 5 s time-out);
    // `ticker` paces the 500 ms handshake. A test hands in clocks it
    // advances itself.
    DownloadSession(IDownloadView& view, CSerial& port, const Clock& clock);
    DownloadSession(IDownloadView& view, CSerial& port, const Clock& clock, const Clock& ticker);
    ~DownloadSession() override;
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    // Starts the worker (once).
    void Init();
    // Stops and joins them; also done by the destructor. The owner stops
    // routing received chunks here before the session goes away.
    void Shutdown();

    // The Download button: ToggleDownload; after a cancel, wake the worker so
    // that it leaves a block's wait at once.
    Toggle OnDownloadButton(const std::string& imagePath, const std::string& programType);
    // Starts a download while none is active, otherwise resets the page.
    // `imagePath` is in the file system's encoding; `programType` is the
    // program type box's text (GBK): "引导程序" selects the boot-program
    // handshake, every other text the loader handshake. Starting blocks in
    // the view's power-cycle prompt.
    Toggle ToggleDownload(const std::string& imagePath = {}, const std::string& programType = {});

    // The page log: "<Time:...>:" + text, emptied once it reached 1 MiB.
    void AppendLog(std::string_view text);
    void ClearLog();
    std::string LogText() const;

    // IDownloadReceiver (receive dispatch thread).
    bool IsDownloadActive() const override { return active_.load() != 0; }
    bool HoldsLine() const override { return claimed_.load() || IsDownloadActive(); }
    // The page claims the line while it starts a download, before the
    // session is active: published before it asks whether the configuration
    // page holds the line, so two starts at once cannot both go ahead.
    void ClaimLine(bool claimed)
    {
        claimed_.store(claimed);
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    void OnPortData(int length, const char* bytes) override;

    // One tick of the 500 ms handshake timer, now: 'B' in BootBanner, 'P'
    // in LoaderHandshake, while the port is open. Returns the byte sent or 0.
    char OnTimer();

    DownloadState State() const { return static_cast<DownloadState>(state_.load()); }
    int AckResult() const { return ackResult_.load(); }
    uint32_t SentOffset() const { return sentOffset_.load(); }
    uint32_t ImageLength() const { return imageLength_.load(); }
    std::string ReplyText() const;
    // True while the worker waits for the answer to a block it has sent.
    bool AwaitingAnswer() const { return awaitingAnswer_.load(); }
    // True while the worker blocks until a start, a cancel or the end of
    // the session, with no wait on any clock under way.
    bool WorkerParked() const { return parked_.load(); }
    // How the last download ended, or why the last start was refused;
    // empty before the first ToggleDownload that tried to start one.
    std::optional<DownloadResult> LastResult() const;

private:
    // A write the machine asked for, in the order it asked.
    using Outbox = std::deque<DownloadAction>;

    Toggle start(const std::string& imagePath, const std::string& programType);
    Toggle refuse(Toggle toggle, DownloadEnd why, int fileError = 0);
    void cancel();
    // Carries out the machine's actions under mutex_: view calls and log
    // lines at once, writes into `writes` (the worker's outbox unless
    // given). Then publishes the machine's words.
    void apply(DownloadActions actions, Outbox* writes = nullptr);
    void publish();
    // The worker wakes for what is due sooner than before, or to write.
    void wakeWorkerIfNeeded(int64_t deadlineBefore, uint32_t passBefore, bool answerBefore);
    void DownloadWorker();
    // Writes what the outbox holds (worker), in order, under wireMutex_.
    void drain();
    bool write(const DownloadAction& action);
    void showRate(uint32_t bytesDone, uint32_t imageLength);

    IDownloadView& view_;
    CSerial& port_;
    const Clock& clock_;
    const Clock& ticker_;

    // Published words, for the other threads and the tests.
    std::atomic<int> state_{static_cast<int>(DownloadState::Idle)};
    std::atomic<int> ackResult_{kAckNone};
    std::atomic<int> active_{0};
    std::atomic<bool> claimed_{false};
    std::atomic<uint32_t> imageLength_{0};
    std::atomic<uint32_t> sentOffset_{0};
    std::atomic<bool> awaitingAnswer_{false};
    std::atomic<bool> parked_{false};
    // Ends the wait for a block's answer: the answer, a reset or the end of
    // the session, and nothing else, so a set event always has its cause.
    Event answerEvent_;

    // Held from taking a write out of the machine to the end of writing it,
    // by the worker and by OnTimer: the bytes reach the wire in the order
    // the machine asked for them, so no handshake 'P' ever follows the 0x06.
    // Taken before mutex_.
    std::mutex wireMutex_;

    // Guards the machine, the image, the outbox and the session's time.
    // Held briefly; never across a write or a wait.
    mutable std::mutex mutex_;
    DownloadProtocol machine_;
    DownloadImage image_;
    Outbox outbox_;
    std::optional<DownloadResult> lastResult_;
    // The session's time in the machine's milliseconds: the deadline the
    // last wait ran out at. Every wait lasts from its start to the
    // deadline, so the periods count from when they were armed.
    int64_t now_ = 0;
    std::unique_ptr<uint8_t[]> frame_; // kFrameCapacity bytes, worker only
    int64_t passStartUs_ = 0;          // worker only: the pass's first frame

    // Keeps the log's lines and the view's calls in the same order.
    mutable std::mutex logMutex_;
    PageLog log_;

    // Last: stopped first.
    WorkerThread worker_;
};

} // namespace pell

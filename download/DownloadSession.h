#pragma once
// The firmware download: loads an image and hands it block by block to the
// controller's boot loader.
//
// Three threads meet here. The page's thread starts and cancels downloads
// (ToggleDownload); a timer thread sends the handshake byte every 500 ms
// ('B' until the boot program says "boot update", then 'P'); the worker sends
// 0x06 after the boot loader's 'P', then the frames, each after the previous
// one was answered; the receive dispatch thread hands every received chunk to
// OnPortData while a download is active. Every error or missing answer sends
// the device back to the 'P' handshake and the image starts again at block 1,
// without a retry limit: a download ends only with success, with a cancel or
// with the port being closed (the owner then calls ToggleDownload).
#include "serial/ReceiveDispatcher.h"
#include "common/Clock.h"
#include "common/PageLog.h"
#include "download/DownloadFrame.h"
#include "download/ReplyWindow.h"
#include "serial/CSerial.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace pell {

enum class DownloadState : int {
    Idle = 0,
    BootBanner = 1,      // 'B' every 500 ms until "boot update"
    LoaderHandshake = 2, // 'P' every 500 ms until a chunk starts with 'P'
    LoaderReady = 3,     // the worker sends 0x06 next
    Transfer = 4,        // frames and their answers
    Done = 5,            // last block accepted; the worker resets the page
};

// Acknowledgement results.
enum AckResult : int { kAckNone = 0, kAckAccepted = 1, kAckRejected = 2 };

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

    // The thread that called ToggleDownload (the page's); may be modal.
    // The prompt "请将设备重新上电", caption "提示".
    virtual void ShowPowerCyclePrompt() = 0;
    // A message box with an OK button (texts in GBK).
    virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
    // The image file could not be opened or read (`error` is an errno value;
    // `path` as given to ToggleDownload).
    virtual void ShowFileError(const std::string& path, int error) = 0;
};

class DownloadSession : public IDownloadReceiver {
public:
    // How a ToggleDownload ended.
    enum class Toggle { Started, Reset, NoPort, NoFile, FileError, BadLength };

    static constexpr int kHandshakePeriodMs = 500;
    static constexpr int kIdlePauseMs = 1000;
    static constexpr int kAckTimeoutMs = 5000;

    // `clock` times the worker's waits (the 5 s answer time-out and its 1 s
    // idle pause); `ticker` paces the 500 ms handshake timer. A test hands
    // in clocks it advances itself.
    explicit DownloadSession(IDownloadView& view, CSerial& port = theSerial,
                             const Clock& clock = systemClock());
    DownloadSession(IDownloadView& view, CSerial& port, const Clock& clock, const Clock& ticker);
    ~DownloadSession() override;
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    // Starts the worker and the handshake timer (once).
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
    void OnPortData(int length, const char* bytes) override;

    // One tick of the 500 ms timer: 'B' in BootBanner, 'P' in
    // LoaderHandshake, while the port is open. Returns the byte sent or 0.
    char OnTimer();

    DownloadState State() const { return static_cast<DownloadState>(state_.load()); }
    int AckResult() const { return ackResult_.load(); }
    uint32_t SentOffset() const { return sentOffset_.load(); }
    uint32_t ImageLength() const { return imageLength_.load(); }
    std::string ReplyText() const;
    // True while the worker waits for the answer to a block it has sent.
    bool AwaitingAnswer() const { return awaitingAnswer_.load(); }

private:
    Toggle start(const std::string& imagePath, const std::string& programType);
    Toggle loadImage(const std::string& imagePath);
    void resetLocked();
    void DownloadWorker();
    void idlePass();
    void blockLoop();
    bool waitForAnswer();
    void timerLoop();
    void logBlock(const char* format, uint32_t offset);
    bool compareAndSetState(DownloadState from, DownloadState to);

    IDownloadView& view_;
    CSerial& port_;
    const Clock& clock_;
    const Clock& ticker_;

    // Shared words.
    std::atomic<int> state_{static_cast<int>(DownloadState::Idle)};
    std::atomic<int> ackResult_{kAckNone};
    std::atomic<int> active_{0};
    std::atomic<uint32_t> imageLength_{0};
    std::atomic<uint32_t> sentOffset_{0};
    std::atomic<bool> awaitingAnswer_{false};
    // Wakes the worker's idle pause: the boot loader's 'P', an error report,
    // the Download button.
    Event ackEvent_;
    // Ends the wait for a block's answer: the answer, a reset or the end of
    // the session, and nothing else, so a set event always has its cause.
    Event answerEvent_;

    // Held while the timer looks at the state and writes its handshake byte,
    // and while the worker sends 0x06 and enters Transfer: no 'P' of the
    // timer ever follows the 0x06 on the wire.
    std::mutex wireMutex_;

    // Guards the image, and the changes of state, offset and length by the
    // page's thread and the worker (the receive side changes the state with
    // compare-and-set only). Held briefly; never across a write or a wait.
    std::mutex mutex_;
    std::unique_ptr<uint8_t[]> image_;     // kImageCapacity bytes
    std::unique_ptr<uint8_t[]> frame_;     // kFrameCapacity bytes, worker only

    mutable std::mutex replyMutex_;
    std::unique_ptr<ReplyWindow> reply_;

    // Keeps the log's lines and the view's calls in the same order.
    mutable std::mutex logMutex_;
    PageLog log_;

    std::atomic<bool> stop_{false};
    Event stopEvent_;
    std::thread worker_;
    std::thread timer_;
};

} // namespace pell

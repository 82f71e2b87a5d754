#pragma once
// The debug terminal without its window: the receive store and its display
// updates, the send buffers and the sender thread, the answer table and the
// receive switch. The page (CDebug) only moves texts between this and its
// controls.
//
// Threads: the receive dispatch thread calls OnTerminalData and
// NotifyReceiveUpdate; the UI thread calls everything else; the sender
// thread writes to the port. Buffers are behind locks, counters and switch
// mirrors are atomics; no call here waits for the port.
#include "common/Clock.h"
#include "common/WorkerThread.h"
#include "debug/AnswerTable.h"
#include "debug/HexText.h"
#include "debug/ReceiveStore.h"
#include "serial/ReceiveDispatcher.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace pell {

class CSerial;

// The port as the terminal uses it.
class ITerminalPort {
public:
    virtual ~ITerminalPort() = default;
    virtual bool IsOpen() const = 0;
    // Blocking write; the count written.
    virtual int Write(const char* bytes, int count) = 0;
};

class SerialTerminalPort : public ITerminalPort {
public:
    explicit SerialTerminalPort(CSerial& port) : port_(port) {}
    bool IsOpen() const override;
    int Write(const char* bytes, int count) override;

private:
    CSerial& port_;
};

// What the terminal tells its page. Called on the dispatch or the sender
// thread; an implementation only queues work for the UI thread.
class ITerminalView {
public:
    virtual ~ITerminalView() = default;
    // New bytes (or a restart) to show. At most one is outstanding: the
    // next comes only after BeginRefresh().
    virtual void RefreshWanted() = 0;
    // The sent counter changed (a send went out).
    virtual void SentCountChanged(int count) = 0;
};

enum class SendKind { Manual, Timer, Answer };
enum class SendResult { Queued, Empty, NoPort, LineHeld, Busy };
enum class ToggleResult { On, Off, NoPort };

class DebugTerminal : public ITerminalReceiver {
public:
    static constexpr std::size_t kHexSendMax = 5120;
    static constexpr std::size_t kTextSendMax = 10240;
    // Answers waiting for the sender at most; more are dropped (counted).
    static constexpr std::size_t kMaxQueuedAnswers = 8;
    // Pause before an automatic answer goes out (the far end turns its line round).
    static constexpr int kAnswerDelayMs = 10;

    explicit DebugTerminal(ITerminalPort& port, const Clock& clock = systemClock());
    ~DebugTerminal() override;
    DebugTerminal(const DebugTerminal&) = delete;
    DebugTerminal& operator=(const DebugTerminal&) = delete;

    // Start-up: receive off, store empty, counters 0, sender running.
    void Init();
    // Stops and joins the sender (a write under way ends first).
    void Stop();

    void SetView(ITerminalView* view) { view_.store(view); }
    // Whether another page holds the conversation (a download, or the
    // configuration page waiting for configuration mode or running a job);
    // any thread. nullptr: never.
    void SetLineCheck(std::function<bool()> check);
    // Enables (true) or disables the main window's navigation; UI thread.
    void SetNavigationSwitch(std::function<void(bool)> sw) { navigation_ = std::move(sw); }

    // ITerminalReceiver (dispatch thread).
    bool IsReceiving() const override { return receiving_.load(); }
    void OnTerminalData(int length, const char* bytes) override;
    void NotifyReceiveUpdate() override;

    // The receive switch: on only with an open port; the navigation is
    // disabled while it is on.
    ToggleResult ToggleReceive();

    // Display: BeginRefresh before Update, so that bytes arriving meanwhile
    // ask for the next refresh.
    void BeginRefresh() { refreshPending_.store(false); }
    DisplayUpdate Update(DisplayCursor& cursor) const { return store_.Update(cursor); }
    void SetHexDisplay(bool hex) { store_.SetHex(hex); }
    bool HexDisplay() const { return store_.Hex(); }
    // Store emptied and the sent counter 0.
    void Clear();
    const ReceiveStore& Store() const { return store_; }

    // Send side. The typed text (GBK) goes into the current mode's buffer:
    // hex is parsed (the buffer is empty unless Ok), text is cut to 10,240
    // bytes at a character boundary.
    HexParse SetSendText(const std::string& text);
    void SetHexSend(bool hex) { hexSend_.store(hex); }
    bool HexSend() const { return hexSend_.load(); }
    void SetSendNewline(bool on) { sendNewline_.store(on); }
    // "自动回复": answers are given only while it is on.
    void SetAutoAnswer(bool on) { autoAnswer_.store(on); }
    bool AutoAnswer() const { return autoAnswer_.load(); }
    // The current mode's buffer as the send edit shows it.
    std::string SendTextForMode() const;
    // Hands the current mode's buffer to the sender. A manual send or a
    // timer tick while a send is still under way is Busy.
    SendResult SendBuffer(SendKind kind);
    int SentCount() const { return sent_.load(); }
    bool SendBusy() const;

    // Answers.
    std::vector<AnswerProblem> LoadAnswers(std::string_view csv);
    int AnswerRows() const;
    uint8_t AnswerCounter() const { return counter_.load(); }
    // The latest answer given since the last call (for the send edit).
    bool TakeShownAnswer(std::string& text);
    void SetAnswerDelay(int ms) { answerDelayMs_.store(ms); }

    // Figures.
    uint64_t BytesReceived() const { return received_.load(); }
    uint64_t AnswersQueued() const { return answers_.load(); }
    uint64_t AnswersSkipped() const { return answersSkipped_.load(); }
    uint64_t SendsSkipped() const { return sendsSkipped_.load(); }

private:
    struct Job {
        std::string bytes;
        bool newline = false;
        SendKind kind = SendKind::Manual;
    };

    void answer(const char* bytes, int length);
    bool lineHeld() const;
    SendResult enqueue(Job job);
    void run();
    void write(const Job& job);

    ITerminalPort& port_;
    const Clock& clock_;
    ReceiveStore store_;
    std::atomic<ITerminalView*> view_{nullptr};
    std::function<void(bool)> navigation_;

    mutable std::mutex lineCheckMutex_;
    std::shared_ptr<const std::function<bool()>> lineCheck_;

    std::atomic<bool> receiving_{false};
    std::atomic<bool> refreshPending_{false};
    std::atomic<bool> hexSend_{false};
    std::atomic<bool> sendNewline_{false};
    std::atomic<bool> autoAnswer_{false};
    std::atomic<int> sent_{0};
    std::atomic<uint8_t> counter_{0};
    std::atomic<int> answerDelayMs_{kAnswerDelayMs};
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> answers_{0};
    std::atomic<uint64_t> answersSkipped_{0};
    std::atomic<uint64_t> sendsSkipped_{0};

    // The send buffers and the answer last shown.
    mutable std::mutex sendMutex_;
    std::string hexBuffer_;
    std::string textBuffer_;
    std::string shownAnswer_;
    bool answerToShow_ = false;

    // The answer table, replaced whole by a load.
    mutable std::mutex tableMutex_;
    std::shared_ptr<const AnswerTable> table_;

    // The sender's queue.
    mutable std::mutex queueMutex_;
    std::deque<Job> queue_;
    bool writing_ = false;
    WorkerThread sender_;
};

} // namespace pell

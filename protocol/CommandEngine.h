#pragma once
// Sends one AT command at a time and waits for the controller's answer.
//
// The worker thread calls SendCommand; the receive dispatch thread feeds the
// received bytes in with OnCommandData (while a job runs) or AppendReply
// (while the configuration page waits for configuration mode). A reply is
// recognised by plain substring search for the row's OK or error text over
// everything received since the command was sent: no framing, no echo
// handling, no retries (the jobs retry where they need to).
//
// After every answered command the engine pauses one second, whatever the
// answer, to pace the controller. The row's time-out counts from the
// command and again from every byte of a reply still arriving, so a long
// report on a slow line is not cut off while the controller is talking (up
// to kArrivingStretch time-outs in all); a line with nothing on it times out
// as the row says.
//
// A late answer never counts for a later command. When a command times out
// the engine keeps listening, before it returns and before anything else
// can be sent, for that command's late OK or error reply: until it arrives
// (the command then counts as answered late, not confirmed, and the usual
// one-second pause follows) or until kLateWindowMs have passed without it
// (unanswered). What arrives meanwhile stays in the command's reply text.
// Only commands that time out pay for this; a line that goes away or a
// cancel ends the late window at once.
//
// A vanished line ends a wait at once: the engine watches its port, and
// when the device is lost or the port is closed the pending wait (reply,
// drain or pause) ends and the command fails; it does not wait out the
// row's time-out.
#include "common/Clock.h"
#include "protocol/CommandOutcome.h"
#include "protocol/CommandTable.h"
#include "protocol/ParamTable.h"
#include "serial/CSerial.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace pell {

// What the receive side has recognised for the pending command.
enum ReplyResultCode { kReplyNone = 0, kReplyOk = 1, kReplyError = 2 };

class CommandEngine : private ILineWatcher {
public:
    static constexpr int kReplyBufferSize = 80970;    // with the closing zero
    static constexpr int kReplyTextMax = kReplyBufferSize - 1;
    static constexpr int kCarryOverBytes = 100;       // kept when the buffer overflows
    static constexpr int kPauseMs = 1000;             // after every answered command
    static constexpr int kLineBufferSize = 255;       // a command line is shorter
    static constexpr int kLateWindowMs = 5000;        // listening for a late reply after a time-out
    static constexpr int kArrivingStretch = 10;       // time-outs a reply still arriving may take at most

    // `clock` times the waits for replies; `pauseClock`, when given, times
    // the pause after a reply instead (tests and benchmarks shorten the
    // pause on its own, since a 1000 ms pause and a 1000 ms time-out are
    // otherwise the same request to a clock).
    CommandEngine(CSerial& port, const Clock& clock, const Clock* pauseClock = nullptr);
    ~CommandEngine() override;
    CommandEngine(const CommandEngine&) = delete;
    CommandEngine& operator=(const CommandEngine&) = delete;

    // The parameter values this engine's commands carry and its report
    // handler fills. Any thread (the table locks every access).
    ParamTable& Values() { return values_; }
    const ParamTable& Values() const { return values_; }

    // Builds the command line of the id (command, the id's value in
    // Values() when it has a parameter row, CR LF) without sending it. 0
    // with an empty text when no row has the id or the row has no command
    // (the end row).
    int FormatCommand(int id, std::string& text) const;

    // Builds the line as FormatCommand does, sends it and waits for the OK or
    // error reply or the row's time-out. Returns 1 on the OK reply (or the
    // row's reply handler's result), 0 on every failure. After a failure the
    // text is empty; after a success it holds the line that was sent.
    // Worker thread only; callers are serialised.
    int SendCommand(int id, std::string& text);
    // SendCommand with the given value text instead of the table's (the
    // caller has checked it: one line, at most kParamValueMax bytes), so
    // that nothing rewriting the table meanwhile changes what goes out.
    int SendCommandWith(int id, std::string_view value, std::string& text);

    // The same sends with their whole outcome: how the command ended, the
    // line that went out and the reply text received for it.
    CommandOutcome Execute(int id);
    CommandOutcome ExecuteWith(int id, std::string_view value);

    // Tells from the whole reply text received so far whether a reply that
    // comes in several parts is complete. Called on the receive dispatch
    // thread under the engine's lock with every chunk: it must be quick and
    // must not call the engine.
    using ReplyComplete = std::function<bool(std::string_view reply)>;
    // SendCommand, except that the reply is also taken as answered (like
    // the OK reply) as soon as `complete` says so: a reply that ends
    // without the row's OK text does not cost the row's time-out.
    int SendCommand(int id, std::string& text, ReplyComplete complete);
    CommandOutcome Execute(int id, ReplyComplete complete);
    // After SendCommand: waits on the engine's clock, at most `ms`, until
    // `complete` holds for the reply text (checked at once and with every
    // chunk), the line goes away or the wait is cancelled. True when the
    // reply is complete. A reply that completes only during this wait is
    // followed by the usual pause, as after every answer. Worker thread.
    bool WaitForReplyEnd(const ReplyComplete& complete, int ms);

    // Receive dispatch thread: appends a chunk and checks it against the
    // pending command's replies. An empty chunk does nothing.
    void OnCommandData(int length, const char* bytes);
    // Receive dispatch thread: appends a chunk without checking it.
    void AppendReply(int length, const char* bytes);

    // A copy of everything received since the command was sent (zero bytes
    // read as blanks).
    std::string GetReplyText() const;
    int ReplyLength() const;
    // Whole-buffer search of the reply text, for occasional checks such as
    // the configuration-mode banner.
    bool ReplyContains(std::string_view pattern) const;
    // Empties the reply text (the configuration page does so when it starts
    // waiting for configuration mode).
    void ResetReply();

    // 0 nothing recognised yet, 1 OK reply, 2 error reply.
    int ReplyResult() const { return result_.load(std::memory_order_acquire); }
    // The id of the command last sent; -1 before the first one.
    int PendingId() const { return pendingId_.load(std::memory_order_acquire); }

    // The parser of the report (AT+SHOW's reply): called with the reply as
    // it stood when its OK came and with Values(), which it fills; its
    // result is the command's. Without one, an OK reply gives 1. Any
    // thread; nullptr removes it.
    void SetReportHandler(ReplyHandler handler) { reportHandler_.store(handler, std::memory_order_release); }
    ReplyHandler ReportHandler() const { return reportHandler_.load(std::memory_order_acquire); }

    // Ends the wait (and the pause, or the late window) of the command
    // pending now: SendCommand returns 0 at once. For shutting the worker
    // down; a command started afterwards is not affected.
    void CancelWait();

private:
    // The port's line went away (device lost or port closing).
    void OnLineGone() override;
    // Waits for the pending command's reply: the row's time-out, counted
    // again from each byte that arrives (at most kArrivingStretch of them).
    void waitForReply(int timeoutMs);
    // Sends the built line of the row and waits for its answer (the send
    // lock held).
    CommandOutcome sendLine(int id, const AtCommandRow* row, std::string line, ReplyComplete complete);
    // SendCommand's result and text from an outcome.
    static int resultOf(const CommandOutcome& outcome, std::string& text);
    void resetLocked(int id, const AtCommandRow* row);
    void appendLocked(int length, const char* bytes);
    bool scanLocked(const char* pattern, bool& seen);

    CSerial& port_;
    const Clock& clock_;
    const Clock& pauseClock_;

    mutable std::mutex mutex_;       // the reply text and the recognition state
    std::unique_ptr<char[]> reply_;  // kReplyBufferSize bytes, zero-terminated
    int length_ = 0;
    // Recognition is incremental: the text up to scanned_ has been searched
    // and the flags say whether it holds the OK / error reply. Only an
    // occurrence ending in the new bytes can be new, so each chunk costs its
    // own length plus the pattern length.
    int scanned_ = 0;
    bool okSeen_ = false;
    bool errorSeen_ = false;
    const AtCommandRow* pendingRow_ = nullptr;
    // The pending command's own test for a complete reply (may be empty),
    // and the one a WaitForReplyEnd waits on (nullptr when none waits).
    ReplyComplete pendingComplete_;
    const ReplyComplete* awaitedEnd_ = nullptr;
    bool cancelled_ = false;
    // The line went away since the pending command was prepared.
    bool lineGone_ = false;
    // Bytes arrived since the pending command was prepared, the last at
    // lastByteMs_ on the engine's clock.
    bool bytesSince_ = false;
    int64_t lastByteMs_ = 0;

    std::atomic<int> result_{kReplyNone};
    std::atomic<int> pendingId_{-1};
    std::atomic<ReplyHandler> reportHandler_{nullptr};
    Event replyEvent_;  // manual reset: a reply text was recognised, the
                        // line went away, or the wait was cancelled
    Event pauseEvent_;  // cuts the pause short on CancelWait or a lost line
    Event endEvent_;    // WaitForReplyEnd: complete, line gone or cancelled

    ParamTable values_;

    std::mutex sendMutex_;               // one command at a time
    std::unique_ptr<char[]> handlerCopy_; // the stable text given to a reply handler
};


} // namespace pell

#pragma once
// The download's exchange with the boot loader as a state machine on one
// thread: a start, the boot loader's bytes and the passing of time go in;
// what to write, what to log and how the page looks come out as actions.
// It never writes, waits, reads a clock or takes a lock: its runner
// (DownloadSession) does the writes and the waits on its threads and hands
// every time in as milliseconds of one time base.
//
// The handshake byte ('B' until the boot program says "boot update", then
// 'P') goes out every 500 ms; the boot loader's 'P' (behind line noise, if
// any) brings the 0x06 and, once that is written, block 1. Each block waits
// up to 5000 ms, counted from the end of its write, for its answer; 0x05
// sends the next block, anything else or no answer goes back to the 'P'
// handshake and the image starts again at block 1, without a retry limit.
#include "download/DownloadFrame.h"
#include "download/DownloadResult.h"
#include "download/ReplyWindow.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace pell {

enum class DownloadState : int {
    Idle = 0,
    BootBanner = 1,      // 'B' every 500 ms until "boot update"
    LoaderHandshake = 2, // 'P' every 500 ms until a chunk starts with 'P'
    LoaderReady = 3,     // the 0x06 is on its way
    Transfer = 4,        // frames and their answers
    Done = 5,            // last block accepted; the page is reset next
};

// Acknowledgement results.
enum AckResult : int { kAckNone = 0, kAckAccepted = 1, kAckRejected = 2 };

struct DownloadAction {
    enum class Kind {
        Write,         // `byte` to the port: a handshake byte or the 0x06
        SendBlock,     // the frame of the block at `offset` to the port
        Log,           // `text` to the page log
        ProgressRange, // progress bar range 0 .. `value`
        Progress,      // progress bar position `value`
        BlockAccepted, // `offset` image bytes of `length` accepted in this pass
        ActiveLook,    // the page shows a running download
        IdleLook,      // the page is reset
        ClosePrompt,   // the boot loader answered: the power-cycle prompt closes
        BlockFailed,   // block `value` failed (`failure`); the image starts again.
                       // Comes right before that block's log line.
        Ended,         // the download is over: LastResult() tells how. Last
                       // of its actions.
    };
    Kind kind = Kind::Log;
    char byte = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    int value = 0;
    BlockFailure failure = BlockFailure::Rejected;
    // The pass the action belongs to. A write whose pass is over (reset,
    // error, time-out) is dropped by the runner instead of being written.
    uint32_t pass = 0;
    std::string text;
};
using DownloadActions = std::vector<DownloadAction>;

class DownloadProtocol {
public:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
    static constexpr int kHandshakePeriodMs = 500;
    static constexpr int kAckTimeoutMs = 5000;

    // Starts a download of an image of `imageLength` bytes (1 to
    // kImageCapacity - 1) unless one is active: the start line, the progress
    // range, the active look; the first handshake byte is due 500 ms later.
    // `bootProgram` selects the 'B' handshake, otherwise 'P'.
    DownloadActions Start(uint32_t imageLength, bool bootProgram, int64_t nowMs);
    // Resets an active download (cancel, port closed): the idle look, and
    // the error line of the block whose answer was awaited, if one was.
    // `why` is how the download ended, unless it had succeeded already.
    DownloadActions Cancel(DownloadEnd why = DownloadEnd::Cancelled);
    // A chunk of the boot loader's output.
    DownloadActions OnBytes(const char* bytes, int length, int64_t nowMs);
    DownloadActions OnBytes(std::string_view bytes, int64_t nowMs)
    {
        return OnBytes(bytes.data(), static_cast<int>(bytes.size()), nowMs);
    }
    // Time has reached `nowMs`: whatever is due by then (a handshake byte,
    // a block's answer time-out, the reset after the last block).
    DownloadActions OnTick(int64_t nowMs);
    // The runner has written a Write or SendBlock action (or skipped it
    // because the port is closed): after the 0x06 the transfer starts with
    // block 1; after a frame its answer time-out starts.
    DownloadActions OnWritten(const DownloadAction& written, int64_t nowMs);

    // The earliest time something is due; kNever while nothing is.
    int64_t NextDeadline() const;
    int64_t HandshakeDeadline() const { return handshakeAt_; }
    // The block's answer time-out, or the reset after the last block.
    int64_t AnswerDeadline() const { return answerAt_; }

    DownloadState State() const { return state_; }
    bool Active() const { return state_ != DownloadState::Idle; }
    int Ack() const { return ack_; }
    uint32_t SentOffset() const { return sentOffset_; }
    uint32_t ImageLength() const { return imageLength_; }
    uint32_t Pass() const { return pass_; }
    // A block has been written and its answer is awaited.
    bool AwaitingAnswer() const { return state_ == DownloadState::Transfer && written_; }
    // The block frame the machine wants on the wire now, if any.
    bool BlockPending(uint32_t pass, uint32_t offset) const;
    std::string_view ReplyText() const { return reply_.Text(); }
    // How the last download ended, as of its Ended action.
    const DownloadResult& LastResult() const { return last_; }

private:
    void enterHandshake(DownloadActions& out, int64_t nowMs);
    void reset();
    void sendBlock(DownloadActions& out);
    void log(DownloadActions& out, const char* format, uint32_t offset) const;
    void onAnswer(DownloadActions& out, bool accepted, int64_t nowMs);
    void blockFailed(DownloadActions& out, BlockFailure kind, int64_t nowMs);
    void end(DownloadActions& out, DownloadEnd how);

    DownloadState state_ = DownloadState::Idle;
    uint32_t imageLength_ = 0;
    uint32_t sentOffset_ = 0;
    int ack_ = kAckNone;
    uint32_t pass_ = 0;
    int blocksDone_ = 0;     // accepted in this pass: the progress position
    bool written_ = false;   // the current block's frame is on the wire
    int64_t handshakeAt_ = kNever;
    int64_t answerAt_ = kNever;
    ReplyWindow reply_;
    DownloadResult result_; // of the download under way
    bool ended_ = true;     // result_ is final (no download, or Done)
    DownloadResult last_;
};

} // namespace pell

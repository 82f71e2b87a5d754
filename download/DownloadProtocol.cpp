#include "download/DownloadProtocol.h"

#include "download/DownloadTexts.h"

#include <algorithm>
#include <cstdio>

namespace pell {

namespace dt = downloadtext;

namespace {

DownloadAction Act(DownloadAction::Kind kind, uint32_t pass)
{
    DownloadAction a;
    a.kind = kind;
    a.pass = pass;
    return a;
}

} // namespace

int64_t DownloadProtocol::NextDeadline() const
{
    return std::min(handshakeAt_, answerAt_);
}

bool DownloadProtocol::BlockPending(uint32_t pass, uint32_t offset) const
{
    return state_ == DownloadState::Transfer && pass == pass_ && offset == sentOffset_ && !written_;
}

void DownloadProtocol::log(DownloadActions& out, const char* format, uint32_t offset) const
{
    // The block number is the offset's block, the first block being 1.
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<int>(offset / kBlockSize + 1));
    DownloadAction a = Act(DownloadAction::Kind::Log, pass_);
    a.text = text;
    out.push_back(std::move(a));
}

void DownloadProtocol::reset()
{
    state_ = DownloadState::Idle;
    imageLength_ = 0;
    sentOffset_ = 0;
    written_ = false;
    handshakeAt_ = kNever;
    answerAt_ = kNever;
    reply_.Clear();
    ++pass_; // nothing written for the old download goes out any more
}

DownloadActions DownloadProtocol::Start(uint32_t imageLength, bool bootProgram, int64_t nowMs)
{
    DownloadActions out;
    if (Active() || imageLength == 0 || imageLength >= kImageCapacity)
        return out;
    reset();
    imageLength_ = imageLength;
    ack_ = kAckNone;
    blocksDone_ = 0;
    result_ = DownloadResult{};
    result_.imageBytes = imageLength;
    result_.blockCount = BlockCount(imageLength);
    ended_ = false;
    DownloadAction begin = Act(DownloadAction::Kind::Log, pass_);
    begin.text = dt::kLogBegin;
    out.push_back(std::move(begin));
    DownloadAction range = Act(DownloadAction::Kind::ProgressRange, pass_);
    range.value = BlockCount(imageLength);
    out.push_back(range);
    out.push_back(Act(DownloadAction::Kind::ActiveLook, pass_));
    state_ = bootProgram ? DownloadState::BootBanner : DownloadState::LoaderHandshake;
    handshakeAt_ = nowMs + kHandshakePeriodMs;
    return out;
}

DownloadActions DownloadProtocol::Cancel(DownloadEnd why)
{
    DownloadActions out;
    if (!Active())
        return out;
    const bool awaiting = AwaitingAnswer();
    reset();
    out.push_back(Act(DownloadAction::Kind::IdleLook, pass_));
    // The block whose answer was awaited counts as rejected; the reset has
    // already put the offset back, so the line names block 1. The image
    // does not start again, so it is no restart.
    if (awaiting)
        log(out, dt::kLogBlockError, sentOffset_);
    if (!ended_) // a cancel between the last block and its reset changes nothing
        end(out, why);
    return out;
}

void DownloadProtocol::end(DownloadActions& out, DownloadEnd how)
{
    result_.end = how;
    last_ = result_;
    ended_ = true;
    out.push_back(Act(DownloadAction::Kind::Ended, pass_));
}

void DownloadProtocol::blockFailed(DownloadActions& out, BlockFailure kind, int64_t nowMs)
{
    const int block = static_cast<int>(sentOffset_ / kBlockSize + 1);
    DownloadAction failed = Act(DownloadAction::Kind::BlockFailed, pass_);
    failed.value = block;
    failed.failure = kind;
    out.push_back(failed);
    result_.restarts.push_back({block, kind});
    result_.blocks = 0; // nothing stands confirmed until block 1 is again
    log(out, kind == BlockFailure::NoAnswer ? dt::kLogBlockTimeout : dt::kLogBlockError, sentOffset_);
    enterHandshake(out, nowMs);
}

void DownloadProtocol::enterHandshake(DownloadActions&, int64_t nowMs)
{
    // Every error or missing answer: back to 'P', the image again from block 1.
    state_ = DownloadState::LoaderHandshake;
    sentOffset_ = 0;
    written_ = false;
    answerAt_ = kNever;
    handshakeAt_ = nowMs + kHandshakePeriodMs;
    ++pass_;
}

void DownloadProtocol::sendBlock(DownloadActions& out)
{
    const BlockSpan span = BlockAt(imageLength_, sentOffset_);
    DownloadAction a = Act(DownloadAction::Kind::SendBlock, pass_);
    a.offset = sentOffset_;
    a.length = static_cast<uint32_t>(span.length);
    out.push_back(a);
    written_ = false;
    answerAt_ = kNever; // counted from the end of the frame's write
    ack_ = kAckNone;
}

void DownloadProtocol::onAnswer(DownloadActions& out, bool accepted, int64_t nowMs)
{
    ack_ = accepted ? kAckAccepted : kAckRejected;
    reply_.Clear();
    if (!accepted) {
        blockFailed(out, BlockFailure::Rejected, nowMs);
        return;
    }
    const uint32_t offset = sentOffset_;
    const BlockSpan span = BlockAt(imageLength_, offset);
    log(out, dt::kLogBlockOk, offset);
    if (span.last) {
        state_ = DownloadState::Done;
        DownloadAction success = Act(DownloadAction::Kind::Log, pass_);
        success.text = dt::kLogSuccess;
        out.push_back(std::move(success));
    }
    sentOffset_ = offset + static_cast<uint32_t>(span.length);
    ++blocksDone_;
    result_.blocks = blocksDone_;
    DownloadAction progress = Act(DownloadAction::Kind::Progress, pass_);
    progress.value = blocksDone_;
    out.push_back(progress);
    DownloadAction rate = Act(DownloadAction::Kind::BlockAccepted, pass_);
    rate.offset = sentOffset_;
    rate.length = imageLength_;
    out.push_back(rate);
    written_ = false;
    if (span.last) {
        answerAt_ = nowMs; // the reset is due at once
        end(out, DownloadEnd::Succeeded);
    } else {
        sendBlock(out);
    }
}

DownloadActions DownloadProtocol::OnBytes(const char* bytes, int length, int64_t nowMs)
{
    DownloadActions out;
    if (length <= 0 || bytes == nullptr)
        return out;
    reply_.Append(bytes, length);
    switch (state_) {
    case DownloadState::BootBanner:
        if (reply_.Contains(dt::kBootUpdate))
            state_ = DownloadState::LoaderHandshake; // the handshake timer goes on, now with 'P'
        break;
    case DownloadState::LoaderHandshake:
        // Line noise in front of the 'P' does not hide it.
        if (LoaderAnswerEnd(bytes, length) > 0) {
            state_ = DownloadState::LoaderReady;
            handshakeAt_ = kNever;
            result_.loaderAnswered = true;
            out.push_back(Act(DownloadAction::Kind::ClosePrompt, pass_));
            DownloadAction go = Act(DownloadAction::Kind::Write, pass_);
            go.byte = kTransferGo;
            out.push_back(go);
        }
        if (reply_.Contains(dt::kErrorReport)) {
            ack_ = kAckRejected;
            reply_.Clear();
        }
        break;
    case DownloadState::Transfer: {
        // The timer may have sent a second 'P' before the first answer was
        // seen; the loader answers that one too, and its 'P' may arrive only
        // now. It answers no block: skip it, the block's answer is what
        // follows (in this chunk or a later one).
        int at = 0;
        for (int end; at < length && (end = LoaderAnswerEnd(bytes + at, length - at)) > 0;)
            at += end;
        if (at == length)
            break;
        onAnswer(out, bytes[at] == kBlockAccepted, nowMs);
        break;
    }
    case DownloadState::Idle:
    case DownloadState::LoaderReady:
    case DownloadState::Done:
        break;
    }
    return out;
}

DownloadActions DownloadProtocol::OnTick(int64_t nowMs)
{
    DownloadActions out;
    if (nowMs >= handshakeAt_) {
        if (state_ == DownloadState::BootBanner || state_ == DownloadState::LoaderHandshake) {
            DownloadAction a = Act(DownloadAction::Kind::Write, pass_);
            a.byte = state_ == DownloadState::BootBanner ? kBootHandshake : kLoaderHandshake;
            out.push_back(a);
            // One period after this tick, however late it came: a late tick
            // does not make the next ones follow in a burst.
            handshakeAt_ = nowMs + kHandshakePeriodMs;
        } else {
            handshakeAt_ = kNever;
        }
    }
    if (nowMs >= answerAt_) {
        if (state_ == DownloadState::Done) {
            reset();
            out.push_back(Act(DownloadAction::Kind::IdleLook, pass_));
        } else if (AwaitingAnswer()) {
            blockFailed(out, BlockFailure::NoAnswer, nowMs);
        } else {
            answerAt_ = kNever;
        }
    }
    return out;
}

DownloadActions DownloadProtocol::OnWritten(const DownloadAction& written, int64_t nowMs)
{
    DownloadActions out;
    if (written.pass != pass_)
        return out;
    if (written.kind == DownloadAction::Kind::Write && written.byte == kTransferGo &&
        state_ == DownloadState::LoaderReady) {
        state_ = DownloadState::Transfer;
        sentOffset_ = 0;
        blocksDone_ = 0;
        sendBlock(out);
    } else if (written.kind == DownloadAction::Kind::SendBlock &&
               BlockPending(written.pass, written.offset)) {
        written_ = true;
        answerAt_ = nowMs + kAckTimeoutMs;
    }
    return out;
}

} // namespace pell

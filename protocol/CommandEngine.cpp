#include "protocol/CommandEngine.h"

#include <algorithm>
#include <cstring>

namespace pell {

CommandEngine::CommandEngine(CSerial& port, const Clock& clock, const Clock* pauseClock)
    : port_(port),
      clock_(clock),
      pauseClock_(pauseClock != nullptr ? *pauseClock : clock),
      reply_(std::make_unique<char[]>(kReplyBufferSize)),
      handlerCopy_(std::make_unique<char[]>(kReplyBufferSize))
{
    reply_[0] = '\0';
    port_.AddLineWatcher(this);
}

CommandEngine::~CommandEngine()
{
    port_.RemoveLineWatcher(this);
}

int CommandEngine::FormatCommand(int id, std::string& text) const
{
    text.clear();
    const AtCommandRow* row = FindAtRow(id);
    if (row == nullptr || row->command == nullptr || row->command[0] == '\0')
        return 0;
    text.reserve(kLineBufferSize);
    text.append(row->command);
    std::string value;
    if (values_.Get(id, value))
        text.append(value);
    text.append("\r\n");
    return 1;
}

const char* CommandStatusName(CommandStatus status)
{
    switch (status) {
    case CommandStatus::Confirmed: return "confirmed";
    case CommandStatus::Refused: return "refused";
    case CommandStatus::Unanswered: return "no answer";
    case CommandStatus::AnsweredLate: return "answered late";
    case CommandStatus::LineLost: return "line lost";
    case CommandStatus::NotSent: return "not sent";
    case CommandStatus::Cancelled: return "stopped";
    }
    return "not sent";
}

int CommandEngine::resultOf(const CommandOutcome& outcome, std::string& text)
{
    if (outcome.Confirmed()) {
        text = outcome.line;
        return outcome.handlerResult;
    }
    text.clear();
    return 0;
}

int CommandEngine::SendCommand(int id, std::string& text)
{
    return resultOf(Execute(id, ReplyComplete()), text);
}

int CommandEngine::SendCommand(int id, std::string& text, ReplyComplete complete)
{
    return resultOf(Execute(id, std::move(complete)), text);
}

int CommandEngine::SendCommandWith(int id, std::string_view value, std::string& text)
{
    return resultOf(ExecuteWith(id, value), text);
}

CommandOutcome CommandEngine::Execute(int id)
{
    return Execute(id, ReplyComplete());
}

CommandOutcome CommandEngine::Execute(int id, ReplyComplete complete)
{
    std::lock_guard<std::mutex> sending(sendMutex_);
    const AtCommandRow* row = FindAtRow(id);
    std::string line;
    if (row == nullptr || FormatCommand(id, line) == 0) {
        CommandOutcome none;
        none.id = id;
        return none;
    }
    return sendLine(id, row, std::move(line), std::move(complete));
}

CommandOutcome CommandEngine::ExecuteWith(int id, std::string_view value)
{
    std::lock_guard<std::mutex> sending(sendMutex_);
    const AtCommandRow* row = FindAtRow(id);
    if (row == nullptr || row->command == nullptr || row->command[0] == '\0') {
        CommandOutcome none;
        none.id = id;
        return none;
    }
    std::string line;
    line.reserve(kLineBufferSize);
    line.append(row->command);
    line.append(value);
    line.append("\r\n");
    return sendLine(id, row, std::move(line), ReplyComplete());
}

CommandOutcome CommandEngine::sendLine(int id, const AtCommandRow* row, std::string line, ReplyComplete complete)
{
    CommandOutcome outcome;
    outcome.id = id;
    outcome.line = std::move(line);

    // Everything that the reply will touch is cleared before the first byte
    // goes out, so no part of the reply can be lost or mixed with older text.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        resetLocked(id, row);
        pendingComplete_ = std::move(complete);
    }

    // A line lost before the reset above is seen here; one lost after it
    // sets the reply event, which ends the wait below at once.
    if (!port_.IsOpen() || port_.IsLost()) {
        outcome.status = port_.IsLost() ? CommandStatus::LineLost : CommandStatus::NotSent;
        return outcome;
    }
    const int size = static_cast<int>(outcome.line.size());
    if (port_.Write(outcome.line.data(), size) < size) {
        outcome.status = port_.IsLost() ? CommandStatus::LineLost : CommandStatus::NotSent;
        return outcome;
    }

    waitForReply(row->timeoutMs);

    bool late = false;
    int code;
    int copyLength = 0;
    const ReplyHandler handler = row->parsed ? ReportHandler() : nullptr;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        code = result_.load(std::memory_order_relaxed);
        if (code == kReplyNone && !cancelled_ && !lineGone_) {
            // Not answered in time. The answer may still be on its way:
            // listen for it before anything else goes out, so it is never
            // taken for a later command's.
            late = true;
            lock.unlock();
            clock_.waitFor(replyEvent_, kLateWindowMs);
            lock.lock();
            code = result_.load(std::memory_order_relaxed);
        }
        outcome.reply.assign(reply_.get(), static_cast<std::size_t>(length_));
        if (code == kReplyNone) {
            outcome.status = lineGone_   ? CommandStatus::LineLost
                             : cancelled_ ? CommandStatus::Cancelled
                                          : CommandStatus::Unanswered;
            return outcome;
        }
        if (!late && code == kReplyOk && handler != nullptr) {
            // The handler parses at leisure while late bytes keep arriving:
            // it gets the text as it stood when the reply was taken.
            copyLength = length_;
            std::memcpy(handlerCopy_.get(), reply_.get(), static_cast<std::size_t>(length_) + 1);
        }
    }
    if (late) {
        outcome.status = CommandStatus::AnsweredLate;
        outcome.lateOk = code == kReplyOk;
    } else if (code == kReplyOk) {
        outcome.handlerResult = handler == nullptr ? 1 : handler(handlerCopy_.get(), copyLength, values_);
        outcome.status = outcome.handlerResult != 0 ? CommandStatus::Confirmed : CommandStatus::Refused;
    } else {
        outcome.status = CommandStatus::Refused;
    }

    // The controller answered: pace it, whatever the answer (a stop or a
    // lost line cuts the pause short).
    pauseClock_.waitFor(pauseEvent_, kPauseMs);
    return outcome;
}

void CommandEngine::waitForReply(int timeoutMs)
{
    // The time-out runs from the command, or from the last byte received
    // while the reply keeps arriving (a long report on a slow line), but
    // never beyond kArrivingStretch time-outs in all.
    // The first wait is always begun, even when the reply has already come
    // (the event is set then and it ends at once): one wait per command on
    // the clock, however the reply raced the wait.
    const int64_t start = clock_.nowMs();
    const int64_t limit = start + static_cast<int64_t>(timeoutMs) * kArrivingStretch;
    clock_.waitFor(replyEvent_, timeoutMs);
    for (;;) {
        int64_t deadline;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (result_.load(std::memory_order_relaxed) != kReplyNone || cancelled_ || lineGone_)
                return;
            deadline = std::min(limit, std::max(start, bytesSince_ ? lastByteMs_ : start) + timeoutMs);
        }
        const int64_t now = clock_.nowMs();
        if (now >= deadline)
            return;
        clock_.waitFor(replyEvent_, static_cast<int>(deadline - now));
    }
}

bool CommandEngine::WaitForReplyEnd(const ReplyComplete& complete, int ms)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (complete(std::string_view(reply_.get(), static_cast<std::size_t>(length_))))
            return true;
        if (cancelled_ || lineGone_)
            return false;
        // From here on every chunk is checked as it arrives.
        endEvent_.reset();
        awaitedEnd_ = &complete;
    }
    clock_.waitFor(endEvent_, ms);
    bool ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        awaitedEnd_ = nullptr;
        ended = !cancelled_ && complete(std::string_view(reply_.get(), static_cast<std::size_t>(length_)));
    }
    // The reply ended only now: pace the controller as after every answer.
    if (ended)
        pauseClock_.waitFor(pauseEvent_, kPauseMs);
    std::lock_guard<std::mutex> lock(mutex_);
    return ended && !cancelled_;
}

void CommandEngine::resetLocked(int id, const AtCommandRow* row)
{
    length_ = 0;
    reply_[0] = '\0';
    scanned_ = 0;
    okSeen_ = false;
    errorSeen_ = false;
    cancelled_ = false;
    lineGone_ = false;
    bytesSince_ = false;
    result_.store(kReplyNone, std::memory_order_release);
    pendingId_.store(id, std::memory_order_release);
    pendingRow_ = row;
    pendingComplete_ = nullptr;
    replyEvent_.reset();
    pauseEvent_.reset();
}

void CommandEngine::appendLocked(int length, const char* bytes)
{
    lastByteMs_ = clock_.nowMs();
    bytesSince_ = true;
    char* text = reply_.get();
    int start;
    if (length_ + length <= kReplyTextMax) {
        start = length_;
    } else {
        // Keep the tail of what is there so that a reply cut by the overflow
        // is still found, then the chunk. A chunk too long for even that
        // keeps its own last bytes.
        int keep = std::min(length_, kCarryOverBytes);
        if (length >= kReplyTextMax) {
            bytes += length - kReplyTextMax;
            length = kReplyTextMax;
            keep = 0;
        } else if (keep + length > kReplyTextMax) {
            keep = kReplyTextMax - length;
        }
        std::memmove(text, text + length_ - keep, static_cast<std::size_t>(keep));
        start = keep;
        // The text changed under the search: search it again from the start.
        scanned_ = 0;
        okSeen_ = false;
        errorSeen_ = false;
    }
    std::memcpy(text + start, bytes, static_cast<std::size_t>(length));
    // Zero bytes are line noise; as blanks the text stays one searchable string.
    for (char* p = text + start; p != text + start + length; ++p) {
        if (*p == '\0')
            *p = ' ';
    }
    length_ = start + length;
    text[length_] = '\0';
}

bool CommandEngine::scanLocked(const char* pattern, bool& seen)
{
    if (seen)
        return true;
    std::string_view whole(reply_.get(), static_cast<std::size_t>(length_));
    std::string_view p(pattern);
    if (p.empty())
        return seen = true;
    std::size_t overlap = p.size() - 1;
    std::size_t from = static_cast<std::size_t>(scanned_) > overlap ? scanned_ - overlap : 0;
    seen = whole.find(p, from) != std::string_view::npos;
    return seen;
}

void CommandEngine::AppendReply(int length, const char* bytes)
{
    if (length <= 0 || bytes == nullptr)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    appendLocked(length, bytes);
}

void CommandEngine::OnCommandData(int length, const char* bytes)
{
    if (length <= 0 || bytes == nullptr)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    appendLocked(length, bytes);
    const AtCommandRow* row = pendingRow_;
    if (row == nullptr)
        return;
    bool recognised = false;
    const std::string_view whole(reply_.get(), static_cast<std::size_t>(length_));
    if ((row->okReply != nullptr && scanLocked(row->okReply, okSeen_)) ||
        (pendingComplete_ && pendingComplete_(whole))) {
        result_.store(kReplyOk, std::memory_order_release);
        recognised = true;
    }
    if (awaitedEnd_ != nullptr && (*awaitedEnd_)(whole))
        endEvent_.set();
    // Checked second, so a text holding both replies counts as the error.
    if (row->errorReply != nullptr && scanLocked(row->errorReply, errorSeen_)) {
        result_.store(kReplyError, std::memory_order_release);
        recognised = true;
    }
    scanned_ = length_;
    if (recognised)
        replyEvent_.set();
}

std::string CommandEngine::GetReplyText() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::string(reply_.get(), static_cast<std::size_t>(length_));
}

int CommandEngine::ReplyLength() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return length_;
}

bool CommandEngine::ReplyContains(std::string_view pattern) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::string_view whole(reply_.get(), static_cast<std::size_t>(length_));
    return whole.find(pattern) != std::string_view::npos;
}

void CommandEngine::ResetReply()
{
    std::lock_guard<std::mutex> lock(mutex_);
    length_ = 0;
    reply_[0] = '\0';
    scanned_ = 0;
    okSeen_ = false;
    errorSeen_ = false;
}

void CommandEngine::CancelWait()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    replyEvent_.set();
    pauseEvent_.set();
    endEvent_.set();
}

void CommandEngine::OnLineGone()
{
    std::lock_guard<std::mutex> lock(mutex_);
    lineGone_ = true;
    replyEvent_.set();
    pauseEvent_.set();
    endEvent_.set();
}

} // namespace pell

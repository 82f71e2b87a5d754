#include "download/DownloadSession.h"

#include "common/LogLine.h"
#include "download/DownloadTexts.h"

#include <algorithm>

namespace pell {

namespace dt = downloadtext;

DownloadSession::DownloadSession(IDownloadView& view, CSerial& port, const Clock& clock)
    : DownloadSession(view, port, clock, clock)
{
}

DownloadSession::DownloadSession(IDownloadView& view, CSerial& port, const Clock& clock,
                                 const Clock& ticker)
    : view_(view),
      port_(port),
      clock_(clock),
      ticker_(ticker),
      frame_(new uint8_t[kFrameCapacity]()),
      log_(dt::kLogBanner)
{
}

DownloadSession::~DownloadSession()
{
    active_.store(0);
    Shutdown();
}

void DownloadSession::Init()
{
    answerEvent_.reset();
    worker_.Start([this] { DownloadWorker(); }, "download");
}

void DownloadSession::Shutdown()
{
    // The stop flag and the wake-up end an idle or handshake wait; a block's
    // answer wait ends on its own event.
    worker_.Stop([this] { answerEvent_.set(); });
}

// ---------------------------------------------------------------- page side

DownloadSession::Toggle DownloadSession::OnDownloadButton(const std::string& imagePath,
                                                          const std::string& programType)
{
    return ToggleDownload(imagePath, programType);
}

DownloadSession::Toggle DownloadSession::ToggleDownload(const std::string& imagePath,
                                                        const std::string& programType)
{
    if (active_.load() != 0) {
        cancel();
        return Toggle::Reset;
    }
    return start(imagePath, programType);
}

void DownloadSession::cancel()
{
    // The owner resets the page after it closed a port, or one whose device
    // vanished; anything else is the user's cancel.
    const DownloadEnd why =
        port_.IsOpen() && !port_.IsLost() ? DownloadEnd::Cancelled : DownloadEnd::LineGone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        apply(machine_.Cancel(why));
        image_.Clear();
        outbox_.clear();
    }
    // A worker waiting for an answer leaves its block at once instead of
    // running into the 5 s time-out (cancel, port closed); an idle one looks
    // and goes back to sleep.
    answerEvent_.set();
    worker_.Wake().set();
}

DownloadSession::Toggle DownloadSession::start(const std::string& imagePath,
                                               const std::string& programType)
{
    if (!port_.IsOpen()) {
        view_.MessageBox(dt::kOpenPortFirst, dt::kNoteCaption);
        return refuse(Toggle::NoPort, DownloadEnd::NoPort);
    }
    if (imagePath.empty()) {
        view_.MessageBox(dt::kSelectFileFirst, dt::kNoteCaption);
        return refuse(Toggle::NoFile, DownloadEnd::NoImage);
    }
    DownloadImage::Result loaded;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loaded = image_.Load(imagePath);
        imageLength_.store(image_.Length());
    }
    if (loaded.status == DownloadImage::Status::BadLength) {
        view_.MessageBox(dt::kSelectFileFirst, dt::kFileLengthCaption);
        return refuse(Toggle::BadLength, DownloadEnd::BadLength);
    }
    if (loaded.status != DownloadImage::Status::Loaded) {
        view_.ShowFileError(imagePath, loaded.error, loaded.reason);
        return refuse(Toggle::FileError, DownloadEnd::ImageUnreadable, loaded.error);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        apply(machine_.Start(loaded.length, programType == dt::kBootProgram, now_));
    }
    worker_.Wake().set(); // the handshake's first tick is due in 500 ms
    // Modal on the page; the worker goes on sending the handshake meanwhile
    // and the boot loader's 'P' closes it.
    view_.ShowPowerCyclePrompt();
    return Toggle::Started;
}

DownloadSession::Toggle DownloadSession::refuse(Toggle toggle, DownloadEnd why, int fileError)
{
    DownloadResult result;
    result.end = why;
    result.fileError = fileError;
    std::lock_guard<std::mutex> lock(mutex_);
    lastResult_ = result;
    return toggle;
}

std::optional<DownloadResult> DownloadSession::LastResult() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastResult_;
}

// ---------------------------------------------------------------- the log

void DownloadSession::AppendLog(std::string_view text)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.Append(text);
    PageLog::Change change = log_.TakePending();
    if (!change.empty())
        view_.LogAppended(change.added, change.cleared);
}

void DownloadSession::ClearLog()
{
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.Clear();
    view_.LogCleared();
}

std::string DownloadSession::LogText() const
{
    return log_.Text();
}

// ---------------------------------------------------------------- the machine

void DownloadSession::apply(DownloadActions actions, Outbox* writes)
{
    using Kind = DownloadAction::Kind;
    for (auto& a : actions) {
        switch (a.kind) {
        case Kind::Write:
        case Kind::SendBlock:
            (writes ? *writes : outbox_).push_back(std::move(a));
            break;
        case Kind::Log:
            AppendLog(a.text);
            break;
        case Kind::ProgressRange:
            view_.SetProgressRange(a.value);
            break;
        case Kind::Progress:
            view_.SetProgress(a.value);
            break;
        case Kind::BlockAccepted:
            showRate(a.offset, a.length);
            break;
        case Kind::ActiveLook:
            view_.ShowActiveLook();
            break;
        case Kind::IdleLook:
            image_.Clear();
            view_.ShowIdleLook();
            break;
        case Kind::ClosePrompt:
            view_.ClosePowerCyclePrompt();
            break;
        case Kind::BlockFailed:
            view_.BlockFailed(a.value, a.failure);
            break;
        case Kind::Ended:
            lastResult_ = machine_.LastResult();
            view_.DownloadEnded(*lastResult_);
            break;
        }
    }
    publish();
}

void DownloadSession::publish()
{
    sentOffset_.store(machine_.SentOffset());
    imageLength_.store(machine_.Active() ? machine_.ImageLength() : image_.Length());
    ackResult_.store(machine_.Ack());
    active_.store(machine_.Active() ? 1 : 0);
    state_.store(static_cast<int>(machine_.State()));
}

void DownloadSession::showRate(uint32_t bytesDone, uint32_t imageLength)
{
    TransferRate rate;
    rate.bytesDone = bytesDone;
    rate.imageLength = imageLength;
    const double seconds = static_cast<double>(monotonicUs() - passStartUs_) / 1e6;
    rate.bytesPerSecond = seconds > 0 ? bytesDone / seconds : 0;
    rate.secondsLeft = rate.bytesPerSecond > 0 ? (imageLength - bytesDone) / rate.bytesPerSecond : 0;
    view_.ShowThroughput(rate);
}

void DownloadSession::wakeWorkerIfNeeded(int64_t deadlineBefore, uint32_t passBefore,
                                         bool answerBefore)
{
    // Called under mutex_. Only a change the worker must act on wakes it: a
    // handshake wait woken for nothing would start its 500 ms anew.
    if (!outbox_.empty() || machine_.NextDeadline() < deadlineBefore || machine_.Pass() != passBefore)
        worker_.Wake().set();
    if (answerBefore && !machine_.AwaitingAnswer())
        answerEvent_.set();
}

// ---------------------------------------------------------------- receive side

std::string DownloadSession::ReplyText() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::string(machine_.ReplyText());
}

void DownloadSession::OnPortData(int length, const char* bytes)
{
    if (length <= 0 || bytes == nullptr)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    const int64_t deadline = machine_.NextDeadline();
    const uint32_t pass = machine_.Pass();
    const bool awaiting = machine_.AwaitingAnswer();
    apply(machine_.OnBytes(bytes, length, now_));
    wakeWorkerIfNeeded(deadline, pass, awaiting);
}

// ---------------------------------------------------------------- handshake

char DownloadSession::OnTimer()
{
    std::lock_guard<std::mutex> wire(wireMutex_);
    Outbox writes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int64_t due = machine_.HandshakeDeadline();
        if (due == DownloadProtocol::kNever)
            return 0;
        now_ = std::max(now_, due);
        apply(machine_.OnTick(now_), &writes);
    }
    char sent = 0;
    for (const auto& w : writes) {
        if (write(w))
            sent = w.byte;
    }
    return sent;
}

// ---------------------------------------------------------------- worker

bool DownloadSession::write(const DownloadAction& action)
{
    // Called under wireMutex_ only.
    if (!port_.IsOpen())
        return false;
    if (action.kind == DownloadAction::Kind::Write) {
        port_.Write(&action.byte, 1);
        return true;
    }
    int length;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!machine_.BlockPending(action.pass, action.offset))
            return false;
        length = image_.BuildFrame(action.offset, frame_.get());
    }
    if (length > 0)
        port_.Write(reinterpret_cast<const char*>(frame_.get()), length);
    return length > 0;
}

void DownloadSession::drain()
{
    std::lock_guard<std::mutex> wire(wireMutex_);
    for (;;) {
        DownloadAction next;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (outbox_.empty() || worker_.Stopping())
                return;
            next = std::move(outbox_.front());
            outbox_.pop_front();
            if (next.pass != machine_.Pass())
                continue; // its pass is over (reset, error, time-out)
            if (next.kind == DownloadAction::Kind::SendBlock) {
                if (!machine_.BlockPending(next.pass, next.offset))
                    continue;
                // Ready for the answer before the frame goes out: a boot
                // loader that answers at once must not find the event still
                // to be reset.
                answerEvent_.reset();
                if (next.offset == 0)
                    passStartUs_ = monotonicUs();
            }
        }
        // A closed port writes nothing; the missing answer then times out.
        write(next);
        std::lock_guard<std::mutex> lock(mutex_);
        apply(machine_.OnWritten(next, now_));
    }
}

void DownloadSession::DownloadWorker()
{
    Event& wake = worker_.Wake();
    while (!worker_.Stopping()) {
        // Reset, then look: a wake-up from now on is either seen below or
        // ends the wait that follows.
        wake.reset();
        drain();
        int64_t due;
        bool answerWait;
        int64_t waitMs;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!outbox_.empty())
                continue;
            const int64_t handshake = machine_.HandshakeDeadline();
            const int64_t answer = machine_.AnswerDeadline();
            due = std::min(handshake, answer);
            if (due != DownloadProtocol::kNever && due <= now_) {
                apply(machine_.OnTick(now_));
                continue;
            }
            answerWait = answer <= handshake;
            waitMs = due == DownloadProtocol::kNever ? 0 : due - now_;
            parked_.store(due == DownloadProtocol::kNever);
        }
        if (worker_.Stopping())
            break;
        bool woken;
        if (due == DownloadProtocol::kNever) {
            // Nothing under way: sleep until a start, a cancel or the end.
            wake.wait();
            parked_.store(false);
            continue;
        }
        const int ms = static_cast<int>(std::min<int64_t>(waitMs, 1 << 30));
        if (answerWait) {
            awaitingAnswer_.store(true);
            woken = clock_.waitFor(answerEvent_, ms);
            awaitingAnswer_.store(false);
            if (woken)
                answerEvent_.reset();
        } else {
            woken = ticker_.waitFor(wake, ms);
        }
        if (woken)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        now_ = std::max(now_, due);
        apply(machine_.OnTick(now_));
    }
    parked_.store(false);
}

} // namespace pell

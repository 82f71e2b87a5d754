#include "download/DownloadSession.h"

#include "common/LogLine.h"
#include "download/DownloadTexts.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

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
      image_(new uint8_t[kImageCapacity]()),
      frame_(new uint8_t[kFrameCapacity]()),
      reply_(std::make_unique<ReplyWindow>()),
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
    if (worker_.joinable())
        return;
    stop_.store(false);
    stopEvent_.reset();
    ackEvent_.reset();
    answerEvent_.reset();
    worker_ = std::thread([this] { DownloadWorker(); });
    timer_ = std::thread([this] { timerLoop(); });
}

void DownloadSession::Shutdown()
{
    stop_.store(true);
    stopEvent_.set();
    ackEvent_.set();
    answerEvent_.set();
    if (timer_.joinable())
        timer_.join();
    if (worker_.joinable())
        worker_.join();
}

bool DownloadSession::compareAndSetState(DownloadState from, DownloadState to)
{
    int expected = static_cast<int>(from);
    return state_.compare_exchange_strong(expected, static_cast<int>(to));
}

// ---------------------------------------------------------------- page side

DownloadSession::Toggle DownloadSession::OnDownloadButton(const std::string& imagePath,
                                                          const std::string& programType)
{
    Toggle result = ToggleDownload(imagePath, programType);
    // After a start the boot loader's 'P' wakes the worker; a wake-up from
    // here could only find the first block already waiting for its answer.
    if (result != Toggle::Started)
        ackEvent_.set();
    return result;
}

DownloadSession::Toggle DownloadSession::ToggleDownload(const std::string& imagePath,
                                                        const std::string& programType)
{
    if (active_.load() != 0) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (active_.load() != 0)
                resetLocked();
        }
        // A worker waiting for an answer leaves its block at once instead of
        // running into the 5 s time-out (cancel, port closed).
        answerEvent_.set();
        ackEvent_.set();
        return Toggle::Reset;
    }
    return start(imagePath, programType);
}

DownloadSession::Toggle DownloadSession::start(const std::string& imagePath,
                                               const std::string& programType)
{
    if (!port_.IsOpen()) {
        view_.MessageBox(dt::kOpenPortFirst, dt::kNoteCaption);
        return Toggle::NoPort;
    }
    if (imagePath.empty()) {
        view_.MessageBox(dt::kSelectFileFirst, dt::kNoteCaption);
        return Toggle::NoFile;
    }
    Toggle loaded = loadImage(imagePath);
    if (loaded != Toggle::Started)
        return loaded;

    AppendLog(dt::kLogBegin);
    view_.SetProgressRange(BlockCount(imageLength_.load()));
    view_.ShowActiveLook();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.store(static_cast<int>(programType == dt::kBootProgram
                                          ? DownloadState::BootBanner
                                          : DownloadState::LoaderHandshake));
        active_.store(1);
    }
    // Modal on the page; the timer goes on sending the handshake meanwhile
    // and the boot loader's 'P' closes it.
    view_.ShowPowerCyclePrompt();
    return Toggle::Started;
}

DownloadSession::Toggle DownloadSession::loadImage(const std::string& imagePath)
{
    // Only plain files: a directory or a device has no length to trust.
    std::error_code ec;
    auto status = std::filesystem::status(imagePath, ec);
    if (!ec && status.type() != std::filesystem::file_type::regular) {
        view_.ShowFileError(imagePath, status.type() == std::filesystem::file_type::directory
                                           ? EISDIR
                                           : EINVAL);
        return Toggle::FileError;
    }
    std::ifstream file(imagePath, std::ios::in | std::ios::binary);
    if (!file) {
        int error = errno ? errno : ENOENT;
        view_.ShowFileError(imagePath, error);
        return Toggle::FileError;
    }
    errno = 0;
    file.seekg(0, std::ios::end);
    std::streamoff length = file.tellg();
    if (!file || length < 0) {
        int error = errno ? errno : EIO;
        view_.ShowFileError(imagePath, error);
        return Toggle::FileError;
    }
    if (length == 0 || length >= static_cast<std::streamoff>(kImageCapacity)) {
        imageLength_.store(0);
        view_.MessageBox(dt::kSelectFileFirst, dt::kFileLengthCaption);
        return Toggle::BadLength;
    }
    file.seekg(0, std::ios::beg);
    bool complete;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        file.read(reinterpret_cast<char*>(image_.get()), length);
        complete = file.gcount() == length;
        imageLength_.store(complete ? static_cast<uint32_t>(length) : 0);
        sentOffset_.store(0);
    }
    if (!complete) {
        // A file that shrank or failed while being read: nothing half-loaded
        // is ever sent.
        int error = errno ? errno : EIO;
        view_.ShowFileError(imagePath, error);
        return Toggle::FileError;
    }
    return Toggle::Started;
}

void DownloadSession::resetLocked()
{
    sentOffset_.store(0);
    imageLength_.store(0);
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        reply_->Clear();
    }
    view_.ShowIdleLook();
    active_.store(0);
    state_.store(static_cast<int>(DownloadState::Idle));
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

void DownloadSession::logBlock(const char* format, uint32_t offset)
{
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<int>(offset / kBlockSize + 1));
    AppendLog(text);
}

// ---------------------------------------------------------------- receive side

std::string DownloadSession::ReplyText() const
{
    std::lock_guard<std::mutex> lock(replyMutex_);
    return std::string(reply_->Text());
}

void DownloadSession::OnPortData(int length, const char* bytes)
{
    if (length <= 0 || bytes == nullptr)
        return;
    bool loaderPresent = false;
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        reply_->Append(bytes, length);
        switch (State()) {
        case DownloadState::BootBanner:
            if (reply_->Contains(dt::kBootUpdate))
                compareAndSetState(DownloadState::BootBanner, DownloadState::LoaderHandshake);
            break;
        case DownloadState::LoaderHandshake:
            // Line noise in front of the 'P' does not hide it.
            if (LoaderAnswerEnd(bytes, length) > 0)
                loaderPresent = compareAndSetState(DownloadState::LoaderHandshake,
                                                   DownloadState::LoaderReady);
            if (reply_->Contains(dt::kErrorReport)) {
                ackResult_.store(kAckRejected);
                ackEvent_.set();
                reply_->Clear();
            }
            break;
        case DownloadState::Transfer: {
            // The timer may have sent a second 'P' before the first answer was
            // seen; the loader answers that one too, and its 'P' may arrive
            // only now. It answers no block: skip it, the block's answer is
            // what follows (in this chunk or a later one).
            int at = 0;
            for (int end; at < length && (end = LoaderAnswerEnd(bytes + at, length - at)) > 0;)
                at += end;
            if (at == length)
                break;
            ackResult_.store(bytes[at] == kBlockAccepted ? kAckAccepted : kAckRejected);
            answerEvent_.set();
            reply_->Clear();
            break;
        }
        case DownloadState::Idle:
        case DownloadState::LoaderReady:
        case DownloadState::Done:
            break;
        }
    }
    if (loaderPresent) {
        view_.ClosePowerCyclePrompt();
        // The worker sends the 0x06 now rather than at the end of its pause.
        ackEvent_.set();
    }
}

// ---------------------------------------------------------------- timer

char DownloadSession::OnTimer()
{
    std::lock_guard<std::mutex> wire(wireMutex_);
    char byte = 0;
    switch (State()) {
    case DownloadState::BootBanner:
        byte = kBootHandshake;
        break;
    case DownloadState::LoaderHandshake:
        byte = kLoaderHandshake;
        break;
    default:
        return 0;
    }
    if (!port_.IsOpen())
        return 0;
    port_.Write(&byte, 1);
    return byte;
}

void DownloadSession::timerLoop()
{
    // One tick every period after the previous one was handled: a slow
    // write does not make the next ticks follow in a burst.
    while (!stop_.load()) {
        if (ticker_.waitFor(stopEvent_, kHandshakePeriodMs) || stop_.load())
            break;
        OnTimer();
    }
}

// ---------------------------------------------------------------- worker

void DownloadSession::DownloadWorker()
{
    while (!stop_.load()) {
        if (State() == DownloadState::Transfer && sentOffset_.load() < imageLength_.load())
            blockLoop();
        else
            idlePass();
    }
}

void DownloadSession::idlePass()
{
    if (State() == DownloadState::Done && active_.load() != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (State() == DownloadState::Done && active_.load() != 0)
            resetLocked();
    }
    if (clock_.waitFor(ackEvent_, kIdlePauseMs))
        ackEvent_.reset();
    if (stop_.load())
        return;
    if (State() == DownloadState::LoaderReady) {
        std::lock_guard<std::mutex> wire(wireMutex_);
        if (State() == DownloadState::LoaderReady) {
            if (port_.IsOpen())
                port_.Write(&kTransferGo, 1);
            compareAndSetState(DownloadState::LoaderReady, DownloadState::Transfer);
        }
    }
}

bool DownloadSession::waitForAnswer()
{
    // Only an answer, a reset or the end of the session set the event.
    return clock_.waitFor(answerEvent_, kAckTimeoutMs);
}

void DownloadSession::blockLoop()
{
    int blocksDone = 0;
    uint32_t passBytes = 0;
    const int64_t passStartUs = monotonicUs();
    for (;;) {
        uint32_t offset;
        uint32_t length;
        int frameLength;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (State() != DownloadState::Transfer)
                return;
            offset = sentOffset_.load();
            length = imageLength_.load();
            frameLength = BuildBlockFrame(image_.get(), length, offset, frame_.get());
        }
        if (frameLength == 0)
            return;
        const bool last = BlockAt(length, offset).last;

        // Ready for the answer before the frame goes out: a boot loader that
        // answers at once must not find the event still to be reset.
        ackResult_.store(kAckNone);
        answerEvent_.reset();
        // A stop signalled just before the reset is gone with it; stop_ was
        // stored before that signal, so look at it once more.
        if (stop_.load())
            return;
        if (port_.IsOpen())
            port_.Write(reinterpret_cast<const char*>(frame_.get()), frameLength);
        if (State() != DownloadState::Transfer)
            return; // reset while writing

        awaitingAnswer_.store(true);
        const bool answered = waitForAnswer();
        awaitingAnswer_.store(false);
        if (stop_.load())
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!answered || ackResult_.load() != kAckAccepted) {
            logBlock(answered ? downloadtext::kLogBlockError : downloadtext::kLogBlockTimeout,
                     sentOffset_.load());
            if (State() == DownloadState::Transfer) {
                state_.store(static_cast<int>(active_.load() != 0 ? DownloadState::LoaderHandshake
                                                                  : DownloadState::Idle));
                sentOffset_.store(0);
            }
            return;
        }
        if (State() != DownloadState::Transfer)
            return; // reset right after the answer came
        logBlock(downloadtext::kLogBlockOk, offset);
        if (last) {
            state_.store(static_cast<int>(DownloadState::Done));
            AppendLog(downloadtext::kLogSuccess);
        }
        const uint32_t n = static_cast<uint32_t>(frameLength - kFrameOverhead);
        sentOffset_.store(offset + n);
        ++blocksDone;
        passBytes += n;
        view_.SetProgress(blocksDone);

        TransferRate rate;
        rate.bytesDone = offset + n;
        rate.imageLength = length;
        const double seconds = static_cast<double>(monotonicUs() - passStartUs) / 1e6;
        rate.bytesPerSecond = seconds > 0 ? passBytes / seconds : 0;
        rate.secondsLeft =
            rate.bytesPerSecond > 0 ? (length - rate.bytesDone) / rate.bytesPerSecond : 0;
        view_.ShowThroughput(rate);

        if (offset + n >= length)
            return;
    }
}

} // namespace pell

#include "debug/DebugTerminal.h"

#include "serial/CSerial.h"

#include <algorithm>

namespace pell {

bool SerialTerminalPort::IsOpen() const
{
    return port_.IsOpen();
}

int SerialTerminalPort::Write(const char* bytes, int count)
{
    return port_.Write(bytes, count);
}

DebugTerminal::DebugTerminal(ITerminalPort& port, const Clock& clock) : port_(port), clock_(clock) {}

DebugTerminal::~DebugTerminal()
{
    Stop();
}

void DebugTerminal::Init()
{
    receiving_.store(false);
    store_.Clear();
    sent_.store(0);
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        hexBuffer_.clear();
        textBuffer_.clear();
    }
    sender_.Start([this] { run(); }, "terminal-send");
}

void DebugTerminal::Stop()
{
    sender_.Stop();
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.clear();
    writing_ = false;
}

void DebugTerminal::SetLineCheck(std::function<bool()> check)
{
    auto shared = check ? std::make_shared<const std::function<bool()>>(std::move(check)) : nullptr;
    std::lock_guard<std::mutex> lock(lineCheckMutex_);
    lineCheck_ = std::move(shared);
}

bool DebugTerminal::lineHeld() const
{
    std::shared_ptr<const std::function<bool()>> check;
    {
        std::lock_guard<std::mutex> lock(lineCheckMutex_);
        check = lineCheck_;
    }
    return check && (*check)();
}

void DebugTerminal::OnTerminalData(int length, const char* bytes)
{
    if (length <= 0)
        return;
    // A chunk that restarts the store is answered like any other.
    store_.Append(bytes, length);
    received_.fetch_add(static_cast<uint64_t>(length));
    if (autoAnswer_.load())
        answer(bytes, length);
}

void DebugTerminal::NotifyReceiveUpdate()
{
    if (!refreshPending_.exchange(true))
        if (ITerminalView* view = view_.load())
            view->RefreshWanted();
}

void DebugTerminal::answer(const char* bytes, int length)
{
    std::shared_ptr<const AnswerTable> table;
    {
        std::lock_guard<std::mutex> lock(tableMutex_);
        table = table_;
    }
    if (!table || table->UsedRows() == 0)
        return;
    // Only as much of the chunk is rendered as the longest request can match.
    const std::size_t needed = table->LongestRequest() / 3 + 1;
    const std::string rendering =
        FormatHex(std::string_view(bytes, std::min(static_cast<std::size_t>(length), needed)));
    const auto found = FindAnswer(*table, rendering, counter_);
    if (!found)
        return;
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        if (hexSend_.load()) {
            std::string parsed;
            if (ParseHexText(*found, kHexSendMax, parsed) != HexParse::Ok) {
                // Reported once when the table was loaded; never a box here.
                answersSkipped_.fetch_add(1);
                return;
            }
            hexBuffer_ = std::move(parsed);
        } else {
            textBuffer_ = found->substr(0, GbkCut(*found, kTextSendMax));
        }
        shownAnswer_ = *found;
        answerToShow_ = true;
    }
    if (SendBuffer(SendKind::Answer) == SendResult::Queued)
        answers_.fetch_add(1);
    else
        answersSkipped_.fetch_add(1);
}

ToggleResult DebugTerminal::ToggleReceive()
{
    if (receiving_.load()) {
        receiving_.store(false);
        if (navigation_)
            navigation_(true);
        return ToggleResult::Off;
    }
    if (!port_.IsOpen())
        return ToggleResult::NoPort;
    if (navigation_)
        navigation_(false);
    receiving_.store(true);
    return ToggleResult::On;
}

void DebugTerminal::Clear()
{
    store_.Clear();
    sent_.store(0);
}

HexParse DebugTerminal::SetSendText(const std::string& text)
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (hexSend_.load())
        return ParseHexText(text, kHexSendMax, hexBuffer_);
    textBuffer_ = text.substr(0, GbkCut(text, kTextSendMax));
    return HexParse::Ok;
}

std::string DebugTerminal::SendTextForMode() const
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    return hexSend_.load() ? FormatHex(hexBuffer_) : textBuffer_;
}

bool DebugTerminal::TakeShownAnswer(std::string& text)
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (!answerToShow_)
        return false;
    answerToShow_ = false;
    text = shownAnswer_;
    return true;
}

std::vector<AnswerProblem> DebugTerminal::LoadAnswers(std::string_view csv)
{
    auto table = std::make_shared<AnswerTable>();
    std::vector<AnswerProblem> problems = table->Load(csv);
    std::lock_guard<std::mutex> lock(tableMutex_);
    table_ = std::move(table);
    return problems;
}

int DebugTerminal::AnswerRows() const
{
    std::lock_guard<std::mutex> lock(tableMutex_);
    return table_ ? table_->UsedRows() : 0;
}

SendResult DebugTerminal::SendBuffer(SendKind kind)
{
    if (!port_.IsOpen()) {
        sendsSkipped_.fetch_add(1);
        return SendResult::NoPort;
    }
    if (lineHeld()) {
        sendsSkipped_.fetch_add(1);
        return SendResult::LineHeld;
    }
    Job job;
    job.kind = kind;
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        const bool hex = hexSend_.load();
        job.bytes = hex ? hexBuffer_ : textBuffer_;
        job.newline = !hex && sendNewline_.load();
    }
    if (job.bytes.empty())
        return SendResult::Empty;
    return enqueue(std::move(job));
}

SendResult DebugTerminal::enqueue(Job job)
{
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        const bool busy = writing_ || !queue_.empty();
        if ((job.kind != SendKind::Answer && busy) ||
            (job.kind == SendKind::Answer && queue_.size() >= kMaxQueuedAnswers)) {
            sendsSkipped_.fetch_add(1);
            return SendResult::Busy;
        }
        queue_.push_back(std::move(job));
    }
    sender_.Wake().set();
    return SendResult::Queued;
}

bool DebugTerminal::SendBusy() const
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    return writing_ || !queue_.empty();
}

void DebugTerminal::run()
{
    while (!sender_.Stopping()) {
        sender_.Wake().reset();
        Job job;
        bool have = false;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (!queue_.empty()) {
                job = std::move(queue_.front());
                queue_.pop_front();
                writing_ = true;
                have = true;
            }
        }
        if (!have) {
            if (!sender_.Stopping())
                sender_.Wake().wait();
            continue;
        }
        write(job);
        std::lock_guard<std::mutex> lock(queueMutex_);
        writing_ = false;
    }
}

void DebugTerminal::write(const Job& job)
{
    if (job.kind == SendKind::Answer)
        if (const int delay = answerDelayMs_.load(); delay > 0)
            clock_.sleep(delay);
    // Looked at again just before the line is used: another page may have
    // taken the conversation since the send was asked for.
    if (!port_.IsOpen() || lineHeld()) {
        sendsSkipped_.fetch_add(1);
        return;
    }
    const int count = static_cast<int>(job.bytes.size());
    const int written = port_.Write(job.bytes.data(), count);
    if (written < count)
        return; // the counter stays as it was
    int sent = sent_.fetch_add(written) + written;
    if (job.newline && port_.Write("\r\n", 2) == 2)
        sent = sent_.fetch_add(2) + 2;
    if (ITerminalView* view = view_.load())
        view->SentCountChanged(sent);
}

} // namespace pell

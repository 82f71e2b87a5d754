#include "tests/download/FakeDownloadView.h"

#include <iconv.h>

#include <stdexcept>

namespace pell::test {

std::string Gbk(const std::string& utf8)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("no GBK converter");
    std::string in = utf8;
    std::string out(in.size() * 2 + 4, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        throw std::runtime_error("text not representable in GBK");
    out.resize(out.size() - dstLeft);
    return out;
}

namespace {
// "<Time:YYYY-MM-DD HH:MM:SS>:" is 27 characters.
constexpr size_t kStampLength = 27;
}

void FakeDownloadView::LogAppended(const std::string& line, bool emptiedFirst)
{
    std::lock_guard<std::mutex> lock(m_);
    if (emptiedFirst)
        log_.clear();
    log_ += line;
    messages_.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
}

void FakeDownloadView::LogCleared()
{
    std::lock_guard<std::mutex> lock(m_);
    log_.clear();
}

void FakeDownloadView::SetProgressRange(int blocks) { progressRange.store(blocks); }

void FakeDownloadView::SetProgress(int position)
{
    progress.store(position);
    std::lock_guard<std::mutex> lock(m_);
    progressHistory_.push_back(position);
}

void FakeDownloadView::ShowActiveLook()
{
    activeLook.store(true);
    ++activeLooks;
}

void FakeDownloadView::ShowIdleLook()
{
    activeLook.store(false);
    progress.store(0);
    ++idleLooks;
}

void FakeDownloadView::ShowThroughput(const TransferRate& rate)
{
    ++rates;
    std::lock_guard<std::mutex> lock(m_);
    lastRate_ = rate;
}

void FakeDownloadView::ClosePowerCyclePrompt() { ++promptsClosed; }

void FakeDownloadView::ShowPowerCyclePrompt()
{
    ++promptsShown;
    if (onPrompt)
        onPrompt();
}

void FakeDownloadView::MessageBox(const std::string& text, const std::string& caption)
{
    std::lock_guard<std::mutex> lock(m_);
    boxes_.push_back({text, caption});
}

void FakeDownloadView::ShowFileError(const std::string&, int error, const std::string& reason)
{
    {
        std::lock_guard<std::mutex> lock(m_);
        lastFileReason = reason;
    }
    lastFileError.store(error);
    ++fileErrors;
}

std::string FakeDownloadView::FileReason() const
{
    std::lock_guard<std::mutex> lock(m_);
    return lastFileReason;
}

std::string FakeDownloadView::Log() const
{
    std::lock_guard<std::mutex> lock(m_);
    return log_;
}

std::vector<std::string> FakeDownloadView::Messages() const
{
    std::lock_guard<std::mutex> lock(m_);
    return messages_;
}

std::vector<FakeDownloadView::Box> FakeDownloadView::Boxes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return boxes_;
}

std::vector<int> FakeDownloadView::ProgressHistory() const
{
    std::lock_guard<std::mutex> lock(m_);
    return progressHistory_;
}

bool FakeDownloadView::HasMessage(const std::string& message) const
{
    return CountMessage(message) > 0;
}

int FakeDownloadView::CountMessage(const std::string& message) const
{
    std::lock_guard<std::mutex> lock(m_);
    int n = 0;
    for (const auto& m : messages_)
        n += m == message;
    return n;
}

TransferRate FakeDownloadView::LastRate() const
{
    std::lock_guard<std::mutex> lock(m_);
    return lastRate_;
}

void FakeDownloadView::BlockFailed(int block, BlockFailure kind)
{
    std::lock_guard<std::mutex> lock(m_);
    failures_.push_back({block, kind});
}

void FakeDownloadView::DownloadEnded(const DownloadResult& result)
{
    std::lock_guard<std::mutex> lock(m_);
    results_.push_back(result);
}

std::vector<BlockRestart> FakeDownloadView::Failures() const
{
    std::lock_guard<std::mutex> lock(m_);
    return failures_;
}

std::vector<DownloadResult> FakeDownloadView::Results() const
{
    std::lock_guard<std::mutex> lock(m_);
    return results_;
}

} // namespace pell::test

#include "cli/TerminalView.h"

#include "config/ConfigTexts.h"

namespace pell::cli {

void TerminalView::AppendLog(std::string_view text)
{
    if (text.empty())
        return;
    if (logSink_)
        logSink_(text);
    SentCommand done;
    bool commandEnded = false;
    {
        std::lock_guard<std::mutex> lock(m_);
        log_.emplace_back(text);
        if (text == configtext::kLoadOk) {
            loadOk_ = true;
            loadFailed_ = false;
        } else if (text == configtext::kLoadFailed) {
            loadFailed_ = true;
        } else if (text == configtext::kSetOk || text == configtext::kSetFailed) {
            // A job logs each command line, sends it, then logs its outcome.
            done.line = lastLine_;
            done.confirmed = text == configtext::kSetOk;
            done.refused = !done.confirmed && refused_ && refused_();
            sent_.push_back(done);
            commandEnded = true;
        } else if (text.substr(0, 2) == "AT") {
            lastLine_ = std::string(text);
        }
    }
    if (commandEnded && commandSink_)
        commandSink_(done);
}

void TerminalView::ShowControlState(int mode)
{
    if (mode == kControlsIdle)
        idle_.set();
}

bool TerminalView::SetPageValues(const std::vector<PageValue>& values)
{
    std::lock_guard<std::mutex> lock(m_);
    for (const PageValue& v : values)
        page_[v.id] = v.text;
    return true;
}

PageReadings TerminalView::GetPageValues(const std::vector<int>& ids)
{
    std::lock_guard<std::mutex> lock(m_);
    PageReadings readings;
    readings.reserve(ids.size());
    for (int id : ids) {
        const auto it = page_.find(id);
        if (it == page_.end())
            readings.emplace_back();
        else
            readings.emplace_back(it->second);
    }
    return readings;
}

void TerminalView::MessageBox(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_);
    messages_.push_back(text);
}

bool TerminalView::AskYesNo(const std::string&)
{
    std::lock_guard<std::mutex> lock(m_);
    return yes_;
}

void TerminalView::ShowRequestAnswer(RequestSlot, const std::string& gbkText)
{
    std::lock_guard<std::mutex> lock(m_);
    answer_ = gbkText;
}

void TerminalView::SetYes(bool yes)
{
    std::lock_guard<std::mutex> lock(m_);
    yes_ = yes;
}

std::vector<std::string> TerminalView::LogTexts() const
{
    std::lock_guard<std::mutex> lock(m_);
    return log_;
}

std::string TerminalView::RequestAnswer() const
{
    std::lock_guard<std::mutex> lock(m_);
    return answer_;
}

void TerminalView::Edit(int id, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_);
    page_[id] = text;
}

std::string TerminalView::Shown(int id) const
{
    std::lock_guard<std::mutex> lock(m_);
    const auto it = page_.find(id);
    return it == page_.end() ? std::string() : it->second;
}

bool TerminalView::LoadSucceeded() const
{
    std::lock_guard<std::mutex> lock(m_);
    return loadOk_;
}

bool TerminalView::LoadFailed() const
{
    std::lock_guard<std::mutex> lock(m_);
    return loadFailed_;
}

std::vector<SentCommand> TerminalView::Sent() const
{
    std::lock_guard<std::mutex> lock(m_);
    return sent_;
}

std::vector<std::string> TerminalView::Messages() const
{
    std::lock_guard<std::mutex> lock(m_);
    return messages_;
}

} // namespace pell::cli

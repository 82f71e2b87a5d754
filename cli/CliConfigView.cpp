#include "cli/CliConfigView.h"

namespace pell::cli {

void CliConfigView::AppendLog(std::string_view text)
{
    if (!text.empty() && logSink_)
        logSink_(text);
}

void CliConfigView::SetCommandSink(CommandSink sink)
{
    std::lock_guard<std::mutex> lock(m_);
    commandSink_ = std::move(sink);
}

void CliConfigView::CommandEnded(const CommandOutcome& outcome)
{
    CommandSink sink;
    {
        std::lock_guard<std::mutex> lock(m_);
        sink = commandSink_;
    }
    if (sink)
        sink(outcome);
}

void CliConfigView::ShowControlState(int mode)
{
    if (mode == kControlsIdle)
        idle_.set();
}

bool CliConfigView::SetPageValues(const std::vector<PageValue>& values)
{
    // Every value the jobs show reaches the page: each parameter they give
    // gains a "control".
    for (const PageValue& v : values)
        page_.Edit(v.id, v.text);
    return true;
}

PageReadings CliConfigView::GetPageValues(const std::vector<int>& ids)
{
    return page_.Readings(ids);
}

void CliConfigView::MessageBox(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_);
    messages_.push_back(text);
}

bool CliConfigView::AskYesNo(const std::string&)
{
    std::lock_guard<std::mutex> lock(m_);
    return yes_;
}

void CliConfigView::SetYes(bool yes)
{
    std::lock_guard<std::mutex> lock(m_);
    yes_ = yes;
}

void CliConfigView::Edit(int id, const std::string& text)
{
    page_.Edit(id, text);
}

std::string CliConfigView::Shown(int id) const
{
    return page_.Shown(id);
}

std::vector<std::string> CliConfigView::Messages() const
{
    std::lock_guard<std::mutex> lock(m_);
    return messages_;
}

std::shared_ptr<HistoryRecords> CliConfigView::Records()
{
    std::lock_guard<std::mutex> lock(m_);
    return records_;
}

void CliConfigView::SetRecords(std::shared_ptr<HistoryRecords> records)
{
    std::lock_guard<std::mutex> lock(m_);
    records_ = std::move(records);
}

} // namespace pell::cli

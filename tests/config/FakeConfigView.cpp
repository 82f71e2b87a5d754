#include "tests/config/FakeConfigView.h"

#include <algorithm>

namespace pell::test {

namespace {

std::vector<int> idsWithControl()
{
    std::vector<int> ids;
    for (int id = 0; id <= 144; ++id)
        if (std::find(std::begin(kNoControlIds), std::end(kNoControlIds), id) == std::end(kNoControlIds))
            ids.push_back(id);
    return ids;
}

} // namespace

FakeConfigView::FakeConfigView(const ParamTable& controller) : page_(controller, idsWithControl()) {}

void FakeConfigView::AppendLog(std::string_view text)
{
    if (text.empty())
        return;
    std::lock_guard<std::mutex> lock(m_);
    log_.emplace_back(text);
}

void FakeConfigView::ShowControlState(int mode)
{
    std::lock_guard<std::mutex> lock(m_);
    modes_.push_back(mode);
}

bool FakeConfigView::SetPageValues(const std::vector<PageValue>& values)
{
    std::lock_guard<std::mutex> lock(m_);
    ++setCrossings_;
    if (closed_)
        return false;
    for (const PageValue& v : values)
        if (page_.Show(v.id, v.text) != ParameterModel::ShowResult::Already)
            ++setCalls_;
    return true;
}

PageReadings FakeConfigView::GetPageValues(const std::vector<int>& ids)
{
    std::lock_guard<std::mutex> lock(m_);
    ++getCrossings_;
    if (closed_)
        return {};
    return page_.Readings(ids);
}

void FakeConfigView::MessageBox(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_);
    messages_.push_back(text);
}

void FakeConfigView::EnableClockControls(bool enable)
{
    std::lock_guard<std::mutex> lock(m_);
    clockControls_.push_back(enable);
}

void FakeConfigView::ShowRequestAnswer(RequestSlot slot, const std::string& gbkText)
{
    std::lock_guard<std::mutex> lock(m_);
    answers_[slot] = gbkText;
}

bool FakeConfigView::AskYesNo(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_);
    questions_.push_back(text);
    return answer_;
}

void FakeConfigView::SetAnswer(bool yes)
{
    std::lock_guard<std::mutex> lock(m_);
    answer_ = yes;
}

std::vector<std::string> FakeConfigView::Questions() const
{
    std::lock_guard<std::mutex> lock(m_);
    return questions_;
}

std::vector<bool> FakeConfigView::ClockControls() const
{
    std::lock_guard<std::mutex> lock(m_);
    return clockControls_;
}

std::string FakeConfigView::Answer(RequestSlot slot) const
{
    std::lock_guard<std::mutex> lock(m_);
    auto it = answers_.find(slot);
    return it == answers_.end() ? std::string() : it->second;
}

void FakeConfigView::Edit(int id, const std::string& text)
{
    page_.Edit(id, text);
}

void FakeConfigView::MakeUnreadable(int id)
{
    page_.MakeUnreadable(id);
}

void FakeConfigView::RemoveControl(int id)
{
    page_.RemoveControl(id);
}

void FakeConfigView::Close()
{
    std::lock_guard<std::mutex> lock(m_);
    closed_ = true;
}

std::vector<std::string> FakeConfigView::Log() const
{
    std::lock_guard<std::mutex> lock(m_);
    return log_;
}

std::string FakeConfigView::LogText(std::size_t from) const
{
    std::lock_guard<std::mutex> lock(m_);
    std::string all;
    for (std::size_t i = from; i < log_.size(); ++i)
        all += log_[i];
    return all;
}

std::size_t FakeConfigView::LogCount() const
{
    std::lock_guard<std::mutex> lock(m_);
    return log_.size();
}

std::size_t FakeConfigView::CountLog(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(m_);
    return static_cast<std::size_t>(std::count(log_.begin(), log_.end(), text));
}

std::vector<int> FakeConfigView::Modes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return modes_;
}

std::vector<std::string> FakeConfigView::Messages() const
{
    std::lock_guard<std::mutex> lock(m_);
    return messages_;
}

std::string FakeConfigView::Shown(int id) const
{
    return page_.Shown(id);
}

int FakeConfigView::SetCalls() const
{
    std::lock_guard<std::mutex> lock(m_);
    return setCalls_;
}

int FakeConfigView::SetCrossings() const
{
    std::lock_guard<std::mutex> lock(m_);
    return setCrossings_;
}

int FakeConfigView::GetCrossings() const
{
    std::lock_guard<std::mutex> lock(m_);
    return getCrossings_;
}

std::shared_ptr<HistoryRecords> FakeConfigView::Records()
{
    std::lock_guard<std::mutex> lock(m_);
    return records_;
}

void FakeConfigView::SetRecords(std::shared_ptr<HistoryRecords> records)
{
    std::lock_guard<std::mutex> lock(m_);
    records_ = std::move(records);
}

} // namespace pell::test

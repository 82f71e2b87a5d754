#include "tests/config/FakeConfigView.h"

#include <algorithm>

namespace pell::test {

FakeConfigView::FakeConfigView()
{
    for (int id = 0; id <= 144; ++id)
        if (std::find(std::begin(kNoControlIds), std::end(kNoControlIds), id) == std::end(kNoControlIds))
            controls_[id] = std::string();
}

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
    for (const PageValue& v : values) {
        auto it = controls_.find(v.id);
        if (it != controls_.end() && unreadable_.count(v.id) == 0 && it->second == v.text)
            continue; // shows it already
        ++setCalls_;
        if (it == controls_.end())
            continue;
        it->second = v.text;
        unreadable_.erase(v.id);
    }
    return true;
}

PageReadings FakeConfigView::GetPageValues(const std::vector<int>& ids)
{
    std::lock_guard<std::mutex> lock(m_);
    ++getCrossings_;
    PageReadings readings;
    if (closed_)
        return readings;
    for (int id : ids) {
        auto it = controls_.find(id);
        if (it == controls_.end() || unreadable_.count(id) != 0)
            readings.emplace_back();
        else
            readings.emplace_back(it->second);
    }
    return readings;
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
    std::lock_guard<std::mutex> lock(m_);
    controls_[id] = text;
    unreadable_.erase(id);
}

void FakeConfigView::MakeUnreadable(int id)
{
    std::lock_guard<std::mutex> lock(m_);
    unreadable_.insert(id);
}

void FakeConfigView::RemoveControl(int id)
{
    std::lock_guard<std::mutex> lock(m_);
    controls_.erase(id);
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
    std::lock_guard<std::mutex> lock(m_);
    auto it = controls_.find(id);
    return it == controls_.end() ? std::string() : it->second;
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

} // namespace pell::test

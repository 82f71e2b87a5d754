#pragma once
// A configuration page without a window: the log as a list of texts, the
// control states as a list of modes, and one "control" per parameter that a
// page shows (all of 0..144 but the nine without a control). Like the
// window, it sets a control only where it shows something else; its page
// is compared with the values of the engine the jobs talk through.
#include "config/IConfigView.h"
#include "pages/ParameterModel.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pell::test {

class FakeConfigView : public IConfigView {
public:
    explicit FakeConfigView(const ParamTable& controller);

    void AppendLog(std::string_view text) override;
    void ShowControlState(int mode) override;
    bool SetPageValues(const std::vector<PageValue>& values) override;
    PageReadings GetPageValues(const std::vector<int>& ids) override;
    void MessageBox(const std::string& text) override;
    void EnableClockControls(bool enable) override;
    void ShowRequestAnswer(RequestSlot slot, const std::string& gbkText) override;
    bool AskYesNo(const std::string& text) override;
    std::shared_ptr<HistoryRecords> Records() override;

    // The records job 13 reads into (none unless set).
    void SetRecords(std::shared_ptr<HistoryRecords> records);

    // The answer to the questions (yes unless set).
    void SetAnswer(bool yes);
    std::vector<std::string> Questions() const;
    // Every EnableClockControls, in order.
    std::vector<bool> ClockControls() const;
    // The value edit of each request slot, as the jobs left it.
    std::string Answer(RequestSlot slot) const;

    // What a user does on a page.
    void Edit(int id, const std::string& text);
    // The control of the id shows something its rule cannot read.
    void MakeUnreadable(int id);
    // Takes the control of an id away (a page that does not exist).
    void RemoveControl(int id);
    // The window goes away: page values neither reach nor leave it.
    void Close();

    std::vector<std::string> Log() const;
    // The log texts from index `from` on, joined.
    std::string LogText(std::size_t from = 0) const;
    std::size_t LogCount() const;
    std::size_t CountLog(const std::string& text) const;
    std::vector<int> Modes() const;
    std::vector<std::string> Messages() const;
    std::string Shown(int id) const;
    // Values handed to a control's setter (those that differed, or had no
    // control or no readable value).
    int SetCalls() const;
    // Calls into the "interface thread": SetPageValues, GetPageValues.
    int SetCrossings() const;
    int GetCrossings() const;

private:
    mutable std::mutex m_;
    std::vector<std::string> log_;
    std::vector<int> modes_;
    std::vector<std::string> messages_;
    std::shared_ptr<HistoryRecords> records_;
    ParameterModel page_; // one "control" per parameter a page shows
    bool closed_ = false;
    bool answer_ = true;
    std::vector<std::string> questions_;
    std::vector<bool> clockControls_;
    std::map<RequestSlot, std::string> answers_;
    int setCalls_ = 0;
    int setCrossings_ = 0;
    int getCrossings_ = 0;
};

// The parameters that no page shows.
inline constexpr int kNoControlIds[] = {7, 8, 9, 10, 11, 26, 27, 28, 29};

} // namespace pell::test

#pragma once
// What the configuration jobs need of the configuration page: its log, its
// buttons, the parameter pages' controls and message boxes. The Qt page
// implements it; tests implement it without a window.
#include "pages/ParameterModel.h"
#include "pages/RequestText.h"
#include "protocol/CommandOutcome.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pell {

class HistoryRecords;

// Modes of SetControlState.
enum ControlMode { kControlsWaiting = 0, kControlsBusy = 1, kControlsIdle = 2 };

// A value text for the control of a parameter id.
struct PageValue {
    int id;
    std::string text;
};

class IConfigView {
public:
    virtual ~IConfigView() = default;

    // Any thread, never waits for the interface: appends one time-stamped
    // line to the page log; an empty text writes nothing.
    virtual void AppendLog(std::string_view text) = 0;
    // Any thread, never waits for the interface: the buttons, the reload
    // caption and the navigation tree for a mode (kControls...).
    virtual void ShowControlState(int mode) = 0;

    // Worker thread; waits for the interface thread once, however many
    // parameters it carries.
    // Shows each value text on the control of its id where the control
    // shows another value or none its rule can read; a control that already
    // shows the text is not touched, an id without a control is passed
    // over. False when the interface is gone (nothing shown).
    virtual bool SetPageValues(const std::vector<PageValue>& values) = 0;
    // Worker thread, never waits for the interface: the page values of the
    // ids as the pages' parameter model holds them, one reading per id.
    // Empty when the interface is gone.
    virtual PageReadings GetPageValues(const std::vector<int>& ids) = 0;
    // A message box with the caption "提示"; returns when it is closed.
    virtual void MessageBox(const std::string& text) = 0;

    // Any thread, never waits for the interface: enables or disables the
    // clock controls of the basic settings page (job 8).
    virtual void EnableClockControls(bool /*enable*/) {}
    // Any thread, never waits for the interface: shows an initial value
    // read from the controller in the value edit of the request's page
    // (jobs 9 to 12, 14 to 17), unchanged.
    virtual void ShowRequestAnswer(RequestSlot /*slot*/, const std::string& /*gbkText*/) {}
    // Worker thread, never waits for the interface: a command of the
    // running job has ended (the job logs it too).
    virtual void CommandEnded(const CommandOutcome& /*outcome*/) {}
    // Any thread, never waits for the interface: the records job 13 reads
    // into (the history records page's); nullptr when there are none.
    virtual std::shared_ptr<HistoryRecords> Records() { return nullptr; }
    // Interface thread: a question with the caption "提示" and the buttons
    // yes and no; true for yes. A view that cannot ask says no.
    virtual bool AskYesNo(const std::string& /*text*/) { return false; }
};

} // namespace pell

#pragma once
// What the configuration jobs need of the configuration page: its log, its
// buttons, the parameter pages' controls and message boxes. The Qt page
// implements it; tests implement it without a window.
#include <string>
#include <string_view>

namespace pell {

// Modes of SetControlState.
enum ControlMode { kControlsWaiting = 0, kControlsBusy = 1, kControlsIdle = 2 };

class IConfigView {
public:
    virtual ~IConfigView() = default;

    // Any thread, never waits for the interface: appends one time-stamped
    // line to the page log; an empty text writes nothing.
    virtual void AppendLog(std::string_view text) = 0;
    // Any thread, never waits for the interface: the buttons, the reload
    // caption and the navigation tree for a mode (kControls...).
    virtual void ShowControlState(int mode) = 0;

    // Worker thread; they wait for the interface thread.
    // Shows a value text on the control of a parameter id. False when the id
    // has no control (or the interface is gone).
    virtual bool SetPageValue(int id, const std::string& text) = 0;
    // The value text the control of the id now shows. False when the id has
    // no control or the control shows no value its rule can read.
    virtual bool GetPageValue(int id, std::string& text) = 0;
    // A message box with the caption "提示"; returns when it is closed.
    virtual void MessageBox(const std::string& text) = 0;
};

} // namespace pell

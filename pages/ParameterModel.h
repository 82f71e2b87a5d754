#pragma once
// What the pages hold of the configurable parameters (ids 0..144): per
// parameter the controller's value, through the table of values the model
// is given (the configuration engine's), and what the page holds: whether a
// page shows it, the text its control shows and whether that text is a
// value (a control that shows nothing its rule can read holds none, and a
// write passes over it). A parameter differs when its page holds a value
// other than the controller's: that is an edit, and a save sends it.
//
// The configuration page's parameter pages keep theirs up to date on the UI
// thread as their controls change, and the jobs read it on the worker; a
// view without a window (the command-line tool, a test's page) keeps its
// page in one. Any thread, every call locked.
#include "protocol/ParamTable.h"

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pell {

// The page value of each id asked, in the order asked; nullopt where the id
// has no control or its control shows no value its rule can read.
using PageReadings = std::vector<std::optional<std::string>>;

class ParameterModel {
public:
    // `controller`: the values the controller is known to hold (the table
    // of the engine that talks to it), which must outlive the model.
    // `withControls`: the ids that a page shows from the start (the others
    // gain a control on their first edit).
    explicit ParameterModel(const ParamTable& controller, const std::vector<int>& withControls = {});

    enum class ShowResult {
        NoControl, // no page shows the id: nothing changes
        Already,   // the page shows the text as a value already
        Shown,     // the page showed another text, or none readable
    };
    // A value the controller or a file gave, shown on the parameter's page.
    ShowResult Show(int id, std::string_view text);
    // What the user does on a page: types a value (the id gains a control
    // if it had none), leaves the control showing no readable value, or the
    // page goes away.
    void Edit(int id, std::string_view text);
    void MakeUnreadable(int id);
    // What a page's control represents now: a value, or (nullopt) none its
    // rule can read. The id gains a control if it had none.
    void Hold(int id, const std::optional<std::string>& value);
    void RemoveControl(int id);

    bool HasControl(int id) const;
    // The value the page holds; nullopt without a control or a readable value.
    std::optional<std::string> Value(int id) const;
    // The text the control shows, value or not; empty without a control.
    std::string Shown(int id) const;
    // The controller's value of the id in the table; nullopt for an id
    // without a parameter row.
    std::optional<std::string> Controller(int id) const;
    // The page holds a value other than the controller's.
    bool Differs(int id) const;
    // Value() of each id, in the order asked.
    PageReadings Readings(const std::vector<int>& ids) const;

private:
    struct Held {
        bool control = false;
        bool readable = true;
        std::string text;
    };
    static constexpr int kIds = 145;
    Held* find(int id);
    const Held* find(int id) const;

    const ParamTable& controller_;
    mutable std::mutex m_;
    std::array<Held, kIds> held_;
};

} // namespace pell

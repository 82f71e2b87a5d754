#pragma once
// The configurable parameters 0..144, one row each: where a page shows the
// parameter (its dialog template and control), the rule that turns the
// value text into the control's state and back, and the limit its label
// states. The AT command and the report label come from the protocol's
// tables by the same id. The page map, the pages' bindings and the page
// order are read from this table; nothing else declares them.
#include "pages/ValueRules.h"

#include <optional>
#include <span>
#include <string_view>

namespace pell {

struct ParamDescriptor {
    int id;
    int templateId;  // the page's dialog template; 0 for a parameter on no page
    int controlId;   // the control on that page; 0 for none
    ValueRule rule;
    const LabelTable* labels = nullptr; // label rule only
    // The limit the control's label states, as the label shows it (UTF-8):
    // "(固定10位)", "(0-16)"; empty where the label states none.
    std::string_view limit = {};

    bool OnPage() const { return templateId != 0; }
    // The command sent for the parameter, before the value ("AT+IDNT=").
    const char* Command() const;
    // The label the controller reports the parameter under (and a
    // configuration file's line names it by).
    const char* ReportLabel() const;
};

// Every configurable parameter, in id order (ids 0..144).
std::span<const ParamDescriptor> ParamDescriptors();
// The row of an id; nullptr outside 0..144.
const ParamDescriptor* FindParamDescriptor(int id);

} // namespace pell

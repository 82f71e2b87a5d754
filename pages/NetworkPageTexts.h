#pragma once
// The network page's label table: the GPRS work mode (parameter 13).
#include "pages/ValueRules.h"

namespace pell::networkpage {

inline constexpr char kTcp[] = "TCP";
inline constexpr char kUdp[] = "UDP";

// The whole value text picks the label: "0" shows "TCP", "1" shows "UDP",
// anything else (empty text, "10", ...) shows "TCP". Reading back, "TCP"
// gives "0", "UDP" gives "1" and any other text, compared byte for byte,
// gives "0".
const LabelTable& WorkModeLabels();

} // namespace pell::networkpage

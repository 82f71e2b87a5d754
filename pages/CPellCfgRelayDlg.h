#pragma once
// The relay page (template 143): default output and use of the relays
// 0..3 (the controller's commands number them 1..4), and the pump's main
// control: device type, lock unlock delay, relay contact type and the
// protection at power-up.
#include "pages/ParamPage.h"

#include <array>

class QComboBox;

namespace pell::ui {

class CPellCfgRelayDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 143;
    // Default output of relays 0..3, use of relays 0..3 (1129 sits between
    // them and is the main control type), main control type, main control
    // relay, power-up protection.
    static constexpr std::array<int, 11> kComboIds = {1124, 1125, 1126, 1127, 1128, 1130,
                                                      1131, 1132, 1129, 1134, 1135};

    explicit CPellCfgRelayDlg(PageRouter& router, QWidget* parent = nullptr);

    QComboBox* Combo(std::size_t i) const { return combos_.at(i); }

private:
    std::array<QComboBox*, kComboIds.size()> combos_{};
};

} // namespace pell::ui

#pragma once
// The water and electricity page (template 141): where the controller's
// water and electricity measurements come from (channel lists), the
// conversion coefficients, detection times and the current and voltage
// trips with their thresholds.
#include "pages/ParamPage.h"

#include <array>

class QComboBox;

namespace pell::ui {

class CPellCfgWtrDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 141;
    // Water channels 1..6, the electricity channel and the backup channel:
    // one list of thirteen channels, "无" first.
    static constexpr std::array<int, 8> kChannelIds = {1094, 1097, 1099, 1101, 1103, 1105, 1095, 1108};
    // Current trip and voltage trip: "不开启", "开启".
    static constexpr std::array<int, 2> kTripIds = {1118, 1123};

    // Creates the window; every channel then shows "无", the trips nothing.
    explicit CPellCfgWtrDlg(PageRouter& router, QWidget* parent = nullptr);

    QComboBox* Channel(std::size_t i) const { return channels_.at(i); }
    QComboBox* Trip(std::size_t i) const { return trips_.at(i); }

private:
    std::array<QComboBox*, kChannelIds.size()> channels_{};
    std::array<QComboBox*, kTripIds.size()> trips_{};
};

} // namespace pell::ui

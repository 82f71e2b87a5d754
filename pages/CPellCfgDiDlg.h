#pragma once
// The digital input page (template 142): sampling interval, storage
// interval, alarm mode and use of the inputs DI0..DI3 (the controller's
// commands number them 1..4).
#include "pages/ParamPage.h"

#include <array>

class QComboBox;

namespace pell::ui {

class CPellCfgDiDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 142;
    // Alarm mode of inputs 0..3 (input 3's is 1120, not 1119).
    static constexpr std::array<int, 4> kAlarmIds = {1116, 1117, 1118, 1120};
    // Use of inputs 0..3.
    static constexpr std::array<int, 4> kUseIds = {1119, 1121, 1122, 1123};

    explicit CPellCfgDiDlg(PageRouter& router, QWidget* parent = nullptr);

    QComboBox* Alarm(std::size_t input) const { return alarm_.at(input); }
    QComboBox* Use(std::size_t input) const { return use_.at(input); }

private:
    std::array<QComboBox*, 4> alarm_{};
    std::array<QComboBox*, 4> use_{};
};

} // namespace pell::ui

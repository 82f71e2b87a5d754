#pragma once
// The Modbus page (template 139): the Modbus work mode and slave address and
// the work modes of the two analog and three digital points. It has no
// navigation item and is never shown; its controls still carry the values
// of its parameters.
#include "pages/ParamPage.h"

#include <array>

class QComboBox;

namespace pell::ui {

class CPellCfgModbusDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 139;
    static constexpr std::array<int, 6> kComboIds = {1094, 1096, 1097, 1098, 1099, 1100};

    explicit CPellCfgModbusDlg(PageRouter& router, QWidget* parent = nullptr);

    // Fills the six lists once, leaving each box without a selection and
    // with the text it had.
    void FillComboItems();
    void InitPage() override { FillComboItems(); }

    // The combo boxes in the order of kComboIds.
    QComboBox* Combo(std::size_t k) const { return combos_[k]; }

private:
    std::array<QComboBox*, 6> combos_{};
    bool filled_ = false;
};

} // namespace pell::ui

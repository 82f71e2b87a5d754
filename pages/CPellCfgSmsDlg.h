#pragma once
// The SMS page (template 138): the four groups of SMS destination numbers,
// the SMS format, the SMS backup and the forwarding of received SMS to the
// serial port. It has no navigation item and is never shown; its controls
// still carry the values of its parameters.
#include "pages/ParamPage.h"

#include <array>

class QComboBox;

namespace pell::ui {

class CPellCfgSmsDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 138;
    static constexpr std::array<int, 3> kComboIds = {1084, 1085, 1086};

    explicit CPellCfgSmsDlg(PageRouter& router, QWidget* parent = nullptr);

    // Fills the three lists once, leaving each box without a selection and
    // with the text it had.
    void FillComboItems();
    void InitPage() override { FillComboItems(); }

    QComboBox* Format() const { return combos_[0]; }
    QComboBox* Backup() const { return combos_[1]; }
    QComboBox* Forward() const { return combos_[2]; }

private:
    std::array<QComboBox*, 3> combos_{};
    bool filled_ = false;
};

} // namespace pell::ui

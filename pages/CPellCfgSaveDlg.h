#pragma once
// The storage page (template 147): the sizes of the controller's record
// stores (per counter, per serial port, card swipes) and whether stored
// records are erased. No buttons, no device actions.
#include "pages/ParamPage.h"

class QComboBox;

namespace pell::ui {

class CPellCfgSaveDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 147;
    explicit CPellCfgSaveDlg(PageRouter& router, QWidget* parent = nullptr);

    // Erase records (1173): "不擦除" 0, "擦除" 1.
    QComboBox* EraseRecords() const { return erase_; }

private:
    QComboBox* erase_ = nullptr;
};

} // namespace pell::ui

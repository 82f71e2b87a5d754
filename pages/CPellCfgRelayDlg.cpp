#include "pages/CPellCfgRelayDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgRelayDlg::CPellCfgRelayDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    for (std::size_t i = 0; i < kComboIds.size(); ++i) {
        combos_[i] = ControlAs<QComboBox>(kComboIds[i]);
        Q_ASSERT(combos_[i]);
    }
}

} // namespace pell::ui

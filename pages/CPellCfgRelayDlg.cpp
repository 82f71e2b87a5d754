#include "pages/CPellCfgRelayDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgRelayDlg::CPellCfgRelayDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    for (std::size_t i = 0; i < kComboIds.size(); ++i) {
        combos_[i] = ControlAs<QComboBox>(kComboIds[i]);
        Q_ASSERT(combos_[i]);
    }
}

} // namespace pell::ui

#include "pages/CPellCfgDiDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgDiDlg::CPellCfgDiDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    for (std::size_t i = 0; i < 4; ++i) {
        alarm_[i] = ControlAs<QComboBox>(kAlarmIds[i]);
        use_[i] = ControlAs<QComboBox>(kUseIds[i]);
        Q_ASSERT(alarm_[i] && use_[i]);
    }
}

} // namespace pell::ui

#include "pages/CPellCfgSaveDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgSaveDlg::CPellCfgSaveDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    erase_ = ControlAs<QComboBox>(1173);
    Q_ASSERT(erase_);
}

} // namespace pell::ui

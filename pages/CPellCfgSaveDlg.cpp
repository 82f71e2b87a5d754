#include "pages/CPellCfgSaveDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgSaveDlg::CPellCfgSaveDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    erase_ = ControlAs<QComboBox>(1173);
    Q_ASSERT(erase_);
}

} // namespace pell::ui

#include "pages/CPellCfgGprsDlg.h"

#include "ui/Gbk.h"
#include "pages/NetworkPageTexts.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgGprsDlg::CPellCfgGprsDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    auto* workMode = ControlAs<QComboBox>(kWorkModeId);
    Q_ASSERT(workMode);
    workMode->setEditText(FromGbk(networkpage::kTcp));
}

} // namespace pell::ui

#include "pages/CPellCfgGprsDlg.h"

#include "ui/Gbk.h"
#include "pages/NetworkPageTexts.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgGprsDlg::CPellCfgGprsDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    auto* workMode = ControlAs<QComboBox>(kWorkModeId);
    Q_ASSERT(workMode);
    workMode->setEditText(FromGbk(networkpage::kTcp));
}

} // namespace pell::ui

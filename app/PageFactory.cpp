#include "app/PageFactory.h"

#include "ui/DialogPage.h"
#include "config/CPellCfgDlg.h"
#include "download/CPellDownDlg.h"
#include "pages/CPellCfgDevDlg.h"
#include "pages/CPellCfgDiDlg.h"
#include "pages/CPellCfgGprsDlg.h"
#include "pages/CPellCfgRelayDlg.h"
#include "pages/CPellCfgWtrDlg.h"

namespace pell::ui {

QWidget* CreatePage(int templateId, QWidget* parent)
{
    switch (templateId) {
    case 129: return new CPellDownDlg(parent);
    case 132: return new CPellCfgDlg(parent);
    case 133: return new CPellCfgDevDlg(parent);
    case 134: return new CPellCfgGprsDlg(parent);
    case 141: return new CPellCfgWtrDlg(parent);
    case 142: return new CPellCfgDiDlg(parent);
    case 143: return new CPellCfgRelayDlg(parent);
    default:
        return new DialogPage(templateId, parent);
    }
}

} // namespace pell::ui

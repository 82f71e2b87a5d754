#include "app/PageFactory.h"

#include "ui/DialogPage.h"
#include "config/CPellCfgDlg.h"
#include "debug/CDebug.h"
#include "download/CPellDownDlg.h"
#include "pages/CPellCfgDevDlg.h"
#include "pages/CPellCfgDiDlg.h"
#include "pages/CPellCfgGprsDlg.h"
#include "pages/CPellCfgRelayDlg.h"
#include "pages/CPellCfgWtrDlg.h"
#include "pages/CPellCfgSaveDlg.h"
#include "pages/CPellCfgCntDlg.h"
#include "pages/CPellCfgUartDlg.h"
#include "pages/CPellCfgSmsDlg.h"
#include "pages/CPellCfgModbusDlg.h"
#include "pages/CPellCfgRcdDlg.h"

namespace pell::ui {

QWidget* CreatePage(int templateId, QWidget* parent)
{
    switch (templateId) {
    case 129: return new CPellDownDlg(parent);
    case 135: return new CDebug(parent);
    case 132: return new CPellCfgDlg(parent);
    case 133: return new CPellCfgDevDlg(parent);
    case 134: return new CPellCfgGprsDlg(parent);
    case 141: return new CPellCfgWtrDlg(parent);
    case 142: return new CPellCfgDiDlg(parent);
    case 143: return new CPellCfgRelayDlg(parent);
    case 144: return new CPellCfgCntDlg(parent);
    case 145: return new CPellCfgUartDlg(parent);
    case 147: return new CPellCfgSaveDlg(parent);
    case 149: return new CPellCfgRcdDlg(parent);
    case 138: return new CPellCfgSmsDlg(parent);
    case 139: return new CPellCfgModbusDlg(parent);
    default:
        return new DialogPage(templateId, parent);
    }
}

} // namespace pell::ui

#pragma once
// The network page (template 134): the controller's GPRS uplink - work
// mode, main and backup centre, DNS servers, dial-up settings, heartbeat
// and the two automatic reports. Every control is reached by its id.
#include "pages/ParamPage.h"

namespace pell::ui {

class CPellCfgGprsDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 134;
    static constexpr int kWorkModeId = 1064;

    // Creates the window; the work mode then shows "TCP" with no item of
    // its list selected.
    explicit CPellCfgGprsDlg(PageRouter& router, QWidget* parent = nullptr);
};

} // namespace pell::ui

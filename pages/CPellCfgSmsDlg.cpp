#include "pages/CPellCfgSmsDlg.h"

#include "ui/Gbk.h"
#include "pages/PageLists.h"
#include "pages/SmsModbusTexts.h"

#include <QComboBox>

namespace pell::ui {

using namespace smspage;

CPellCfgSmsDlg::CPellCfgSmsDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    for (std::size_t k = 0; k < combos_.size(); ++k) {
        combos_[k] = ControlAs<QComboBox>(kComboIds[k]);
        Q_ASSERT(combos_[k]);
    }
}

void CPellCfgSmsDlg::FillComboItems()
{
    if (filled_)
        return;
    filled_ = true;
    FillUnselected(combos_[0], {kPlainSms, kHexSms});
    // The backup list starts with "on", which stands for 1.
    FillUnselected(combos_[1], {kOn, kDisabled});
    FillUnselected(combos_[2], {kOn, kOff});
}

} // namespace pell::ui

#include "pages/CPellCfgModbusDlg.h"

#include "pages/PageLists.h"
#include "pages/SmsModbusTexts.h"

#include <QComboBox>

namespace pell::ui {

using namespace modbuspage;

CPellCfgModbusDlg::CPellCfgModbusDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    for (std::size_t k = 0; k < combos_.size(); ++k) {
        combos_[k] = ControlAs<QComboBox>(kComboIds[k]);
        Q_ASSERT(combos_[k]);
    }
}

void CPellCfgModbusDlg::FillComboItems()
{
    if (filled_)
        return;
    filled_ = true;
    FillUnselected(combos_[0], {kModbusOff, kNetworkRtu, kSerialRtu});
    for (std::size_t k : {1u, 2u})
        FillUnselected(combos_[k], {kNotUsed, kOneShot});
    for (std::size_t k : {3u, 4u, 5u})
        FillUnselected(combos_[k], {kNotUsed, kInput, kOutput});
}

} // namespace pell::ui

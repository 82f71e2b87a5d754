#include "pages/CPellCfgRelayDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgRelayDlg::CPellCfgRelayDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    static const Binding kBindings[] = {
        {69, ValueRule::Digit}, {70, ValueRule::Digit}, {71, ValueRule::Digit}, {72, ValueRule::Digit},
        {73, ValueRule::Digit}, {74, ValueRule::Digit}, {75, ValueRule::Digit}, {76, ValueRule::Digit},
        {77, ValueRule::Digit}, {78, ValueRule::Text},  {79, ValueRule::Digit}, {80, ValueRule::Digit},
    };
    SetBindings(kBindings);

    for (std::size_t i = 0; i < kComboIds.size(); ++i) {
        combos_[i] = ControlAs<QComboBox>(kComboIds[i]);
        Q_ASSERT(combos_[i]);
    }
}

} // namespace pell::ui

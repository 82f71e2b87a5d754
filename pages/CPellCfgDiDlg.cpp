#include "pages/CPellCfgDiDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgDiDlg::CPellCfgDiDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    // Per input: collect time, save time, alarm mode, use.
    static const Binding kBindings[] = {
        {53, ValueRule::Text}, {54, ValueRule::Text}, {55, ValueRule::Digit}, {56, ValueRule::Digit},
        {57, ValueRule::Text}, {58, ValueRule::Text}, {59, ValueRule::Digit}, {60, ValueRule::Digit},
        {61, ValueRule::Text}, {62, ValueRule::Text}, {63, ValueRule::Digit}, {64, ValueRule::Digit},
        {65, ValueRule::Text}, {66, ValueRule::Text}, {67, ValueRule::Digit}, {68, ValueRule::Digit},
    };
    SetBindings(kBindings);

    for (std::size_t i = 0; i < 4; ++i) {
        alarm_[i] = ControlAs<QComboBox>(kAlarmIds[i]);
        use_[i] = ControlAs<QComboBox>(kUseIds[i]);
        Q_ASSERT(alarm_[i] && use_[i]);
    }
}

} // namespace pell::ui

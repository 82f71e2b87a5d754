#include "pages/CPellCfgSaveDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgSaveDlg::CPellCfgSaveDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    // Counters and serial ports alternate: counter n, then port n.
    static const Binding kBindings[] = {
        {117, ValueRule::Text}, {118, ValueRule::Text}, {119, ValueRule::Text},
        {120, ValueRule::Text}, {121, ValueRule::Text}, {122, ValueRule::Text},
        {123, ValueRule::Text}, {124, ValueRule::Text}, {125, ValueRule::Text},
        {126, ValueRule::Digit},
    };
    SetBindings(kBindings);
    erase_ = ControlAs<QComboBox>(1173);
    Q_ASSERT(erase_);
}

} // namespace pell::ui

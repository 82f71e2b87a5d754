#include "pages/CPellCfgGprsDlg.h"

#include "ui/Gbk.h"
#include "pages/NetworkPageTexts.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgGprsDlg::CPellCfgGprsDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    static const Binding kBindings[] = {
        {12, ValueRule::Text},
        {13, ValueRule::Label, &networkpage::WorkModeLabels()},
        {14, ValueRule::Text},
        {15, ValueRule::Text},
        {16, ValueRule::Text},
        {17, ValueRule::Text},
        {18, ValueRule::Text},
        {19, ValueRule::Text},
        {20, ValueRule::Text},
        {21, ValueRule::Text},
        {22, ValueRule::Text},
        {23, ValueRule::Text},
        {24, ValueRule::Text},
        {25, ValueRule::Text},
    };
    SetBindings(kBindings);

    auto* workMode = ControlAs<QComboBox>(kWorkModeId);
    Q_ASSERT(workMode);
    workMode->setEditText(FromGbk(networkpage::kTcp));
}

} // namespace pell::ui

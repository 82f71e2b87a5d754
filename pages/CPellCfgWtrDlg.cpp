#include "pages/CPellCfgWtrDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgWtrDlg::CPellCfgWtrDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    static const Binding kBindings[] = {
        {30, ValueRule::Number},
        {31, ValueRule::Number},
        {32, ValueRule::Number},
        {33, ValueRule::Number},
        {34, ValueRule::Number},
        {35, ValueRule::Number},
        {36, ValueRule::Text},
        {37, ValueRule::Text},
        {38, ValueRule::Number},
        {39, ValueRule::Number},
        {40, ValueRule::Text},
        {41, ValueRule::Text},
        {42, ValueRule::Text},
        {43, ValueRule::Digit},
        {44, ValueRule::Text},
        {45, ValueRule::Text},
        {46, ValueRule::Text},
        {47, ValueRule::Digit},
        {48, ValueRule::Text},
        {49, ValueRule::Text},
        {50, ValueRule::Text},
        {51, ValueRule::Text},
        {52, ValueRule::Text},
        {130, ValueRule::Text},
    };
    SetBindings(kBindings);

    for (std::size_t i = 0; i < kChannelIds.size(); ++i) {
        channels_[i] = ControlAs<QComboBox>(kChannelIds[i]);
        Q_ASSERT(channels_[i]);
        channels_[i]->setCurrentIndex(0); // "无": no channel
    }
    for (std::size_t i = 0; i < kTripIds.size(); ++i) {
        trips_[i] = ControlAs<QComboBox>(kTripIds[i]);
        Q_ASSERT(trips_[i]);
    }
}

} // namespace pell::ui

#include "pages/CPellCfgWtrDlg.h"

#include <QComboBox>

namespace pell::ui {

CPellCfgWtrDlg::CPellCfgWtrDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
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

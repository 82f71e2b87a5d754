#include "pages/CPellCfgDevDlg.h"

#include "ui/Gbk.h"
#include "pages/BasicPageTexts.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QTimeEdit>

namespace pell::ui {

CPellCfgDevDlg::CPellCfgDevDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    clockSource_ = ControlAs<QComboBox>(1099);
    weekday_ = ControlAs<QComboBox>(1104);
    datePicker_ = ControlAs<QDateEdit>(1102);
    timePicker_ = ControlAs<QTimeEdit>(1103);
    clockDisplay_ = ControlAs<QLineEdit>(1100);
    setClock_ = ControlAs<QPushButton>(1101);
    Q_ASSERT(clockSource_ && weekday_ && datePicker_ && timePicker_ && clockDisplay_ && setClock_);

    clockDisplay_->setFrame(false);
    clockTimer_.setInterval(kClockTimerPeriodMs);
    connect(&clockTimer_, &QTimer::timeout, this, [this] { OnTimer(kClockTimerId); });
    // The user's choice only: setting the selection from code is no change.
    connect(clockSource_, &QComboBox::activated, this, [this] { OnCbnSelchangeClockSource(); });
    connect(setClock_, &QPushButton::clicked, this, [this] { OnBnClickedSetClock(); });
    // While the clock job runs, the clock controls rest.
    m_strClockRequest.SetRunningHook([this](bool running) {
        QMetaObject::invokeMethod(this, [this, running] { EnableClockControls(!running); }, Qt::QueuedConnection);
    });
}

RequestText* CPellCfgDevDlg::Request(RequestSlot slot)
{
    return slot == RequestSlot::Clock ? &m_strClockRequest : nullptr;
}

void CPellCfgDevDlg::InitClockControls()
{
    if (clockInitDone_)
        return;
    clockInitDone_ = true;

    datePicker_->hide();
    timePicker_->hide();
    weekday_->hide();

    datePicker_->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    timePicker_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    // The controller's clock holds 1970 to 3000; the pickers offer no more.
    datePicker_->setDateRange(QDate(1970, 1, 1), QDate(3000, 12, 31));
    // The pickers start at the PC's date and time, as a date-time picker does.
    const CivilTime now = now_();
    datePicker_->setDate(QDate(now.year, now.month, now.day));
    timePicker_->setTime(QTime(now.hour, now.minute, now.second));

    clockSource_->clear();
    clockSource_->addItem(FromGbk(basicpage::kSystemTime));
    clockSource_->addItem(FromGbk(basicpage::kManualSetting));
    clockSource_->setCurrentIndex(0);

    weekday_->clear();
    for (const char* day : basicpage::kWeekdays)
        weekday_->addItem(FromGbk(day));
    weekday_->setCurrentIndex(0);

    showClockSource(0);
    OnTimer(kClockTimerId); // the clock shows at once, not a second later
    if (isVisible())
        clockTimer_.start();
}

void CPellCfgDevDlg::showEvent(QShowEvent* event)
{
    ParamPage::showEvent(event);
    if (!clockInitDone_)
        return;
    OnTimer(kClockTimerId); // the PC clock as it is now, then every second
    clockTimer_.start();
}

void CPellCfgDevDlg::hideEvent(QHideEvent* event)
{
    ParamPage::hideEvent(event);
    clockTimer_.stop();
}

void CPellCfgDevDlg::OnTimer(int timerId)
{
    if (timerId != kClockTimerId)
        return;
    clockDisplay_->setText(FromGbk(FormatClockDisplay(now_())));
}

void CPellCfgDevDlg::showClockSource(int item)
{
    const bool manual = item != 0;
    clockDisplay_->setVisible(!manual);
    datePicker_->setVisible(manual);
    timePicker_->setVisible(manual);
    weekday_->setVisible(manual);
}

std::optional<int> CPellCfgDevDlg::selectPickedWeekday()
{
    const CivilTime picked =
        ParsePickedDateTime(ToGbk(datePicker_->text()), ToGbk(timePicker_->text()));
    std::optional<int> weekday = LocalWeekday(picked);
    if (weekday)
        weekday_->setCurrentIndex(*weekday);
    return weekday;
}

void CPellCfgDevDlg::OnCbnSelchangeClockSource()
{
    const int item = clockSource_->currentIndex();
    showClockSource(item);
    if (item != 0)
        selectPickedWeekday();
}

void CPellCfgDevDlg::OnBnClickedSetClock()
{
    if (clockSource_->currentIndex() == 0) {
        m_strClockRequest.Set(SystemClockRequest(now_()));
        return;
    }
    std::optional<int> weekday = selectPickedWeekday();
    if (!weekday) {
        ShowMessage(this, basicpage::kInvalidManualTime);
        return;
    }
    m_strClockRequest.Set(
        ManualClockRequest(ToGbk(datePicker_->text()), ToGbk(timePicker_->text()), *weekday));
}

void CPellCfgDevDlg::EnableClockControls(bool enable)
{
    clockSource_->setEnabled(enable);
    clockDisplay_->setEnabled(enable);
    datePicker_->setEnabled(enable);
    timePicker_->setEnabled(enable);
    weekday_->setEnabled(enable);
}

} // namespace pell::ui

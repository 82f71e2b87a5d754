#pragma once
// The basic settings page (template 133): the controller's identity and
// general parameters, and the clock section that prepares the clock value
// text for the worker's clock job, either from the PC's clock or from a
// picked date and time.
#include "pages/ClockRequest.h"
#include "pages/ParamPage.h"

#include <QTimer>

#include <functional>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTimeEdit;

namespace pell::ui {

class CPellCfgDevDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 133;
    static constexpr int kClockTimerId = 120;
    static constexpr int kClockTimerPeriodMs = 1000;

    explicit CPellCfgDevDlg(PageRouter& router, QWidget* parent = nullptr);

    // The clock request (job 8): empty when nothing is pending.
    RequestText m_strClockRequest;

    // Once, after every page window exists: pickers hidden, their formats,
    // the clock source and weekday lists, the PC clock display running.
    void InitClockControls();
    void InitPage() override { InitClockControls(); }
    RequestText* Request(RequestSlot slot) override;

    // Timer 120 refreshes the PC clock display; other ids do nothing.
    void OnTimer(int timerId);
    // Selection change of the clock source (1099).
    void OnCbnSelchangeClockSource();
    // Button 1101: fills the clock request.
    void OnBnClickedSetClock();

    // The clock job disables the clock controls while it runs (button 1101
    // stays enabled).
    void EnableClockControls(bool enable);

    // Where "now" comes from (tests fix it); the PC's local time by default.
    void SetNowSource(std::function<CivilTime()> now) { now_ = std::move(now); }

    QComboBox* ClockSource() const { return clockSource_; }
    QComboBox* Weekday() const { return weekday_; }
    QDateEdit* DatePicker() const { return datePicker_; }
    QTimeEdit* TimePicker() const { return timePicker_; }
    QLineEdit* ClockDisplay() const { return clockDisplay_; }
    QPushButton* SetClockButton() const { return setClock_; }
    // Timer 120 runs while the page is visible: the display it refreshes
    // is seen only then (showing the page refreshes it at once).
    bool ClockTimerActive() const { return clockTimer_.isActive(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The weekday of the pickers' date and time, selected in 1104; nullopt
    // (1104 unchanged) when the clock cannot hold that time.
    std::optional<int> selectPickedWeekday();
    void showClockSource(int item);

    QComboBox* clockSource_ = nullptr;
    QComboBox* weekday_ = nullptr;
    QDateEdit* datePicker_ = nullptr;
    QTimeEdit* timePicker_ = nullptr;
    QLineEdit* clockDisplay_ = nullptr;
    QPushButton* setClock_ = nullptr;
    QTimer clockTimer_;
    bool clockInitDone_ = false;
    std::function<CivilTime()> now_ = LocalCivilTimeNow;
};

} // namespace pell::ui

#pragma once
// The configuration page (template 132): the log of everything the tool
// does with the controller, the common operations, the wait for the
// controller's configuration mode and the worker that runs the jobs. The
// decisions live in ConfigController; this class is its window: it shows
// the log and the buttons' state and carries the jobs' page accesses to
// the parameter pages (through the page router) on the UI thread.
#include "ui/DialogPage.h"
#include "ui/PageHooks.h"
#include "config/ConfigController.h"
#include "common/PageLog.h"
#include "config/IConfigView.h"
#include "pages/PageRouter.h"
#include "pages/ParameterModel.h"
#include "ui/LogView.h"
#include "ui/PageServices.h"
#include "ui/UiThread.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pell::ui {


class CPellCfgDlg : public DialogPage, public ConfigPageHooks, public IConfigView {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 132;
    static constexpr int kTimerId = 111;
    static constexpr int kTimerPeriodMs = 50;

    CPellCfgDlg(QWidget* parent, const PageServices& services);
    ~CPellCfgDlg() override;

    // The router this page's parameter pages are made for: a page made
    // with it belongs to this page, shows what its jobs read back and gives
    // what they write, and is deleted with it.
    PageRouter& Router() { return router_; }

    // ConfigPageHooks (main window, UI thread).
    void InitConfigPage() override;
    void StopConfigPage() override;
    int JobState() const override { return controller_.JobState(); }
    void SetJobState(int state) override { controller_.SetJobState(state); }
    void SetControlState(int mode) override { controller_.SetControlState(mode); }
    IConfigReceiver* ConfigReceiver() override { return &controller_; }
    void SetLineCheck(std::function<bool()> otherHoldsLine) override
    {
        controller_.SetLineCheck(std::move(otherHoldsLine));
    }
    void SetNavigationSwitch(std::function<void(bool)> enable) override
    {
        navigationSwitch_ = std::move(enable);
    }

    // IConfigView.
    void AppendLog(std::string_view text) override;
    void ShowControlState(int mode) override;
    bool SetPageValues(const std::vector<PageValue>& values) override;
    PageReadings GetPageValues(const std::vector<int>& ids) override;
    void MessageBox(const std::string& text) override;
    void EnableClockControls(bool enable) override;
    void ShowRequestAnswer(RequestSlot slot, const std::string& gbkText) override;
    bool AskYesNo(const std::string& text) override;
    std::shared_ptr<HistoryRecords> Records() override { return router_.Records(); }

    // Where the file dialogs' answers come from (tests give the path or an
    // empty text for a cancel); the platform's dialogs by default.
    using FileChooser = std::function<QString(QWidget* owner)>;
    void SetSaveFileChooser(FileChooser chooser) { saveChooser_ = std::move(chooser); }
    void SetOpenFileChooser(FileChooser chooser) { openChooser_ = std::move(chooser); }

    // Button handlers.
    void OnBnClickedReload();             // 1030
    void OnBnClickedSaveParams();         // 1031, job 2
    void OnBnClickedLoadParams();         // 1032, job 3
    void OnBnClickedClearLog();           // 1033
    void OnBnClickedVersion();            // 1034, job 4
    void OnBnClickedSignal();             // 1035, job 5
    void OnBnClickedFactory();            // 1036, job 6
    void OnBnClickedRestart();            // 1040, job 7
    void OnBnClickedBrowse();             // 1037
    void OnBnClickedSaveToFile();         // 1039
    void OnBnClickedConfigureFromFile();  // 1045, job 18
    void OnBnClickedClearMeter();         // 1041, job 20
    void OnBnClickedClearCache();         // 1042, job 19
    void OnTimer(int timerId);

    ConfigController& Controller() { return controller_; }
    const PageLog& Log() const { return log_; }
    QPlainTextEdit* LogEdit() const { return logEdit_; }
    QPushButton* Button(int id) const;
    // Timer 111 is on from InitConfigPage until the page stops; it ticks
    // only while the page waits for configuration mode (the only time a
    // tick does something), so an idle page costs nothing.
    bool TimerActive() const { return timerOn_; }
    bool TimerTicking() const { return timer_.isActive(); }
    // The configuration file path (edit 1038).
    QString ConfigFilePath() const;

    // The thirteen controls that SetControlState enables and disables.
    static const int kSwitchedControls[13];

private:
    void flushLog();
    void applyControlState(int mode);
    // Lets timer 111 tick while the page waits for configuration mode.
    void followWaiting();

    std::function<void(bool)> navigationSwitch_;
    FileChooser saveChooser_;
    FileChooser openChooser_;
    QPlainTextEdit* logEdit_ = nullptr;
    LogView logView_{nullptr};
    QLineEdit* pathEdit_ = nullptr;
    QPushButton* reload_ = nullptr;
    PageLog log_;
    // What the parameter pages' controls represent, beside the values of
    // the engine the worker sends with: the pages keep it up to date on the
    // UI thread, the jobs read it without waiting for the window.
    ParameterModel model_;
    // This page's parameter pages, which it owns: made for it (Router()),
    // deleted with it.
    PageRouter router_;
    UiCallGate gate_;
    ConfigController controller_;
    QTimer timer_;
    bool timerOn_ = false;
};

} // namespace pell::ui

#include "config/CPellCfgDlg.h"

#include <algorithm>

#include "ui/UiThread.h"
#include "config/ConfigTexts.h"
#include "common/FileIo.h"
#include "config/ConfigFile.h"
#include "protocol/CommandTable.h"
#include "pages/PageRouter.h"
#include "ui/Gbk.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <atomic>

namespace pell::ui {

const int CPellCfgDlg::kSwitchedControls[13] = {1031, 1032, 1033, 1034, 1035, 1036, 1040,
                                                1037, 1038, 1039, 1045, 1041, 1042};

CPellCfgDlg::CPellCfgDlg(QWidget* parent, const PageServices& services)
    : DialogPage(kTemplateId, parent),
      log_(configtext::kLogBanner),
      model_(services.engine.Values()),
      controller_(*this, services.port, services.engine, [this](RequestSlot slot) { return router_.Request(slot); })
{
    router_.SetModel(&model_);
    router_.SetRequestObserver(&controller_.Worker().RequestWatcher());
    logEdit_ = ControlAs<QPlainTextEdit>(1029);
    logView_ = LogView(logEdit_);
    pathEdit_ = ControlAs<QLineEdit>(1038);
    reload_ = ControlAs<QPushButton>(1030);

    const std::pair<int, void (CPellCfgDlg::*)()> handlers[] = {
        {1030, &CPellCfgDlg::OnBnClickedReload},     {1031, &CPellCfgDlg::OnBnClickedSaveParams},
        {1032, &CPellCfgDlg::OnBnClickedLoadParams}, {1033, &CPellCfgDlg::OnBnClickedClearLog},
        {1034, &CPellCfgDlg::OnBnClickedVersion},    {1035, &CPellCfgDlg::OnBnClickedSignal},
        {1036, &CPellCfgDlg::OnBnClickedFactory},    {1040, &CPellCfgDlg::OnBnClickedRestart},
        {1037, &CPellCfgDlg::OnBnClickedBrowse},     {1039, &CPellCfgDlg::OnBnClickedSaveToFile},
        {1045, &CPellCfgDlg::OnBnClickedConfigureFromFile},
        {1041, &CPellCfgDlg::OnBnClickedClearMeter}, {1042, &CPellCfgDlg::OnBnClickedClearCache},
    };
    for (const auto& [id, handler] : handlers)
        if (QPushButton* b = Button(id))
            connect(b, &QPushButton::clicked, this, handler);

    saveChooser_ = [](QWidget* owner) {
        QFileDialog dialog(owner);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters({QStringLiteral("配置文件(*.cfg)"), QStringLiteral("所有文件(*.*)")});
        dialog.setDefaultSuffix(QStringLiteral("cfg"));
        dialog.selectFile(QStringLiteral("zurb"));
        // Asks before an existing file is replaced (the dialog's default).
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
    openChooser_ = [](QWidget* owner) {
        QFileDialog dialog(owner);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(QStringLiteral("*.cfg"));
        dialog.setDefaultSuffix(QStringLiteral("cfg"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };

    timer_.setInterval(kTimerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(kTimerId); });
}

CPellCfgDlg::~CPellCfgDlg()
{
    StopConfigPage();
    // The parameter pages are this page's: they go with it, after its
    // worker, and before the model they keep up to date.
    router_.DeletePages();
    router_.SetRequestObserver(nullptr);
    router_.SetModel(nullptr);
}

void CPellCfgDlg::StopConfigPage()
{
    timerOn_ = false;
    timer_.stop();
    // Release the worker from any wait for this window before joining it.
    gate_.Close();
    controller_.Stop();
}

QPushButton* CPellCfgDlg::Button(int id) const
{
    return ControlAs<QPushButton>(id);
}

QString CPellCfgDlg::ConfigFilePath() const
{
    return pathEdit_ ? pathEdit_->text() : QString();
}

void CPellCfgDlg::InitConfigPage()
{
    router_.InitPages();

    // The whole log once; from here on lines are added at its end.
    log_.TakePending();
    logView_.ShowWhole(log_.Text());
    timerOn_ = true;
    followWaiting();
    controller_.Start();
}

void CPellCfgDlg::followWaiting()
{
    // The wait begins only on the UI thread (button 1030); it ends on any
    // thread, and the next tick then stops the timer.
    if (timerOn_ && controller_.JobState() == kJobWaiting && !timer_.isActive())
        timer_.start();
}

// ---- log ----

void CPellCfgDlg::AppendLog(std::string_view text)
{
    const bool mustAsk = log_.Append(text);
    if (IsUiThread()) {
        flushLog();
    } else if (mustAsk) {
        QMetaObject::invokeMethod(this, [this] { flushLog(); }, Qt::QueuedConnection);
    }
}

void CPellCfgDlg::flushLog()
{
    logView_.Show(log_.TakePending());
}

void CPellCfgDlg::OnBnClickedClearLog()
{
    log_.Clear();
    logView_.Clear();
}

// ---- controls ----

void CPellCfgDlg::ShowControlState(int mode)
{
    if (IsUiThread()) {
        applyControlState(mode);
        return;
    }
    // Posted, never waited for: the receive thread calls this, and the main
    // window stops that thread from the UI thread.
    QMetaObject::invokeMethod(this, [this, mode] { applyControlState(mode); }, Qt::QueuedConnection);
}

void CPellCfgDlg::applyControlState(int mode)
{
    const bool idle = mode == kControlsIdle;
    if (navigationSwitch_)
        navigationSwitch_(idle);
    if (reload_) {
        if (mode == kControlsWaiting) {
            reload_->setText(QStringLiteral("取消加载"));
            reload_->setEnabled(true);
        } else if (mode == kControlsBusy) {
            reload_->setEnabled(false);
        } else {
            reload_->setText(QStringLiteral("重新加载"));
            reload_->setEnabled(true);
        }
    }
    for (int id : kSwitchedControls)
        if (QWidget* w = Control(id))
            w->setEnabled(idle);
}

// ---- parameter pages ----

// A job hands all its values over in one call: the worker waits for the UI
// thread once per step, not once per parameter.

bool CPellCfgDlg::SetPageValues(const std::vector<PageValue>& values)
{
    return gate_.Run(this, [&] {
        for (const PageValue& v : values)
            router_.ShowPageValue(v.id, v.text);
    });
}

PageReadings CPellCfgDlg::GetPageValues(const std::vector<int>& ids)
{
    // The pages keep the model up to date as their controls change: the
    // worker reads it without waiting for the window.
    if (gate_.IsClosed())
        return {};
    return model_.Readings(ids);
}

void CPellCfgDlg::MessageBox(const std::string& text)
{
    gate_.Run(this, [&] { ShowMessage(this, text); });
}

bool CPellCfgDlg::AskYesNo(const std::string& text)
{
    return ui::AskYesNo(this, text);
}

// Posted, never waited for: the job's message box that follows is carried
// out after them, in order.

void CPellCfgDlg::EnableClockControls(bool enable)
{
    // The page that owns the clock request hears of its job through it.
    if (RequestText* request = router_.Request(RequestSlot::Clock))
        request->Running(!enable);
}

void CPellCfgDlg::ShowRequestAnswer(RequestSlot slot, const std::string& gbkText)
{
    if (RequestText* request = router_.Request(slot))
        request->Answer(gbkText);
}

// ---- buttons and timer ----

void CPellCfgDlg::OnBnClickedReload()
{
    controller_.OnReloadButton();
    followWaiting();
}
void CPellCfgDlg::OnBnClickedSaveParams() { controller_.OnJobButton(kJobWrite); }
void CPellCfgDlg::OnBnClickedLoadParams() { controller_.OnJobButton(kJobRead); }
void CPellCfgDlg::OnBnClickedVersion() { controller_.OnJobButton(kJobVersion); }
void CPellCfgDlg::OnBnClickedSignal() { controller_.OnJobButton(kJobSignal); }
void CPellCfgDlg::OnBnClickedFactory() { controller_.OnJobButton(kJobFactory); }
void CPellCfgDlg::OnBnClickedRestart() { controller_.OnJobButton(kJobRestart); }
void CPellCfgDlg::OnBnClickedClearMeter() { controller_.OnClearButton(kJobClearMeter); }
void CPellCfgDlg::OnBnClickedClearCache() { controller_.OnClearButton(kJobClearCache); }

void CPellCfgDlg::OnBnClickedBrowse()
{
    const QString path = openChooser_(this);
    if (path.isEmpty())
        return; // cancelled: the path stays
    if (pathEdit_)
        pathEdit_->setText(path);
}

void CPellCfgDlg::OnBnClickedSaveToFile()
{
    // The engine's table, not the pages: edits not yet saved to the
    // controller are not in the file. A parameter whose value nobody gave
    // (the controller's report lacked it) is left out rather than saved
    // with whatever the table happens to hold.
    const KnownParams& known = controller_.Worker().Known();
    const std::vector<int> unknown = controller_.Worker().ValuesGiven() ? known.Unknown() : std::vector<int>();
    const std::string text = FormatConfigText(controller_.Engine().Values(), [&](int id) {
        return std::find(unknown.begin(), unknown.end(), id) == unknown.end();
    });
    if (text.empty())
        return;
    const QString path = saveChooser_(this);
    if (path.isEmpty())
        return; // cancelled: any existing file stays as it was
    std::string error;
    // Replaced whole or not at all: a failed write leaves the old file.
    if (!WriteFileAtomically(CorePath(path), text, &error)) {
        ShowMessage(this, configtext::kSaveFailed + ToGbk(FromCorePath(error)));
        return;
    }
    std::string saved = configtext::kSaved;
    if (!unknown.empty()) {
        saved += "\r\n";
        saved += configtext::kNotSaved;
        for (std::size_t i = 0; i < unknown.size(); ++i) {
            const char* label = ParamLabel(unknown[i]);
            saved += (i ? ", " : "") + std::string(label != nullptr ? label : "");
        }
    }
    ShowMessage(this, saved);
}

void CPellCfgDlg::OnBnClickedConfigureFromFile()
{
    const QString path = ConfigFilePath();
    if (path.isEmpty()) {
        ShowMessage(this, configtext::kSelectFileFirst);
        return;
    }
    std::string bytes;
    std::string error;
    switch (ReadConfigFile(CorePath(path), bytes, &error)) {
    case ConfigFileRead::Read:
        break;
    case ConfigFileRead::Refused: // empty, or too long for a configuration file
        ShowMessage(this, configtext::kSelectFileFirst);
        return;
    case ConfigFileRead::Failed:
        ShowMessage(this, configtext::kReadFailed + ToGbk(FromCorePath(error)));
        return;
    }
    // Nothing of the file reaches the table while a job runs or a download
    // holds the line: the check comes first, the parse after it. Rows the
    // file does not name keep their values, and job 18 runs whether or not
    // a line matched (it sends only what differs).
    controller_.OnConfigureFromFile([&](ParamTable& values) {
        ParseConfigText(values, bytes.data(), bytes.size());
        return true;
    });
}

void CPellCfgDlg::OnTimer(int timerId)
{
    if (timerId != kTimerId)
        return;
    if (controller_.JobState() != kJobWaiting) {
        timer_.stop();
        return;
    }
    controller_.OnTimerTick();
}

} // namespace pell::ui

#include "config/CPellCfgDlg.h"

#include "ui/UiThread.h"
#include "config/ConfigTexts.h"
#include "pages/PageRouter.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>

#include <atomic>

namespace pell::ui {

namespace {

std::atomic<CommandEngine*> g_engineForNewPages{nullptr};

CommandEngine& engineForNewPage()
{
    CommandEngine* engine = g_engineForNewPages.load();
    return engine != nullptr ? *engine : theCommandEngine();
}

RequestText* pageRequest(RequestSlot slot)
{
    return PageRouter::Instance().Request(slot);
}

} // namespace

const int CPellCfgDlg::kSwitchedControls[13] = {1031, 1032, 1033, 1034, 1035, 1036, 1040,
                                                1037, 1038, 1039, 1045, 1041, 1042};

void CPellCfgDlg::SetEngineForNewPages(CommandEngine* engine)
{
    g_engineForNewPages.store(engine);
}

CPellCfgDlg::CPellCfgDlg(QWidget* parent)
    : DialogPage(kTemplateId, parent),
      log_(configtext::kLogBanner),
      controller_(*this, theSerial, engineForNewPage(), &pageRequest)
{
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

    timer_.setInterval(kTimerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(kTimerId); });
}

CPellCfgDlg::~CPellCfgDlg()
{
    StopConfigPage();
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
    PageRouter::Instance().InitPages();

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

// A job hands all its values over, or asks for all it needs, in one call:
// the worker waits for the UI thread once per step, not once per parameter.

bool CPellCfgDlg::SetPageValues(const std::vector<PageValue>& values)
{
    return gate_.Run(this, [&] {
        PageRouter& router = PageRouter::Instance();
        for (const PageValue& v : values)
            router.ShowPageValue(v.id, v.text);
    });
}

PageReadings CPellCfgDlg::GetPageValues(const std::vector<int>& ids)
{
    PageReadings readings;
    readings.reserve(ids.size());
    const bool read = gate_.Run(this, [&] {
        PageRouter& router = PageRouter::Instance();
        for (int id : ids) {
            std::string text;
            if (router.GetPageValue(id, text))
                readings.emplace_back(std::move(text));
            else
                readings.emplace_back();
        }
    });
    if (!read)
        readings.clear();
    return readings;
}

void CPellCfgDlg::MessageBox(const std::string& text)
{
    gate_.Run(this, [&] { ShowMessage(this, text); });
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
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("*.cfg"));
    dialog.setDefaultSuffix(QStringLiteral("cfg"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    if (pathEdit_)
        pathEdit_->setText(dialog.selectedFiles().first());
}

void CPellCfgDlg::OnBnClickedSaveToFile()
{
    // Writing the parameter table to a configuration file comes with the
    // configuration-file support.
}

void CPellCfgDlg::OnBnClickedConfigureFromFile()
{
    if (ConfigFilePath().isEmpty()) {
        ShowMessage(this, configtext::kSelectFileFirst);
        return;
    }
    // Nothing of the file reaches the table while a job runs or a download
    // holds the line: the check comes first, the parse after it.
    controller_.OnConfigureFromFile([] {
        // Reading the file into the parameter table comes with the
        // configuration-file support; until then no file is applied (job
        // 18 would only push the table's old values back onto the pages).
        return false;
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

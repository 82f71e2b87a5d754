#include "config/ConfigController.h"

#include "config/ConfigTexts.h"
#include "config/ReportParser.h"

namespace pell {

ConfigController::ConfigController(IConfigView& view, CSerial& port, CommandEngine& engine,
                                   RequestLookup requests)
    : view_(view), port_(port), engine_(engine),
      worker_(jobs_, std::move(requests), view, engine, [this](int mode) { SetControlState(mode); })
{
    // Nothing received before the first wait may count as the banner.
    engine_.ResetReply();
}

ConfigController::~ConfigController()
{
    Stop();
}

void ConfigController::Start()
{
    InstallReportParser();
    worker_.Start();
}

void ConfigController::Stop()
{
    worker_.Stop();
}

void ConfigController::SetControlState(int mode)
{
    if (mode == kControlsWaiting)
        engine_.ResetReply();
    view_.ShowControlState(mode);
}

void ConfigController::SetJobState(int state)
{
    auto lock = jobs_.Transition();
    jobs_.SetStateLocked(state);
}

void ConfigController::OnPortData(int length, const char* bytes)
{
    if (length <= 0 || bytes == nullptr)
        return;
    const int state = jobs_.State();
    if (state == kJobWaiting) {
        engine_.AppendReply(length, bytes);
        if (!engine_.ReplyContains(configtext::kConfigureProgram))
            return;
        auto lock = jobs_.Transition();
        // The user may have cancelled the wait, or the port was closed,
        // while the chunk was on its way.
        if (jobs_.State() != kJobWaiting)
            return;
        view_.AppendLog(configtext::kConfigModeEntered);
        view_.AppendLog(configtext::kLoadingParams);
        SetControlState(kControlsWaiting);
        jobs_.StartLocked(kJobConnectAndRead);
    } else if (state == kJobRunning) {
        engine_.OnCommandData(length, bytes);
    }
}

bool ConfigController::refusedForDownload()
{
    if (!worker_.OtherHoldsLine())
        return false;
    view_.AppendLog(configtext::kDownloadActive);
    return true;
}

void ConfigController::OnJobButton(int code)
{
    if (!port_.IsOpen()) {
        view_.MessageBox(configtext::kOpenPortFirst);
        return;
    }
    if (refusedForDownload())
        return;
    auto lock = jobs_.Transition();
    if (jobs_.State() != kJobIdle)
        return;
    SetControlState(kControlsBusy);
    jobs_.StartLocked(code);
}

void ConfigController::OnClearButton(int code)
{
    if (!port_.IsOpen()) {
        view_.MessageBox(configtext::kOpenPortFirst);
        return;
    }
    if (refusedForDownload())
        return;
    {
        auto lock = jobs_.Transition();
        if (jobs_.State() == kJobIdle) {
            SetControlState(kControlsBusy);
            jobs_.StartLocked(code);
            return;
        }
    }
    view_.MessageBox(configtext::kSetFailed);
}

void ConfigController::OnReloadButton()
{
    {
        auto lock = jobs_.Transition();
        if (jobs_.State() == kJobWaiting) {
            SetControlState(kControlsIdle);
            jobs_.SetStateLocked(kJobIdle);
            view_.AppendLog(configtext::kWaitCancelled);
            return;
        }
        if (port_.IsOpen()) {
            if (refusedForDownload())
                return;
            // The reply text is emptied before the state lets the receive
            // thread search it, so an old banner cannot start a job.
            SetControlState(kControlsWaiting);
            view_.AppendLog(configtext::kWaiting);
            jobs_.SetStateLocked(kJobWaiting);
            return;
        }
    }
    view_.MessageBox(configtext::kOpenPortFirst);
}

void ConfigController::OnTimerTick()
{
    if (jobs_.State() == kJobWaiting && port_.IsOpen())
        port_.Write("S", 1);
}

bool ConfigController::OnConfigureFromFile(const std::function<bool()>& parseIntoTable)
{
    auto lock = jobs_.Transition();
    // The values must not reach the table while another conversation runs:
    // the job that runs would not apply them, nor would anything else.
    if (jobs_.State() != kJobIdle) {
        view_.AppendLog(configtext::kBusyRefused);
        return false;
    }
    if (refusedForDownload())
        return false;
    if (!parseIntoTable())
        return false;
    SetControlState(kControlsBusy);
    jobs_.StartLocked(kJobApplyLoaded);
    return true;
}

} // namespace pell

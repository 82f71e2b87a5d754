#include "config/ConfigController.h"

#include "config/ConfigTexts.h"
#include "config/DeviceJobs.h"
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
    engine_.SetReportHandler(&ReportReplyHandler);
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

bool ConfigController::confirmed(int code, bool busyFails)
{
    const char* question = MaintenanceQuestion(code);
    if (question == nullptr)
        return true;
    // Nothing to ask while the button would be refused anyway.
    if (jobs_.State() != kJobIdle) {
        if (busyFails)
            view_.MessageBox(configtext::kSetFailed);
        return false;
    }
    if (!view_.AskYesNo(question))
        return false;
    // The port may have gone while the question was open.
    if (!port_.IsOpen()) {
        view_.MessageBox(configtext::kOpenPortFirst);
        return false;
    }
    return true;
}

void ConfigController::OnJobButton(int code)
{
    if (!port_.IsOpen()) {
        view_.MessageBox(configtext::kOpenPortFirst);
        return;
    }
    if (refusedForDownload() || !confirmed(code, false))
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
    if (refusedForDownload() || !confirmed(code, true))
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

bool ConfigController::OnConfigureFromFile(const std::function<bool(ParamTable& values)>& parseIntoTable)
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
    // What the table holds before the file: job 18 sends a parameter that
    // no page shows only when the file changed it.
    std::vector<std::string> before;
    for (int id = kFirstParamId; id <= kLastParamId; ++id)
        before.push_back(engine_.Values().Get(id).value_or(std::string()));
    if (!parseIntoTable(engine_.Values()))
        return false;
    worker_.SetTableBeforeLoad(std::move(before));
    SetControlState(kControlsBusy);
    jobs_.StartLocked(kJobApplyLoaded);
    return true;
}

} // namespace pell

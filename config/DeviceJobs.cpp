#include "config/DeviceJobs.h"

#include "config/ConfigTexts.h"
#include "config/JobControl.h"
#include "pages/ClockRequest.h"
#include "pages/ValueRules.h"
#include "protocol/CommandTable.h"

namespace pell {

namespace {

constexpr int kReadbackRuns = 3;

const MaintenanceCommand kMaintenance[] = {
    {kJobVersion, kIdVersion, "version", false, nullptr, nullptr, nullptr},
    {kJobSignal, kIdSignal, "signal", false, nullptr, nullptr, nullptr},
    {kJobFactory, kIdFactory, "factory", false, configtext::kAskFactory, nullptr, nullptr},
    {kJobRestart, kIdReset, "restart", false, configtext::kAskRestart, nullptr, nullptr},
    {kJobClearCache, kIdInitDataFlash, "clear-cache", true, configtext::kAskClearCache, configtext::kClearCacheOk,
     configtext::kClearCacheFailed},
    {kJobClearMeter, kIdInitSensor, "clear-meter", true, configtext::kAskClearMeter, configtext::kClearMeterOk,
     configtext::kClearMeterFailed},
};

// One initial value: its command, the prefix of its answer, its boxes.
struct InitialValueRow {
    int commandId;
    RequestSlot slot;
    const char* prefix;
    const char* readOk;
    const char* setOk;
    const char* readFailed;
    const char* setFailed;
};

std::optional<InitialValueRow> initialValueRow(int code)
{
    static const char* const kCounterPrefixes[] = {"CNTRVAL01:", "CNTRVAL02:", "CNTRVAL03:", "CNTRVAL04:"};
    static const char* const kSerialPrefixes[] = {"COMVAL01:", "COMVAL02:", "COMVAL03:", "COMVAL04:"};
    if (code >= kJobCounter0 && code < kJobCounter0 + 4) {
        const int n = code - kJobCounter0;
        return InitialValueRow{kIdCounterValue1 + n, static_cast<RequestSlot>(static_cast<int>(RequestSlot::Counter0) + n),
                               kCounterPrefixes[n], configtext::kCounterReadOk, configtext::kCounterSetOk,
                               configtext::kCounterReadFailed, configtext::kCounterSetFailed};
    }
    if (code >= kJobSerial0 && code < kJobSerial0 + 4) {
        const int n = code - kJobSerial0;
        return InitialValueRow{kIdSerialValue1 + n, static_cast<RequestSlot>(static_cast<int>(RequestSlot::Serial0) + n),
                               kSerialPrefixes[n], configtext::kSerialReadOk, configtext::kSerialSetOk,
                               configtext::kSerialReadFailed, configtext::kSerialSetFailed};
    }
    return std::nullopt;
}

// The request as one value: up to its first line break (a request is one
// command line), and nullopt when it is longer than a value may be.
std::optional<std::string> requestValue(const std::string& request)
{
    std::string value(CutAtLineBreak(request));
    if (value.size() > static_cast<std::size_t>(kParamValueMax))
        return std::nullopt;
    return value;
}

} // namespace

std::string InitialValueAnswer(std::string reply, std::string_view prefix)
{
    if (const std::size_t at = reply.find(prefix); at != std::string::npos)
        reply.erase(0, at + prefix.size());
    if (const std::size_t ok = reply.find("OK"); ok != std::string::npos)
        reply.resize(ok);
    return reply;
}

std::span<const MaintenanceCommand> MaintenanceCommands()
{
    return kMaintenance;
}

const MaintenanceCommand* FindMaintenanceCommand(int code)
{
    for (const MaintenanceCommand& row : kMaintenance)
        if (row.code == code)
            return &row;
    return nullptr;
}

const MaintenanceCommand* FindMaintenanceVerb(std::string_view verb)
{
    for (const MaintenanceCommand& row : kMaintenance)
        if (verb == row.verb)
            return &row;
    return nullptr;
}

const char* MaintenanceQuestion(int code)
{
    const MaintenanceCommand* row = FindMaintenanceCommand(code);
    return row != nullptr ? row->question : nullptr;
}

void RunMaintenanceJob(int code, JobContext& ctx)
{
    const MaintenanceCommand* row = FindMaintenanceCommand(code);
    if (row == nullptr)
        return;
    std::string line;
    ctx.Engine().FormatCommand(row->commandId, line);
    ctx.Log(line);
    const CommandOutcome& outcome = ctx.Send(row->commandId);
    const bool ok = outcome.Confirmed();
    // The answer as received, the OK or error reply included; nothing when
    // the controller was silent (and nothing of an earlier command when the
    // worker stops before this one went out).
    if (ctx.Stopping())
        return;
    if (outcome.status == CommandStatus::AnsweredLate && !outcome.reply.empty())
        ctx.Log(configtext::kLateAnswer);
    ctx.Log(outcome.reply);
    if (outcome.status == CommandStatus::LineLost)
        ctx.Log(configtext::kLineGone);

    if (code == kJobFactory && ok) {
        for (int run = 0; run < kReadbackRuns && !ctx.Stopping(); ++run)
            if (ReadDeviceParameters(ctx))
                break;
    }
    if (code == kJobRestart && ok)
        ctx.Log(configtext::kRestartNote);
    if (row->okBox != nullptr && !ctx.Stopping())
        ctx.View().MessageBox(ok ? row->okBox : row->failBox);
}

void SetDeviceClock(JobContext& ctx)
{
    if (ctx.request.empty())
        return;
    IConfigView& view = ctx.View();
    view.EnableClockControls(false);
    std::string request = ctx.request;
    // The PC's clock as the command goes out, not as it stood at the click.
    if (IsSystemClockRequest(request))
        request = SystemClockRequest(LocalCivilTimeNow());
    bool ok = false;
    if (const std::optional<std::string> value = requestValue(request)) {
        ctx.Engine().Values().Set(kIdClock, *value);
        ok = ctx.SendWith(kIdClock, *value).Confirmed();
    }
    view.EnableClockControls(true);
    if (!ctx.Stopping())
        view.MessageBox(ok ? configtext::kClockOk : configtext::kClockFailed);
}

void ExchangeInitialValue(int code, JobContext& ctx)
{
    const std::optional<InitialValueRow> row = initialValueRow(code);
    if (!row || ctx.request.empty())
        return;
    const std::optional<std::string> value = requestValue(ctx.request);
    const bool read = CutAtLineBreak(ctx.request) == "?";
    bool ok = false;
    std::string reply;
    if (value) {
        ctx.Engine().Values().Set(row->commandId, *value);
        const CommandOutcome& outcome = ctx.SendWith(row->commandId, *value);
        ok = outcome.Confirmed();
        reply = outcome.reply;
    }
    if (ctx.Stopping())
        return;
    if (!ok) {
        ctx.View().MessageBox(read ? row->readFailed : row->setFailed);
        return;
    }
    if (!read) {
        ctx.View().MessageBox(row->setOk);
        return;
    }
    ctx.result.answer = InitialValueAnswer(reply, row->prefix);
    ctx.View().ShowRequestAnswer(row->slot, *ctx.result.answer);
    ctx.View().MessageBox(row->readOk);
}

} // namespace pell

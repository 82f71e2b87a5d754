#include "config/ConfigJobs.h"

#include "config/ConfigTexts.h"
#include "config/DeviceJobs.h"
#include "config/JobControl.h"
#include "config/RecordsJob.h"
#include "config/ReportParser.h"
#include "pages/ValueRules.h"

#include <vector>

namespace pell {

namespace {

constexpr int kConnectAttempts = 10;
constexpr int kReadAttempts = 3;
constexpr int kReadbackRuns = 3;
// A report shorter than this is no whole parameter set.
constexpr std::size_t kReportMinBytes = 1024;

// The value of the id in the table of the job's engine.
std::string tableValue(const JobContext& ctx, int id)
{
    std::string value;
    ctx.Engine().Values().Get(id, value);
    return value;
}

// The configurable parameters in ascending order: what the read-back shows
// and the writes compare.
const std::vector<int>& paramIds()
{
    static const std::vector<int> ids = [] {
        std::vector<int> v;
        for (int id = kFirstParamId; id <= kLastParamId; ++id)
            v.push_back(id);
        return v;
    }();
    return ids;
}

// Logs the command line of the id, sends it and logs the outcome; true when
// the controller confirmed it.
bool sendLogged(JobContext& ctx, int id)
{
    std::string line;
    ctx.Engine().FormatCommand(id, line);
    ctx.Log(line);
    const CommandOutcome& outcome = ctx.Send(id);
    LogCommandOutcome(ctx, outcome);
    return outcome.Confirmed();
}

// The controller's answer as received; a late one says so first.
void logReply(const JobContext& ctx, const CommandOutcome& outcome)
{
    if (outcome.status == CommandStatus::AnsweredLate && !outcome.reply.empty())
        ctx.Log(configtext::kLateAnswer);
    ctx.Log(outcome.reply);
}

std::string labelList(const std::vector<int>& ids)
{
    std::string list;
    for (int id : ids) {
        const char* label = ParamLabel(id);
        if (label == nullptr)
            continue;
        if (!list.empty())
            list += ", ";
        list += label;
    }
    return list;
}

} // namespace

void KnownParams::Set(int id, bool known)
{
    if (id < kFirstParamId || id > kLastParamId)
        return;
    std::lock_guard<std::mutex> lock(m_);
    known_.set(static_cast<std::size_t>(id - kFirstParamId), known);
}

bool KnownParams::Known(int id) const
{
    if (id < kFirstParamId || id > kLastParamId)
        return false;
    std::lock_guard<std::mutex> lock(m_);
    return known_.test(static_cast<std::size_t>(id - kFirstParamId));
}

std::vector<int> KnownParams::Unknown() const
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<int> ids;
    for (int id = kFirstParamId; id <= kLastParamId; ++id)
        if (!known_.test(static_cast<std::size_t>(id - kFirstParamId)))
            ids.push_back(id);
    return ids;
}

const CommandOutcome& JobContext::keep(CommandOutcome outcome)
{
    result.commands.push_back(std::move(outcome));
    view_.CommandEnded(result.commands.back());
    return result.commands.back();
}

const CommandOutcome& JobContext::Send(int id)
{
    return Send(id, CommandEngine::ReplyComplete());
}

const CommandOutcome& JobContext::Send(int id, const CommandEngine::ReplyComplete& complete)
{
    if (Stopping()) {
        CommandOutcome none;
        none.id = id;
        engine_.FormatCommand(id, none.line);
        return keep(std::move(none));
    }
    return keep(engine_.Execute(id, complete));
}

const CommandOutcome& JobContext::SendWith(int id, std::string_view value)
{
    if (Stopping()) {
        CommandOutcome none;
        none.id = id;
        return keep(std::move(none));
    }
    return keep(engine_.ExecuteWith(id, value));
}

void LogCommandOutcome(const JobContext& ctx, const CommandOutcome& outcome)
{
    if (outcome.status == CommandStatus::AnsweredLate)
        logReply(ctx, outcome);
    ctx.Log(outcome.Confirmed() ? configtext::kSetOk : configtext::kSetFailed);
    if (outcome.status == CommandStatus::LineLost)
        ctx.Log(configtext::kLineGone);
}

bool JobContext::LineLost() const
{
    return !result.commands.empty() && result.commands.back().status == CommandStatus::LineLost;
}

bool ReadDeviceParameters(JobContext& ctx)
{
    std::string line;
    ctx.Engine().FormatCommand(kIdShow, line);
    ctx.Log(line);

    const CommandOutcome* report = nullptr;
    for (int attempt = 0; attempt < kReadAttempts && !ctx.Stopping(); ++attempt) {
        const CommandOutcome& outcome = ctx.Send(kIdShow);
        if (outcome.Confirmed() && outcome.reply.size() > kReportMinBytes) {
            report = &outcome;
            break;
        }
        if (outcome.status == CommandStatus::LineLost)
            break;
    }
    if (report == nullptr) {
        ctx.SetValuesGiven(false);
        ctx.result.readback = ReadbackStatus::Failed;
        ctx.Log(configtext::kLoadFailed);
        if (ctx.LineLost())
            ctx.Log(configtext::kLineGone);
        return false;
    }
    const ReportReading reading = ReadReport(report->reply.data(), report->reply.size(), kFirstParamId, kLastParamId);
    ctx.Log(report->reply);
    if (reading.Whole()) {
        ctx.Log(configtext::kLoadOk);
    } else {
        // Not the controller's whole parameter set: said as it is, and what
        // it lacked keeps what the table and the pages held.
        ctx.Log(configtext::kLoadPartial);
        if (!reading.missing.empty())
            ctx.Log(configtext::kReportLacks + labelList(reading.missing) + "\r\n");
        if (!reading.unplaced.empty()) {
            std::string lines = configtext::kReportUnplaced + std::string("\r\n");
            for (const std::string& l : reading.unplaced)
                lines += l + "\r\n";
            ctx.Log(lines);
        }
    }
    ctx.result.readback = reading.Whole() ? ReadbackStatus::Whole : ReadbackStatus::Partial;
    ctx.result.report = reading;

    // Every value goes to the pages in one call into the interface thread,
    // which touches only the controls that show something else, so a value
    // the user sees does not flicker.
    bool shown = false;
    if (!ctx.Stopping()) {
        std::vector<PageValue> values;
        values.reserve(reading.held.size());
        for (int id : reading.held)
            values.push_back({id, tableValue(ctx, id)});
        shown = ctx.View().SetPageValues(values);
    }
    for (int id : reading.held)
        ctx.SetKnown(id, true);
    // A read-back cut short by a shutdown has not brought every page in line.
    ctx.SetValuesGiven(shown && !ctx.Stopping());
    return true;
}

void ConnectAndReadParameters(JobContext& ctx)
{
    for (int attempt = 0; attempt < kConnectAttempts && !ctx.Stopping(); ++attempt) {
        std::string line;
        ctx.Engine().FormatCommand(kIdAt, line);
        ctx.Log(line);
        const CommandOutcome& outcome = ctx.Send(kIdAt);
        logReply(ctx, outcome);
        if (outcome.status == CommandStatus::LineLost) {
            ctx.Log(configtext::kLineGone);
            return;
        }
        if (outcome.Confirmed()) {
            for (int run = 0; run < kReadbackRuns && !ctx.Stopping() && !ctx.LineLost(); ++run)
                if (ReadDeviceParameters(ctx))
                    break;
            return;
        }
    }
}

void WriteChangedParameters(JobContext& ctx)
{
    if (!ctx.ValuesGiven()) {
        ctx.result.refusal = configtext::kNoValuesLoaded;
        ctx.Log(configtext::kNoValuesLoaded);
        return;
    }
    // Every page value in one call into the interface thread: what the
    // pages showed when the save was pressed.
    const std::vector<int>& ids = paramIds();
    const PageReadings readings = ctx.View().GetPageValues(ids);
    if (readings.size() != ids.size())
        return; // the window is gone
    for (std::size_t i = 0; i < ids.size() && !ctx.Stopping(); ++i) {
        const int id = ids[i];
        // No control, or a control whose text its rule cannot read: the page
        // holds no value for the parameter, so there is nothing to write.
        if (!readings[i])
            continue;
        // A parameter the controller's report lacked (and no file gave)
        // holds no value anybody gave: whatever its page shows is not sent.
        if (!ctx.Known(id))
            continue;
        std::string shown = *readings[i];
        // One command line per value, whatever the page handed over; what
        // would be stored and sent is the first 99 bytes, and comparing that
        // keeps an overlong edit from going out again with every save.
        shown.resize(CutToValueLength(CutAtLineBreak(shown)).size());
        const std::string before = tableValue(ctx, id);
        if (shown == before)
            continue;
        // The command is built from the table, so the value goes in first;
        // it stays there only when the controller took it.
        ctx.Engine().Values().Set(id, shown);
        if (!sendLogged(ctx, id))
            ctx.Engine().Values().Set(id, before);
        if (ctx.LineLost())
            break; // nothing more can go out
    }
}

void ApplyLoadedParameters(JobContext& ctx)
{
    IConfigView& view = ctx.View();
    // Without a read-back before it, the table is the file's (and what it
    // held before): every value counts as given, as a file gives them.
    if (!ctx.ValuesGiven())
        for (int id = kFirstParamId; id <= kLastParamId; ++id)
            ctx.SetKnown(id, true);
    const std::vector<int>& ids = paramIds();
    const PageReadings readings = view.GetPageValues(ids);
    if (readings.size() != ids.size()) {
        // The window is gone: the table holds the file, no page shows it.
        ctx.SetValuesGiven(false);
        return;
    }
    std::vector<PageValue> changed;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const int id = ids[i];
        std::string value = tableValue(ctx, id);
        if (const std::size_t line = CutAtLineBreak(value).size(); line != value.size()) {
            value.resize(line); // one command line per value
            ctx.Engine().Values().Set(id, value);
        }
        // Where no page shows a value for the id (no control, or one its
        // rule cannot read), the file changes it when it differs from what
        // the table held before the file: the controller's value or the
        // last file's.
        const std::size_t at = static_cast<std::size_t>(id - kFirstParamId);
        const std::string before = readings[i] ? *readings[i]
                                   : at < ctx.tableBeforeLoad.size() ? ctx.tableBeforeLoad[at]
                                                                     : std::string();
        if (before != value) {
            ctx.SetKnown(id, true); // the file gave it
            changed.push_back({id, std::move(value)});
        }
    }
    // The pages show the file's values before they go out, in one call into
    // the interface thread; then the commands, one by one in id order.
    bool pagesShow = changed.empty();
    if (!pagesShow && !ctx.Stopping())
        pagesShow = view.SetPageValues(changed);
    for (const PageValue& v : changed) {
        if (ctx.Stopping())
            break;
        // What the controller did not confirm goes back to what the table
        // held before the file, while the page keeps showing the file's
        // value: the next save sends it again, and nothing looks written.
        if (!sendLogged(ctx, v.id)) {
            const std::size_t at = static_cast<std::size_t>(v.id - kFirstParamId);
            if (at < ctx.tableBeforeLoad.size())
                ctx.Engine().Values().Set(v.id, ctx.tableBeforeLoad[at]);
        }
        if (ctx.LineLost())
            break; // nothing more can go out
    }
    // The pages now show the file's values: a save sends what is edited since.
    ctx.SetValuesGiven(pagesShow && !ctx.Stopping());
}

void RunConfigJob(int code, JobContext& ctx)
{
    switch (code) {
    case kJobConnectAndRead:
        ConnectAndReadParameters(ctx);
        break;
    case kJobWrite:
        WriteChangedParameters(ctx);
        break;
    case kJobRead:
        ReadDeviceParameters(ctx);
        break;
    case kJobApplyLoaded:
        ApplyLoadedParameters(ctx);
        break;
    case kJobRecords: ReadHistoryRecords(ctx); break;
    case kJobClock:
        SetDeviceClock(ctx);
        break;
    case kJobCounter0: case kJobCounter0 + 1: case kJobCounter0 + 2: case kJobCounter0 + 3:
    case kJobSerial0: case kJobSerial0 + 1: case kJobSerial0 + 2: case kJobSerial0 + 3:
        ExchangeInitialValue(code, ctx);
        break;
    default:
        if (FindMaintenanceCommand(code) != nullptr)
            RunMaintenanceJob(code, ctx);
        break;
    }
}

} // namespace pell

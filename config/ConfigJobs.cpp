#include "config/ConfigJobs.h"

#include "config/ConfigTexts.h"
#include "config/JobControl.h"

namespace pell {

namespace {

constexpr int kConnectAttempts = 10;
constexpr int kReadAttempts = 3;
constexpr int kReadbackRuns = 3;
// A report shorter than this is no whole parameter set.
constexpr std::size_t kReportMinBytes = 1024;

std::string tableValue(int id)
{
    std::string value;
    GetParamValue(id, value);
    return value;
}

// Logs the command line of the id, sends it and logs the outcome.
void sendLogged(JobContext& ctx, int id)
{
    std::string line;
    ctx.Engine().FormatCommand(id, line);
    ctx.Log(line);
    std::string text;
    const int result = ctx.Send(id, text);
    ctx.Log(result == 1 ? configtext::kSetOk : configtext::kSetFailed);
}

} // namespace

int JobContext::Send(int id, std::string& text) const
{
    if (Stopping()) {
        text.clear();
        return 0;
    }
    return engine_.SendCommand(id, text);
}

bool ReadDeviceParameters(JobContext& ctx)
{
    std::string line;
    ctx.Engine().FormatCommand(kIdShow, line);
    ctx.Log(line);

    bool loaded = false;
    std::string reply;
    for (int attempt = 0; attempt < kReadAttempts && !ctx.Stopping(); ++attempt) {
        std::string text;
        const int result = ctx.Send(kIdShow, text);
        reply = ctx.Engine().GetReplyText();
        if (result == 1 && reply.size() > kReportMinBytes) {
            loaded = true;
            break;
        }
    }
    if (!loaded) {
        ctx.Log(configtext::kLoadFailed);
        return false;
    }
    ctx.Log(reply);
    ctx.Log(configtext::kLoadOk);

    // Only controls that show something else are touched, so a value the
    // user sees does not flicker and the interface thread is asked little.
    IConfigView& view = ctx.View();
    for (int id = kFirstParamId; id <= kLastParamId && !ctx.Stopping(); ++id) {
        const std::string value = tableValue(id);
        std::string shown;
        if (!view.GetPageValue(id, shown) || shown != value)
            view.SetPageValue(id, value);
    }
    return true;
}

void ConnectAndReadParameters(JobContext& ctx)
{
    for (int attempt = 0; attempt < kConnectAttempts && !ctx.Stopping(); ++attempt) {
        std::string line;
        ctx.Engine().FormatCommand(kIdAt, line);
        ctx.Log(line);
        std::string text;
        const int result = ctx.Send(kIdAt, text);
        ctx.Log(ctx.Engine().GetReplyText());
        if (result == 1) {
            for (int run = 0; run < kReadbackRuns && !ctx.Stopping(); ++run)
                if (ReadDeviceParameters(ctx))
                    break;
            return;
        }
    }
}

void WriteChangedParameters(JobContext& ctx)
{
    IConfigView& view = ctx.View();
    for (int id = kFirstParamId; id <= kLastParamId && !ctx.Stopping(); ++id) {
        std::string shown;
        // No control, or a control whose text its rule cannot read: the page
        // holds no value for the parameter, so there is nothing to write.
        if (!view.GetPageValue(id, shown))
            continue;
        // What would be stored and sent is the first 99 bytes; comparing that
        // keeps an overlong edit from going out again with every save.
        if (shown.size() > static_cast<std::size_t>(kParamValueMax))
            shown.resize(static_cast<std::size_t>(kParamValueMax));
        if (shown == tableValue(id))
            continue;
        SetParamValue(id, shown);
        sendLogged(ctx, id);
    }
}

void ApplyLoadedParameters(JobContext& ctx)
{
    IConfigView& view = ctx.View();
    for (int id = kFirstParamId; id <= kLastParamId && !ctx.Stopping(); ++id) {
        std::string shown;
        if (!view.GetPageValue(id, shown))
            shown.clear(); // a parameter without a control has the empty page value
        const std::string value = tableValue(id);
        if (shown == value)
            continue;
        view.SetPageValue(id, value);
        sendLogged(ctx, id);
    }
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
    default:
        // The maintenance, clock, initial-value and record jobs are not
        // part of this tool yet.
        break;
    }
}

} // namespace pell

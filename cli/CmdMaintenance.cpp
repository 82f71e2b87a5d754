// halden version, signal, restart, factory, clear-cache and clear-meter:
// the configuration page's buttons, each one job and one command.
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "config/ConfigTexts.h"

#include <string_view>

namespace pell::cli {

namespace {

// The controller's answer without the OK or error reply at its end and
// without the command line a controller may echo in front of it.
std::string answerBody(const CommandOutcome& c)
{
    std::string body = c.reply;
    for (bool cut = true; cut;) {
        cut = false;
        for (const char* tail : {"\r\nOK\r\n", "\r\nERROR\r\n"}) {
            const std::string_view t(tail);
            if (body.size() >= t.size() && body.compare(body.size() - t.size(), t.size(), t) == 0) {
                body.resize(body.size() - t.size());
                cut = true;
            }
        }
    }
    const std::string echo(TrimLineBreaks(c.line));
    const std::size_t start = body.find_first_not_of("\r\n");
    if (start != std::string::npos && !echo.empty() && body.compare(start, echo.size(), echo) == 0)
        body.erase(0, start + echo.size());
    return std::string(TrimLineBreaks(body));
}

} // namespace

// A button of the configuration page: its job, the controller's answer
// and the box the job shows; the exit status from the job's result.
int RunMaintenance(Session& s, int code, bool clearButton)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    std::ostream& err = s.Err();
    if (int status = s.StartConfig())
        return status;
    ConfigLink& link = s.Link();
    CliConfigView& view = link.view;
    view.SetYes(o.yes);
    const std::size_t boxesBefore = view.Messages().size();
    const int runsBefore = link.controller.Worker().JobsRun();
    if (clearButton)
        link.controller.OnClearButton(code);
    else
        link.controller.OnJobButton(code);
    if (link.controller.JobState() == kJobIdle && link.controller.Worker().JobsRun() == runsBefore)
        return s.Fail(kExitRefused, "the job was not started");
    if (int status = s.AwaitJob(runsBefore))
        return status;
    const JobResult result = link.controller.Worker().LastResult();
    if (result.commands.empty())
        return s.Fail(kExitRefused, "nothing was sent");
    // The job's own command comes first; a read-back may follow it.
    const CommandOutcome& command = result.commands.front();
    const std::string body = command.status == CommandStatus::Confirmed ||
                                     command.status == CommandStatus::Refused
                                 ? answerBody(command)
                                 : std::string();
    if (!body.empty())
        out << GbkToUtf8(body) << "\n";
    out.flush();
    s.PrintBoxes(boxesBefore);
    if (code == kJobRestart && command.Confirmed())
        err << GbkToUtf8(TrimLineBreaks(configtext::kRestartNote)) << "\n";
    if (!command.Confirmed())
        return s.FailFor(command);
    if (code == kJobFactory) {
        if (const CommandOutcome* lost = LineLost(result))
            return s.FailFor(*lost);
        if (result.readback == ReadbackStatus::Partial)
            return s.Fail(kExitRefused, "factory settings restored, but the parameter report read back "
                                        "was not whole");
        if (result.readback != ReadbackStatus::Whole)
            return s.Fail(kExitSilent, "factory settings restored, but the parameters could not be read back");
    }
    return kExitOk;
}

} // namespace pell::cli

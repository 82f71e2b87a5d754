// How a halden session tells the terminal what its jobs did: the messages,
// the JSON failure, the exit statuses, and the texts of parameters and
// commands they use.
#include "cli/CliSession.h"

#include "cli/CliText.h"
#include "config/ConfigTexts.h"
#include "protocol/CommandTable.h"

namespace pell::cli {

const CommandOutcome* LineLost(const JobResult& result)
{
    for (const CommandOutcome& c : result.commands)
        if (c.status == CommandStatus::LineLost)
            return &c;
    return nullptr;
}

std::string CommandText(const CommandOutcome& c)
{
    return GbkToUtf8(TrimLineBreaks(c.line));
}

std::string ParameterLabel(int id)
{
    const char* label = ParamLabel(id);
    return label ? label : "";
}

std::string Labels(const std::vector<int>& ids)
{
    std::string text;
    for (int id : ids)
        text += (text.empty() ? "" : ", ") + GbkToUtf8(ParameterLabel(id));
    return text;
}

std::string TableValue(const ParamTable& values, int id)
{
    std::string value;
    values.Get(id, value);
    return value;
}

int Session::Fail(int status, const std::string& message)
{
    err_ << "halden: " << message << "\n";
    if (o_.json)
        out_ << "{\"ok\":false,\"status\":" << status << ",\"error\":" << JsonString(message) << "}\n";
    out_.flush();
    err_.flush();
    return status;
}

int Session::InterruptedExit()
{
    return Fail(kExitInterrupted, "interrupted; the port is closed and no file was written");
}

std::string Session::ReportShortfall() const
{
    if (!readBack_.report)
        return "no report";
    const ReportReading& r = *readBack_.report;
    std::string text;
    if (!r.missing.empty())
        text = std::to_string(r.missing.size()) + " parameter(s) missing (" + Labels(r.missing) + ")";
    if (!r.unplaced.empty())
        text += (text.empty() ? "" : "; ") + std::to_string(r.unplaced.size()) + " line(s) no label fits";
    return text;
}

void Session::warnPartial()
{
    std::lock_guard<std::mutex> lock(errMutex_);
    err_ << "halden: the controller's parameter report was not whole: " << ReportShortfall() << "\n";
    if (readBack_.report)
        for (const std::string& line : readBack_.report->unplaced)
            err_ << "  unplaced: " << GbkToUtf8(line) << "\n";
    err_.flush();
}

int Session::FailFor(const CommandOutcome& c)
{
    const std::string line = CommandText(c);
    switch (c.status) {
    case CommandStatus::Confirmed:
        return kExitOk;
    case CommandStatus::Refused:
        return Fail(kExitRefused, "the controller refused " + line);
    case CommandStatus::AnsweredLate:
        return Fail(kExitRefused, "the controller did not confirm " + line +
                                      " in time (its answer came after the time-out)");
    case CommandStatus::Unanswered:
        return Fail(kExitSilent, "the controller did not confirm " + line);
    case CommandStatus::LineLost:
        return Fail(kExitPort, "the port went away during " + line + "; check the cable and the adapter");
    case CommandStatus::NotSent:
    case CommandStatus::Cancelled:
        break;
    }
    return Fail(kExitRefused, line + " was not sent");
}

void Session::PrintCommands()
{
    link_->view.SetCommandSink([this](const CommandOutcome& c) {
        static constexpr const char* kWhy[] = {"", " (refused: ERROR)", " (no answer)",
                                               " (answered late, after the time-out)",
                                               " (the port went away)", " (not sent)", " (stopped)"};
        std::lock_guard<std::mutex> lock(errMutex_);
        out_ << CommandText(c) << "  "
             << GbkToUtf8(TrimLineBreaks(c.Confirmed() ? configtext::kSetOk : configtext::kSetFailed))
             << kWhy[static_cast<int>(c.status)] << "\n";
        out_.flush();
    });
}

int Session::CommandsOutcome(const std::vector<CommandOutcome>& sent)
{
    std::size_t confirmed = 0;
    const CommandOutcome* refused = nullptr;
    const CommandOutcome* unconfirmed = nullptr;
    for (const CommandOutcome& c : sent) {
        if (c.Confirmed())
            ++confirmed;
        else if (c.status == CommandStatus::Refused && !refused)
            refused = &c;
        else if (c.status != CommandStatus::Refused && !unconfirmed)
            unconfirmed = &c;
    }
    const std::string tally = " (" + std::to_string(sent.size() - confirmed) + " of " +
                              std::to_string(sent.size()) + " commands not confirmed)";
    for (const CommandOutcome& c : sent)
        if (c.status == CommandStatus::LineLost)
            return Fail(kExitPort, "the port went away during " + CommandText(c) + tally);
    if (refused)
        return Fail(kExitRefused, "the controller refused " + CommandText(*refused) + tally);
    if (unconfirmed)
        return Fail(kExitRefused, "the controller did not confirm " + CommandText(*unconfirmed) + " (" +
                                      CommandStatusName(unconfirmed->status) + ")" + tally);
    return kExitOk;
}

void Session::PrintBoxes(std::size_t before)
{
    const std::vector<std::string> boxes = link_->view.Messages();
    for (std::size_t i = before; i < boxes.size(); ++i)
        err_ << GbkToUtf8(TrimLineBreaks(boxes[i])) << "\n";
    err_.flush();
}

} // namespace pell::cli

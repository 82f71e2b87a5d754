// halden get and set: one parameter, named by its id or its label, read
// back from the controller or sent to it as the window's "保存参数" does.
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "config/ConfigJobs.h"
#include "pages/ParamDescriptor.h"
#include "protocol/CommandTable.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace pell::cli {

namespace {

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string looseLabel(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == ':'))
        text.pop_back();
    const std::size_t start = text.find_first_not_of(' ');
    return lower(start == std::string::npos ? std::string() : text.substr(start));
}

std::optional<int> resolveParameter(const std::string& target, bool configurableOnly, std::string& why)
{
    const bool digits = !target.empty() && target.size() < 5 &&
                        std::all_of(target.begin(), target.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        const int id = std::stoi(target);
        const bool configurable = FindParamDescriptor(id) != nullptr;
        if (configurable || (!configurableOnly && HasParamRow(id) && id != kEndRowId))
            return id;
        why = "no parameter has the id " + target +
              (configurableOnly ? " (configurable ids: 0 to 144)" : " (ids: 0 to 144, 152 to 161)");
        return std::nullopt;
    }
    std::vector<int> loose;
    for (int row = 0; row < ParamRowCount(); ++row) {
        const int id = ParamRowId(row);
        if (id == kEndRowId)
            continue;
        if (configurableOnly && FindParamDescriptor(id) == nullptr)
            continue;
        if (target == ParamRowLabel(row))
            return id;
        if (looseLabel(target) == looseLabel(ParamRowLabel(row)))
            loose.push_back(id);
    }
    if (loose.size() == 1)
        return loose.front();
    why = loose.empty() ? "no parameter is labelled \"" + target + "\""
                        : "\"" + target + "\" names more than one parameter; give its id";
    return std::nullopt;
}

} // namespace

int RunGet(Session& s)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    std::string why;
    const std::optional<int> id = resolveParameter(o.target, false, why);
    if (!id)
        return s.Fail(kExitUsage, why);
    if (int status = s.StartConfig())
        return status;
    if (!s.Known(*id))
        return s.Fail(kExitRefused, "the controller's parameter report lacked " + ParameterLabel(*id) +
                                        "; its value is not known");
    const std::string value = GbkToUtf8(TableValue(s.Link().engine.Values(), *id));
    if (o.json)
        out << "{\"ok\":true,\"id\":" << *id << ",\"label\":" << JsonString(GbkToUtf8(ParameterLabel(*id)))
            << ",\"value\":" << JsonString(value) << "}\n";
    else
        out << value << "\n";
    out.flush();
    return kExitOk;
}

int RunSet(Session& s)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    std::string why;
    const std::optional<int> id = resolveParameter(o.target, true, why);
    if (!id)
        return s.Fail(kExitUsage, why);
    std::string value;
    if (!Utf8ToGbk(o.value, value))
        return s.Fail(kExitUsage, "the value is no UTF-8 text that code page 936 can carry");
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return s.Fail(kExitUsage, "the value must be one line");
    if (value.size() > static_cast<std::size_t>(kParamValueMax))
        return s.Fail(kExitUsage, "the value has " + std::to_string(value.size()) +
                                      " bytes in code page 936; the controller keeps at most 99");
    if (int status = s.StartConfig())
        return status;
    if (s.Known(*id) && TableValue(s.Link().engine.Values(), *id) == value) {
        out << ParameterLabel(*id) << " is already " << o.value << "; nothing sent\n";
        return kExitOk;
    }
    s.PrintCommands();
    // The window's "保存参数" after one edit: job 2 sends what the page
    // shows differently from the table.
    ConfigController& controller = s.Link().controller;
    const int runsBefore = controller.Worker().JobsRun();
    s.Link().view.Edit(*id, value);
    // The value is the user's own, whatever the report held.
    controller.Worker().Known().Set(*id, true);
    controller.OnJobButton(kJobWrite);
    if (int status = s.AwaitJob(runsBefore))
        return status;
    const std::vector<CommandOutcome> sent = controller.Worker().LastResult().commands;
    if (sent.empty())
        return s.Fail(kExitRefused, "nothing was sent");
    return s.CommandsOutcome(sent);
}

} // namespace pell::cli

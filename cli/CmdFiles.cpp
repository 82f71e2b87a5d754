// halden read, write and diff: the controller's parameters and a
// configuration file, saved, loaded into the controller or compared, with
// the window's own file format and jobs.
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "cli/ConfigFileIo.h"
#include "common/FileIo.h"
#include "config/ConfigFile.h"
#include "config/ConfigJobs.h"
#include "protocol/CommandTable.h"

namespace pell::cli {

namespace {

// The file first, so a file that cannot be used costs no wait for the
// controller; then configuration mode.
int loadFileAndStart(Session& s, std::string& bytes, FileValues& values)
{
    std::string why;
    if (!ReadConfigFileValues(s.Options().file, bytes, values, why))
        return s.Fail(kExitFile, "cannot use the configuration file: " + why);
    return s.StartConfig();
}

struct Difference {
    int id;
    std::string controller, file;
};

// Configurable parameters the file names with another value than the
// controller's (the engine's table after a read-back).
std::vector<Difference> differences(const ParamTable& table, const FileValues& values)
{
    std::vector<Difference> out;
    for (const auto& [id, value] : values) {
        if (id < kFirstParamId || id > kLastParamId)
            continue;
        std::string controller = TableValue(table, id);
        if (controller != value)
            out.push_back({id, std::move(controller), value});
    }
    return out;
}

} // namespace

int RunRead(Session& s)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    std::ostream& err = s.Err();
    if (int status = s.StartConfig())
        return status;
    const bool partial = s.ReadBack().readback == ReadbackStatus::Partial;
    if (partial && !o.partial)
        return s.Fail(kExitRefused, "the controller's parameter report was not whole (" + s.ReportShortfall() +
                                        "); no file was written (--partial writes what it held)");
    // The same text the window saves after this read-back; after a
    // report that lacked parameters, without their lines.
    const ParamTable& table = s.Link().engine.Values();
    const std::string text = FormatConfigText(table, [&s](int id) { return s.Known(id); });
    std::string why;
    if (!WriteFileAtomically(o.output, text, &why))
        return s.Fail(kExitFile, "cannot save the configuration: " + why);
    if (o.json) {
        out << "{\"ok\":true,\"file\":" << JsonString(o.output) << ",\"bytes\":" << text.size();
        if (partial) {
            out << ",\"partial\":true,\"missing\":[";
            const std::vector<int>& missing = s.ReadBack().report->missing;
            for (std::size_t i = 0; i < missing.size(); ++i)
                out << (i ? "," : "") << "{\"id\":" << missing[i]
                    << ",\"label\":" << JsonString(GbkToUtf8(ParameterLabel(missing[i]))) << "}";
            out << "]";
        }
        out << ",\"parameters\":[";
        bool first = true;
        for (int row = 0; row < ParamRowCount(); ++row) {
            const int id = ParamRowId(row);
            if (id == kEndRowId || !s.Known(id))
                continue;
            out << (first ? "" : ",") << "{\"id\":" << id << ",\"label\":"
                << JsonString(GbkToUtf8(ParamRowLabel(row)))
                << ",\"value\":" << JsonString(GbkToUtf8(TableValue(table, id))) << "}";
            first = false;
        }
        out << "]}\n";
    } else {
        out << "saved the controller's parameters to " << o.output << " (" << text.size()
            << " bytes)\n";
        if (partial)
            err << "the file holds only what the report held: " << s.ReportShortfall() << "\n";
    }
    out.flush();
    return kExitOk;
}

int RunDiff(Session& s)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    std::ostream& err = s.Err();
    std::string bytes;
    FileValues values;
    if (int status = loadFileAndStart(s, bytes, values))
        return status;
    std::vector<int> unknown;
    for (const auto& [id, value] : values)
        if (id >= kFirstParamId && id <= kLastParamId && !s.Known(id))
            unknown.push_back(id);
    if (!unknown.empty())
        return s.Fail(kExitRefused, "the controller's parameter report lacked " + Labels(unknown) +
                                        ", which the file names; they cannot be compared");
    const std::vector<Difference> found = differences(s.Link().engine.Values(), values);
    if (o.json) {
        out << "{\"ok\":true,\"equal\":" << (found.empty() ? "true" : "false") << ",\"differences\":[";
        for (std::size_t i = 0; i < found.size(); ++i)
            out << (i ? "," : "") << "{\"id\":" << found[i].id
                << ",\"label\":" << JsonString(GbkToUtf8(ParameterLabel(found[i].id)))
                << ",\"controller\":" << JsonString(GbkToUtf8(found[i].controller))
                << ",\"file\":" << JsonString(GbkToUtf8(found[i].file)) << "}";
        out << "]}\n";
    } else {
        for (const Difference& d : found)
            out << GbkToUtf8(ParameterLabel(d.id)) << "  controller \"" << GbkToUtf8(d.controller)
                << "\"  file \"" << GbkToUtf8(d.file) << "\"\n";
        err << (found.empty() ? std::string("the controller equals ") + o.file
                              : std::to_string(found.size()) + " parameter(s) differ from " + o.file)
            << "\n";
    }
    out.flush();
    return found.empty() ? kExitOk : kExitDiffer;
}

int RunWrite(Session& s)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    std::ostream& err = s.Err();
    std::string bytes;
    FileValues values;
    if (int status = loadFileAndStart(s, bytes, values))
        return status;
    const std::vector<Difference> found = differences(s.Link().engine.Values(), values);
    if (o.dryRun) {
        for (const Difference& d : found) {
            // The line the write would build: the command and the file's value.
            CommandEngine& engine = s.Link().engine;
            engine.Values().Set(d.id, d.file);
            std::string line;
            engine.FormatCommand(d.id, line);
            engine.Values().Set(d.id, d.controller);
            out << GbkToUtf8(TrimLineBreaks(line)) << "\n";
        }
        err << found.size() << " command(s) would be sent; nothing was sent\n";
        out.flush();
        return kExitOk;
    }
    s.PrintCommands();
    ConfigController& controller = s.Link().controller;
    const int runsBefore = controller.Worker().JobsRun();
    // The window's "从配置文件配置": the file into the table, then job 18
    // sends what differs from what the page shows (the read-back).
    const bool queued = controller.OnConfigureFromFile(
        [&](ParamTable& table) { return ParseConfigText(table, bytes.data(), bytes.size()); });
    if (!queued)
        return s.Fail(kExitFile, "the configuration file was not applied");
    if (int status = s.AwaitJob(runsBefore))
        return status;
    const std::vector<CommandOutcome> sent = controller.Worker().LastResult().commands;
    err << sent.size() << " command(s) sent" << (sent.empty() ? ": the controller equals the file" : "")
        << "\n";
    return s.CommandsOutcome(sent);
}

} // namespace pell::cli

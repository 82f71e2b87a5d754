// RunCli: the command line parsed, then its command on a session of its own.
#include "cli/CliRunner.h"

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "config/DeviceJobs.h"

#include <ostream>

namespace pell::cli {

namespace {

struct Command {
    Verb verb;
    int (*run)(Session& s);
};

const Command kCommands[] = {
    {Verb::Read, RunRead},
    {Verb::Write, RunWrite},
    {Verb::Diff, RunDiff},
    {Verb::Get, RunGet},
    {Verb::Set, RunSet},
    {Verb::Flash, RunFlash},
    {Verb::Clock, RunClock},
    {Verb::Counter, RunInitialValue},
    {Verb::Meter, RunInitialValue},
    {Verb::Records, RunRecords},
};

} // namespace

int RunCli(const std::vector<std::string>& args, CliEnv& env)
{
    const ParsedArgs parsed = ParseArgs(args);
    if (!parsed.ok) {
        *env.err << "halden: " << parsed.error << "\n";
        env.err->flush();
        return kExitUsage;
    }
    if (parsed.options.help) {
        *env.out << HelpText(parsed.options.verb);
        env.out->flush();
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (command.verb == parsed.options.verb) {
            Session session(parsed.options, env);
            return command.run(session);
        }
    }
    // The configuration page's maintenance buttons, by their verb.
    if (const MaintenanceCommand* m = FindMaintenanceVerb(VerbName(parsed.options.verb))) {
        Session session(parsed.options, env);
        return RunMaintenance(session, m->code, m->clearButton);
    }
    return kExitUsage;
}

} // namespace pell::cli

// RunCli: the command line parsed, then its command on a session of its own.
#include "cli/CliRunner.h"

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "config/JobControl.h"

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
    {Verb::Version, [](Session& s) { return RunMaintenance(s, kJobVersion, false); }},
    {Verb::Signal, [](Session& s) { return RunMaintenance(s, kJobSignal, false); }},
    {Verb::Restart, [](Session& s) { return RunMaintenance(s, kJobRestart, false); }},
    {Verb::Factory, [](Session& s) { return RunMaintenance(s, kJobFactory, false); }},
    {Verb::ClearCache, [](Session& s) { return RunMaintenance(s, kJobClearCache, true); }},
    {Verb::ClearMeter, [](Session& s) { return RunMaintenance(s, kJobClearMeter, true); }},
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
    return kExitUsage;
}

} // namespace pell::cli

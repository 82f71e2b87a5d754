// halden's command line and its terminal texts: what is accepted, what is
// refused with which message, the help pages and the JSON strings.
#include "cli/CliArgs.h"
#include "cli/CliRunner.h"
#include "cli/CliText.h"
#include "cli/CliVerbs.h"
#include "config/DeviceJobs.h"
#include "pages/ParamDescriptor.h"
#include "protocol/CommandTable.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace pell::cli;

namespace {

struct ArgsCase {
    std::vector<std::string> args;
    bool ok;
    std::string errorHas; // when refused
    Verb verb = Verb::None;
};

TEST(CliArgs, AcceptsAndRefuses)
{
    const ArgsCase cases[] = {
        {{"read", "-o", "a.cfg"}, true, "", Verb::Read},
        {{"--port", "ttyUSB0", "read", "--output=a.cfg", "--json"}, true, "", Verb::Read},
        {{"read"}, false, "read wants -o FILE"},
        {{"write", "a.cfg", "--dry-run"}, true, "", Verb::Write},
        {{"diff", "a.cfg", "--json", "--baud", "9600"}, true, "", Verb::Diff},
        {{"get", "Heart time:"}, true, "", Verb::Get},
        {{"set", "23", "-5"}, true, "", Verb::Set}, // a value may start with '-'
        {{"set", "23"}, false, "usage: halden set"},
        {{"flash", "fw.bin", "--boot", "--wait", "0"}, true, "", Verb::Flash},
        {{"flash", "fw.bin", "--dry-run"}, false, "takes no --dry-run"},
        {{"write", "a.cfg", "--json"}, false, "has no --json"},
        {{"get", "1", "-o", "x"}, false, "takes no -o"},
        {{"read", "-o", "a", "--baud", "fast"}, false, "--baud wants"},
        {{"read", "-o", "a", "--wait", "-1"}, false, "--wait wants"},
        {{"read", "-o", "a", "--frob"}, false, "unknown option --frob"},
        {{"read", "-o", "a", "--port"}, false, "--port wants"},
        {{"frobnicate"}, false, "unknown command 'frobnicate'"},
        {{}, false, "no command given"},
        {{"--json=yes", "get", "1"}, false, "--json takes no value"},
        {{"--help"}, true, "", Verb::None},
        {{"factory"}, false, "'factory' changes the controller; add --yes"},
        {{"clear-meter", "--yes"}, true, "", Verb::ClearMeter},
        {{"version", "--yes"}, false, "'version' takes no --yes"},
        {{"counter", "2", "-5"}, true, "", Verb::Counter},
        {{"meter", "0"}, false, "meter wants N from 1 to 4"},
        {{"meter", "1", "2", "3"}, false, "usage: halden meter"},
        {{"clock", "--system", "--set", "2026/01/04 00:00:00"}, false, "not both"},
        {{"get", "1", "--system"}, false, "takes no --system"},
        {{"records", "--from", "2026-1-4", "--to", "2026/01/05", "-o", "r.csv"}, true, "", Verb::Records},
        {{"records", "--from", "2026-1-4", "-o", "r.csv"}, false, "usage: halden records"},
        {{"records", "--from", "4.1.2026", "--to", "2026-1-5", "-o", "r.csv"}, false, "--from wants a date"},
        {{"get", "1", "--to", "2026-1-5"}, false, "takes no --from or --to"},
        {{"flash", "--help"}, true, "", Verb::Flash},
    };
    for (const ArgsCase& c : cases) {
        const ParsedArgs r = ParseArgs(c.args);
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        EXPECT_EQ(r.ok, c.ok) << line << "-> " << r.error;
        if (c.ok) {
            EXPECT_EQ(r.options.verb, c.verb) << line;
        } else {
            EXPECT_NE(r.error.find(c.errorHas), std::string::npos) << line << "-> " << r.error;
        }
    }
    const ParsedArgs set = ParseArgs({"set", "Heart time:", "30", "--port=/dev/ttyS1", "--baud=9600"});
    ASSERT_TRUE(set.ok);
    EXPECT_EQ(set.options.target, "Heart time:");
    EXPECT_EQ(set.options.value, "30");
    EXPECT_EQ(set.options.port, "/dev/ttyS1");
    EXPECT_EQ(set.options.baud, 9600u);
}

TEST(CliArgs, HelpPagesAndUsageStatus)
{
    for (Verb verb : {Verb::Read, Verb::Write, Verb::Diff, Verb::Get, Verb::Set, Verb::Flash, Verb::Records,
                      Verb::Version, Verb::Signal, Verb::Restart, Verb::Factory, Verb::ClearCache,
                      Verb::ClearMeter, Verb::Clock, Verb::Counter, Verb::Meter}) {
        const std::string page = HelpText(verb);
        EXPECT_EQ(page.rfind(std::string("usage: halden ") + VerbName(verb), 0), 0u) << page;
        EXPECT_NE(page.find("Exit status"), std::string::npos);
        EXPECT_NE(HelpText(Verb::None).find(std::string("  halden ") + VerbName(verb)), std::string::npos);
    }
    std::ostringstream out, err;
    CliEnv env;
    env.out = &out;
    env.err = &err;
    EXPECT_EQ(RunCli({"diff", "--help"}, env), kExitOk);
    EXPECT_EQ(out.str(), HelpText(Verb::Diff));
    EXPECT_EQ(RunCli({"diff"}, env), kExitUsage);
    EXPECT_NE(err.str().find("halden: usage: halden diff FILE"), std::string::npos) << err.str();
}

// get and set list what they take from the parameter descriptors: every
// configurable parameter once, a word list with its codes, a stated limit.
TEST(CliArgs, GetAndSetHelpListEveryParameter)
{
    for (Verb verb : {Verb::Get, Verb::Set}) {
        const std::string page = HelpText(verb);
        for (const pell::ParamDescriptor& d : pell::ParamDescriptors()) {
            const std::string line = (d.id < 10 ? "    " : d.id < 100 ? "   " : "  ") + std::to_string(d.id) + "  " +
                                     GbkToUtf8(d.ReportLabel());
            EXPECT_NE(page.find("\n" + line), std::string::npos) << line;
        }
        EXPECT_NE(page.find("Debug Level:  1=简单日志输出, 2=详细日志输出, other=无日志输出\n"), std::string::npos);
        EXPECT_NE(page.find("Modem's ID number:  (固定10位)\n"), std::string::npos);
        EXPECT_NE(page.find("Audio volume level:  (0-16)\n"), std::string::npos);
    }
    EXPECT_EQ(HelpText(Verb::Diff).find("Parameters ("), std::string::npos);
}

// Every maintenance command is a verb of halden, with a command to send;
// the verbs name no other row.
TEST(CliArgs, EveryMaintenanceCommandIsAVerb)
{
    for (const pell::MaintenanceCommand& m : pell::MaintenanceCommands()) {
        const VerbInfo* verb = FindVerb(m.verb);
        ASSERT_NE(verb, nullptr) << m.verb;
        EXPECT_EQ(pell::FindMaintenanceVerb(VerbName(verb->verb)), &m) << m.verb;
        EXPECT_NE(pell::FindAtRow(m.commandId), nullptr) << m.verb;
    }
    for (const char* other : {"read", "clock", "counter", ""})
        EXPECT_EQ(pell::FindMaintenanceVerb(other), nullptr) << other;
}

TEST(CliText, JsonStrings)
{
    EXPECT_EQ(JsonString("a\"b\\c\r\n\t\x01é"), "\"a\\\"b\\\\c\\r\\n\\t\\u0001é\"");
    EXPECT_EQ(TrimLineBreaks("\r\nAT+SHOW\r\n\r\n"), "AT+SHOW");
}

} // namespace

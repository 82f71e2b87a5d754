#include "cli/CliArgs.h"

#include <cstdlib>
#include <string_view>

namespace pell::cli {

namespace {

// Options a subcommand takes besides the common ones.
enum Extra : unsigned { kNoExtra = 0, kOutput = 1, kDryRun = 2, kBoot = 4, kYes = 8, kClock = 16, kOptionalValue = 32, kDates = 64, kPartial = 128 };

struct VerbInfo {
    Verb verb;
    const char* name;
    int operands;       // how many positional operands it needs (one more with kOptionalValue)
    unsigned extras;
    bool json;          // whether --json applies
    const char* usage;
    const char* page;
};

const VerbInfo kVerbs[] = {
    {Verb::Read, "read", 0, kOutput | kPartial, true, "halden read -o FILE [--partial] [common options]",
     "Enters configuration mode, reads the controller's parameters back (AT+SHOW)\n"
     "and saves them as a configuration file: 155 lines \"label  value\" in\n"
     "code page 936 with CR LF, the same bytes the window's \"保存配置到文件\"\n"
     "writes after the same read-back. The file is written whole or not at all.\n"
     "With --json the parameters are also printed as JSON on stdout.\n"
     "A report that lacks parameters (a lost line, a damaged label) writes no\n"
     "file and exits 5, naming what it lacked; --partial then writes the\n"
     "parameters the report held, without the lines of those it lacked.\n"},
    {Verb::Write, "write", 1, kDryRun, false, "halden write FILE [--dry-run] [common options]",
     "Reads the controller's parameters back, loads FILE and sends, one command\n"
     "per parameter in id order, only the parameters whose file value differs\n"
     "from the controller's (as \"从配置文件配置\" does), printing each command and\n"
     "its outcome. --dry-run prints the commands that would be sent and sends\n"
     "nothing. Exit status 5 when the controller refused or did not confirm one.\n"},
    {Verb::Diff, "diff", 1, kNoExtra, true, "halden diff FILE [common options]",
     "Reads the controller's parameters back and prints, for every configurable\n"
     "parameter (ids 0 to 144) that FILE names with another value: the label,\n"
     "the controller's value and the file's value. Exit status 0 when they are\n"
     "equal, 1 when they differ.\n"},
    {Verb::Get, "get", 1, kNoExtra, true, "halden get LABEL|ID [common options]",
     "Reads the controller's parameters back and prints the value of one\n"
     "parameter, named by its id (0 to 144, or 152 to 161) or its label\n"
     "(\"Heart time:\"; case, blanks at the ends and the final colon may differ).\n"},
    {Verb::Set, "set", 2, kNoExtra, false, "halden set LABEL|ID VALUE [common options]",
     "Reads the controller's parameters back and, when VALUE differs from the\n"
     "controller's value, sends the parameter's command (as \"保存参数\" does for\n"
     "one edited value). VALUE is at most 99 bytes in code page 936, one line.\n"},
    {Verb::Flash, "flash", 1, kBoot, true, "halden flash IMAGE [--boot] [common options]",
     "Downloads the firmware IMAGE (1 to 1,048,575 bytes) into the controller's\n"
     "boot loader, as the download page does: handshake 'P' every 500 ms (with\n"
     "--boot, the boot-program handshake 'B' first), then blocks of 4096 bytes,\n"
     "each confirmed by the boot loader; a rejected or unanswered block starts\n"
     "the image again. A progress bar on stderr shows blocks, bytes/s and the\n"
     "time left. --wait limits how long the boot loader may stay silent.\n"},
    {Verb::Version, "version", 0, kNoExtra, false, "halden version [common options]",
     "Asks the controller for its firmware version (AT+VER, \"设备版本\") and prints\n"
     "its answer.\n"},
    {Verb::Signal, "signal", 0, kNoExtra, false, "halden signal [common options]",
     "Asks the controller for its radio signal (AT+CSQ, \"设备信号\") and prints its\n"
     "answer.\n"},
    {Verb::Restart, "restart", 0, kYes, false, "halden restart --yes [common options]",
     "Restarts the controller (AT+RESET, \"重启设备\"). It leaves configuration\n"
     "mode; the next command asks for it again. Needs --yes.\n"},
    {Verb::Factory, "factory", 0, kYes, false, "halden factory --yes [common options]",
     "Restores the controller's factory settings (AT+FACTORY, \"出厂配置\") and reads\n"
     "its parameters back. Needs --yes.\n"},
    {Verb::ClearCache, "clear-cache", 0, kYes, false, "halden clear-cache --yes [common options]",
     "Clears the controller's data store (AT+INITDATAFLASH, \"清除缓存\"). Needs --yes.\n"},
    {Verb::ClearMeter, "clear-meter", 0, kYes, false, "halden clear-meter --yes [common options]",
     "Clears the controller's meter data (AT+INITSENSOR, \"清除仪表\"). Needs --yes.\n"},
    {Verb::Clock, "clock", 0, kClock, false,
     "halden clock [--system | --set \"YYYY/MM/DD hh:mm:ss\"] [common options]",
     "Sets the controller's clock (AT+EXCCLK=): from this PC's clock as the\n"
     "command goes out (--system, the default) or to the given local time; the\n"
     "weekday is computed.\n"},
    {Verb::Counter, "counter", 1, kOptionalValue, false, "halden counter N [VALUE] [common options]",
     "Reads (without VALUE) or sets the initial value of pulse counter N, 1 to 4\n"
     "(AT+CNTRVAL01 to AT+CNTRVAL04, \"?\" or \"=VALUE\"). A read prints the\n"
     "controller's answer.\n"},
    {Verb::Meter, "meter", 1, kOptionalValue, false, "halden meter N [VALUE] [common options]",
     "Reads (without VALUE) or sets the initial value of serial meter port N, 1 to\n"
     "4 (AT+COMVAL01 to AT+COMVAL04, \"?\" or \"=VALUE\"). A read prints the\n"
     "controller's answer.\n"},
    {Verb::Records, "records", 0, kOutput | kDates, true,
     "halden records --from DATE --to DATE -o FILE.csv [common options]",
     "Queries the controller's card records of the days from --from to --to\n"
     "(DATE as YYYY-MM-DD or YYYY/M/D) batch by batch, as \"开始查询\" does, and\n"
     "saves them as the window's CSV file (code page 936) once the query has\n"
     "ended; nothing is written when it fails. --json also prints the records.\n"},
};

const char kCommon[] =
    "Common options:\n"
#ifdef _WIN32
    "  --port PORT    serial port: COM1 to COM1024\n"
    "                 (default: the first port the system lists)\n"
#else
    "  --port PORT    serial port: ttyUSB0, /dev/ttyS0 or a simulator link\n"
    "                 (default: the first port listed, simulators first)\n"
#endif
    "  --baud N       line speed, 8N1 (default 115200)\n"
    "  --json         machine-readable output on stdout (read, diff, get, flash)\n"
    "  --wait S       give up when the controller has not entered configuration\n"
    "                 mode (or the boot loader has not answered) after S seconds\n"
    "                 (default 60; 0 waits until Ctrl-C)\n"
    "  --verbose      the job log (commands and answers) on stderr\n"
    "  --help         this page\n";

const char kStatuses[] =
    "Exit status:\n"
    "  0  done (diff: the controller equals the file)\n"
    "  1  diff: the controller differs from the file\n"
    "  2  bad command line\n"
    "  3  the serial port is missing, busy or not permitted\n"
    "  4  the controller (or boot loader) did not answer\n"
    "  5  the controller refused a command, or did not confirm it\n"
    "  6  a file could not be read, parsed or written\n"
    "  130 interrupted (Ctrl-C); the port is closed, no file is half-written\n";

const VerbInfo* findVerb(std::string_view name)
{
    for (const VerbInfo& v : kVerbs)
        if (name == v.name)
            return &v;
    return nullptr;
}

const VerbInfo* infoOf(Verb verb)
{
    for (const VerbInfo& v : kVerbs)
        if (v.verb == verb)
            return &v;
    return nullptr;
}

bool parseNumber(const std::string& text, long min, long max, long& out)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    out = std::strtol(text.c_str(), nullptr, 10);
    return out >= min && out <= max;
}

// "2026-01-04", "2026/1/4" -> "2026/1/4" (the form the records page sends).
bool normaliseDate(const std::string& text, std::string& out)
{
    long parts[3] = {0, 0, 0};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = i < 2 ? text.find_first_of("-/", start) : text.size();
        if (end == std::string::npos)
            return false;
        if (!parseNumber(text.substr(start, end - start), i == 0 ? 2000 : 1, i == 0 ? 2099 : (i == 1 ? 12 : 31),
                         parts[i]))
            return false;
        start = end + 1;
    }
    out = std::to_string(parts[0]) + "/" + std::to_string(parts[1]) + "/" + std::to_string(parts[2]);
    return true;
}

} // namespace

const char* VerbName(Verb verb)
{
    const VerbInfo* v = infoOf(verb);
    return v ? v->name : "";
}

std::string HelpText(Verb verb)
{
    std::string text;
    if (const VerbInfo* v = infoOf(verb)) {
        text = std::string("usage: ") + v->usage + "\n\n" + v->page + "\n";
        text += "Every command opens the port, and (all but flash) asks the controller into\n"
                "configuration mode as the window's \"重新加载\" does: 'S' every 50 ms until it\n"
                "answers \"CONFIGURE PROGRAM\". Switch the controller off and on when asked.\n\n";
        text += kCommon;
        text += "\n";
        text += kStatuses;
        return text;
    }
    text = "usage: halden COMMAND [options]\n\n"
           "Configures and services the controller of a metered irrigation well over a\n"
           "serial port, with the jobs of the window (pelltool), from a terminal or a\n"
           "script. Terminal texts are UTF-8; files and the wire use code page 936.\n\n"
           "Commands:\n";
    for (const VerbInfo& v : kVerbs)
        text += std::string("  ") + v.usage + "\n";
    text += "\n'halden COMMAND --help' explains one command.\n\n";
    text += kCommon;
    text += "\n";
    text += kStatuses;
    return text;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args)
{
    ParsedArgs r;
    CliOptions& o = r.options;
    const VerbInfo* verb = nullptr;
    std::vector<std::string> operands;
    auto fail = [&](std::string why) {
        r.ok = false;
        r.error = std::move(why);
        return r;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string inlineValue;
        bool hasInline = false;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
                hasInline = true;
            }
        }
        auto value = [&](std::string& out) -> bool {
            if (hasInline) {
                out = inlineValue;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        auto flag = [&]() { return !hasInline; };

        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--port") {
            if (!value(o.port) || o.port.empty())
                return fail("--port wants a port name");
        } else if (arg == "--baud") {
            std::string text;
            long baud = 0;
            if (!value(text) || !parseNumber(text, 50, 4000000, baud))
                return fail("--baud wants a line speed from 50 to 4000000");
            o.baud = static_cast<unsigned>(baud);
        } else if (arg == "--wait") {
            std::string text;
            long seconds = 0;
            if (!value(text) || !parseNumber(text, 0, 86400, seconds))
                return fail("--wait wants seconds from 0 to 86400");
            o.waitSeconds = static_cast<int>(seconds);
        } else if (arg == "--json") {
            if (!flag())
                return fail("--json takes no value");
            o.json = true;
        } else if (arg == "--verbose" || arg == "-v") {
            if (!flag())
                return fail("--verbose takes no value");
            o.verbose = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(o.output) || o.output.empty())
                return fail("-o wants a file name");
        } else if (arg == "--partial") {
            if (!flag())
                return fail("--partial takes no value");
            o.partial = true;
        } else if (arg == "--dry-run") {
            if (!flag())
                return fail("--dry-run takes no value");
            o.dryRun = true;
        } else if (arg == "--yes") {
            if (!flag())
                return fail("--yes takes no value");
            o.yes = true;
        } else if (arg == "--system") {
            if (!flag())
                return fail("--system takes no value");
            o.clockSystem = true;
        } else if (arg == "--set") {
            if (!value(o.clockText) || o.clockText.empty())
                return fail("--set wants \"YYYY/MM/DD hh:mm:ss\"");
        } else if (arg == "--from" || arg == "--to") {
            std::string& date = arg == "--from" ? o.from : o.to;
            std::string text;
            if (!value(text) || !normaliseDate(text, date))
                return fail(arg + " wants a date YYYY-MM-DD");
        } else if (arg == "--boot") {
            if (!flag())
                return fail("--boot takes no value");
            o.boot = true;
        } else if (arg == "--") {
            for (++i; i < args.size(); ++i)
                operands.push_back(args[i]);
        } else if (arg.size() > 1 && arg[0] == '-' &&
                   !(verb && (verb->verb == Verb::Set || (verb->extras & kOptionalValue)) &&
                     operands.size() == 1)) {
            return fail("unknown option " + args[i]);
        } else if (verb == nullptr) {
            verb = findVerb(arg);
            if (verb == nullptr)
                return fail("unknown command '" + arg + "' (halden --help lists them)");
        } else {
            operands.push_back(arg);
        }
    }

    if (verb == nullptr) {
        if (o.help) {
            r.ok = true;
            return r;
        }
        return fail("no command given (halden --help lists them)");
    }
    o.verb = verb->verb;
    if (o.help) {
        r.ok = true;
        return r;
    }
    const std::string name = verb->name;
    if (!o.output.empty() && !(verb->extras & kOutput))
        return fail("'" + name + "' takes no -o");
    if (o.partial && !(verb->extras & kPartial))
        return fail("'" + name + "' takes no --partial");
    if (o.dryRun && !(verb->extras & kDryRun))
        return fail("'" + name + "' takes no --dry-run");
    if (o.boot && !(verb->extras & kBoot))
        return fail("'" + name + "' takes no --boot");
    if (o.json && !verb->json)
        return fail("'" + name + "' has no --json output");
    if ((!o.from.empty() || !o.to.empty()) && !(verb->extras & kDates))
        return fail("'" + name + "' takes no --from or --to");
    if ((verb->extras & kDates) && (o.from.empty() || o.to.empty() || o.output.empty()))
        return fail(std::string("usage: ") + verb->usage);
    if (o.yes && !(verb->extras & kYes))
        return fail("'" + name + "' takes no --yes");
    if ((o.clockSystem || !o.clockText.empty()) && !(verb->extras & kClock))
        return fail("'" + name + "' takes no --system or --set");
    if (o.clockSystem && !o.clockText.empty())
        return fail("clock takes --system or --set, not both");
    const int given = static_cast<int>(operands.size());
    const bool optional = verb->extras & kOptionalValue;
    if (given != verb->operands && !(optional && given == verb->operands + 1))
        return fail(std::string("usage: ") + verb->usage);
    if ((verb->extras & kYes) && !o.yes)
        return fail("'" + name + "' changes the controller; add --yes");
    switch (o.verb) {
    case Verb::Read:
        if (o.output.empty())
            return fail("read wants -o FILE");
        break;
    case Verb::Write:
    case Verb::Diff:
    case Verb::Flash:
        o.file = operands[0];
        break;
    case Verb::Get:
        o.target = operands[0];
        break;
    case Verb::Set:
        o.target = operands[0];
        o.value = operands[1];
        break;
    case Verb::Counter:
    case Verb::Meter: {
        long n = 0;
        if (!parseNumber(operands[0], 1, 4, n))
            return fail(name + " wants N from 1 to 4");
        o.index = static_cast<int>(n);
        o.hasValue = given == 2;
        if (o.hasValue)
            o.value = operands[1];
        break;
    }
    default:
        break;
    }
    r.ok = true;
    return r;
}

} // namespace pell::cli

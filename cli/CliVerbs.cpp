#include "cli/CliVerbs.h"

#include "cli/CliText.h"
#include "pages/ParamDescriptor.h"

#include <cstdio>

namespace pell::cli {

namespace {

const VerbInfo kVerbs[] = {
    {Verb::Read, "read", 0, kOutput | kPartial | kJson, "halden read -o FILE [--partial] [common options]",
     "Enters configuration mode, reads the controller's parameters back (AT+SHOW)\n"
     "and saves them as a configuration file: 155 lines \"label  value\" in\n"
     "code page 936 with CR LF, the same bytes the window's \"保存配置到文件\"\n"
     "writes after the same read-back. The file is written whole or not at all.\n"
     "With --json the parameters are also printed as JSON on stdout.\n"
     "A report that lacks parameters (a lost line, a damaged label) writes no\n"
     "file and exits 5, naming what it lacked; --partial then writes the\n"
     "parameters the report held, without the lines of those it lacked.\n"},
    {Verb::Write, "write", 1, kDryRun, "halden write FILE [--dry-run] [common options]",
     "Reads the controller's parameters back, loads FILE and sends, one command\n"
     "per parameter in id order, only the parameters whose file value differs\n"
     "from the controller's (as \"从配置文件配置\" does), printing each command and\n"
     "its outcome. --dry-run prints the commands that would be sent and sends\n"
     "nothing. Exit status 5 when the controller refused or did not confirm one.\n"},
    {Verb::Diff, "diff", 1, kJson, "halden diff FILE [common options]",
     "Reads the controller's parameters back and prints, for every configurable\n"
     "parameter (ids 0 to 144) that FILE names with another value: the label,\n"
     "the controller's value and the file's value. Exit status 0 when they are\n"
     "equal, 1 when they differ.\n"},
    {Verb::Get, "get", 1, kJson, "halden get LABEL|ID [common options]",
     "Reads the controller's parameters back and prints the value of one\n"
     "parameter, named by its id (0 to 144, or 152 to 161) or its label\n"
     "(\"Heart time:\"; case, blanks at the ends and the final colon may differ).\n"},
    {Verb::Set, "set", 2, kNoExtra, "halden set LABEL|ID VALUE [common options]",
     "Reads the controller's parameters back and, when VALUE differs from the\n"
     "controller's value, sends the parameter's command (as \"保存参数\" does for\n"
     "one edited value). VALUE is at most 99 bytes in code page 936, one line.\n"},
    {Verb::Flash, "flash", 1, kBoot | kJson, "halden flash IMAGE [--boot] [common options]",
     "Downloads the firmware IMAGE (1 to 1,048,575 bytes) into the controller's\n"
     "boot loader, as the download page does: handshake 'P' every 500 ms (with\n"
     "--boot, the boot-program handshake 'B' first), then blocks of 4096 bytes,\n"
     "each confirmed by the boot loader; a rejected or unanswered block starts\n"
     "the image again. A progress bar on stderr shows blocks, bytes/s and the\n"
     "time left. --wait limits how long the boot loader may stay silent.\n"},
    {Verb::Version, "version", 0, kNoExtra, "halden version [common options]",
     "Asks the controller for its firmware version (AT+VER, \"设备版本\") and prints\n"
     "its answer.\n"},
    {Verb::Signal, "signal", 0, kNoExtra, "halden signal [common options]",
     "Asks the controller for its radio signal (AT+CSQ, \"设备信号\") and prints its\n"
     "answer.\n"},
    {Verb::Restart, "restart", 0, kYes, "halden restart --yes [common options]",
     "Restarts the controller (AT+RESET, \"重启设备\"). It leaves configuration\n"
     "mode; the next command asks for it again. Needs --yes.\n"},
    {Verb::Factory, "factory", 0, kYes, "halden factory --yes [common options]",
     "Restores the controller's factory settings (AT+FACTORY, \"出厂配置\") and reads\n"
     "its parameters back. Needs --yes.\n"},
    {Verb::ClearCache, "clear-cache", 0, kYes, "halden clear-cache --yes [common options]",
     "Clears the controller's data store (AT+INITDATAFLASH, \"清除缓存\"). Needs --yes.\n"},
    {Verb::ClearMeter, "clear-meter", 0, kYes, "halden clear-meter --yes [common options]",
     "Clears the controller's meter data (AT+INITSENSOR, \"清除仪表\"). Needs --yes.\n"},
    {Verb::Clock, "clock", 0, kClock,
     "halden clock [--system | --set \"YYYY/MM/DD hh:mm:ss\"] [common options]",
     "Sets the controller's clock (AT+EXCCLK=): from this PC's clock as the\n"
     "command goes out (--system, the default) or to the given local time; the\n"
     "weekday is computed.\n"},
    {Verb::Counter, "counter", 1, kOptionalValue, "halden counter N [VALUE] [common options]",
     "Reads (without VALUE) or sets the initial value of pulse counter N, 1 to 4\n"
     "(AT+CNTRVAL01 to AT+CNTRVAL04, \"?\" or \"=VALUE\"). A read prints the\n"
     "controller's answer.\n"},
    {Verb::Meter, "meter", 1, kOptionalValue, "halden meter N [VALUE] [common options]",
     "Reads (without VALUE) or sets the initial value of serial meter port N, 1 to\n"
     "4 (AT+COMVAL01 to AT+COMVAL04, \"?\" or \"=VALUE\"). A read prints the\n"
     "controller's answer.\n"},
    {Verb::Records, "records", 0, kOutput | kDates | kJson,
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

// One line per configurable parameter, from the parameter descriptors: its
// id, its label and what it takes where the table knows (the coded values of
// a list that shows words, the limit its page's label states).
std::string parameterList()
{
    std::string text = "Parameters (id, label, what the value is):\n";
    for (const ParamDescriptor& d : ParamDescriptors()) {
        char id[8];
        std::snprintf(id, sizeof id, "%5d  ", d.id);
        std::string line = id + GbkToUtf8(d.ReportLabel());
        std::string takes;
        if (d.rule == ValueRule::Label && d.labels != nullptr) {
            for (const LabelChoice& c : d.labels->choices)
                takes += (takes.empty() ? "" : ", ") + std::string(c.value) + "=" + GbkToUtf8(c.label);
            if (!d.labels->defaultLabel.empty())
                takes += (takes.empty() ? "" : ", ") + std::string("other=") + GbkToUtf8(d.labels->defaultLabel);
        }
        if (!d.limit.empty())
            takes += (takes.empty() ? "" : " ") + std::string(d.limit);
        if (!d.OnPage())
            takes += (takes.empty() ? "" : " ") + std::string("(on no page)");
        if (!takes.empty())
            line += "  " + takes;
        text += line + "\n";
    }
    return text;
}

} // namespace

const VerbInfo* FindVerb(std::string_view name)
{
    for (const VerbInfo& v : kVerbs)
        if (name == v.name)
            return &v;
    return nullptr;
}

const VerbInfo* InfoOf(Verb verb)
{
    for (const VerbInfo& v : kVerbs)
        if (v.verb == verb)
            return &v;
    return nullptr;
}

const char* VerbName(Verb verb)
{
    const VerbInfo* v = InfoOf(verb);
    return v ? v->name : "";
}

std::string HelpText(Verb verb)
{
    std::string text;
    if (const VerbInfo* v = InfoOf(verb)) {
        text = std::string("usage: ") + v->usage + "\n\n" + v->page + "\n";
        text += "Every command opens the port, and (all but flash) asks the controller into\n"
                "configuration mode as the window's \"重新加载\" does: 'S' every 50 ms until it\n"
                "answers \"CONFIGURE PROGRAM\". Switch the controller off and on when asked.\n\n";
        text += kCommon;
        text += "\n";
        text += kStatuses;
        if (verb == Verb::Get || verb == Verb::Set)
            text += "\n" + parameterList();
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

} // namespace pell::cli

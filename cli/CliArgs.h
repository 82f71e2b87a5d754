#pragma once
// The command line of halden: a subcommand, its operands and options, and
// the help pages.
#include <string>
#include <vector>

namespace pell::cli {

enum class Verb {
    None, Read, Write, Diff, Get, Set, Flash,
    Version, Signal, Restart, Factory, ClearCache, ClearMeter, Clock, Counter, Meter, Records,
};

struct CliOptions {
    Verb verb = Verb::None;
    bool help = false;          // --help: the page of the verb, or the overview
    std::string port;           // --port; empty: the first port listed
    unsigned baud = 115200;     // --baud
    bool json = false;          // --json
    bool verbose = false;       // --verbose: the job log on stderr
    int waitSeconds = 60;       // --wait: for configuration mode / the boot loader; 0 = no limit
    std::string output;         // -o FILE (read, records)
    std::string file;           // FILE (write, diff), IMAGE (flash)
    std::string target;         // LABEL|ID (get, set)
    std::string value;          // VALUE (set), as typed (UTF-8)
    bool dryRun = false;        // --dry-run (write)
    bool partial = false;       // --partial (read): save what a report that lacked parameters held
    bool boot = false;          // --boot (flash)
    bool yes = false;           // --yes: the command may change the controller
    bool clockSystem = false;   // --system (clock)
    std::string clockText;      // --set "YYYY/MM/DD hh:mm:ss" (clock)
    int index = 0;              // N (counter, meter): 1 to 4
    bool hasValue = false;      // VALUE given (counter, meter)
    std::string from, to;       // --from, --to (records): yyyy/M/d
};

struct ParsedArgs {
    bool ok = false;
    std::string error; // why not, for the user
    CliOptions options;
};

// `args` without the program name.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

// The overview (Verb::None) or the page of one subcommand.
std::string HelpText(Verb verb);
const char* VerbName(Verb verb);

} // namespace pell::cli

#include "sim/ProgramOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace pell::sim {

namespace {

const char* const kUsageHead =
    "usage: halden-sim [options]\n"
    "Plays a well controller and its boot loader on a pseudo-terminal. Prints the\n"
    "port path and links it into the folder that the tool's port list reads.\n"
    "\n";
constexpr std::size_t kHelpColumn = 23; // where the help texts of the usage start

enum class Takes { Nothing, Number, Word };

// An option as its setter gets it: the number or the word after it.
struct Given {
    std::string word;
    long number = 0;
    std::optional<int>* exit;

    int Int() const { return static_cast<int>(number); }
    std::size_t Size() const { return static_cast<std::size_t>(number); }
    // Ends the program with `status` once the setter has returned.
    void Exit(int status) const { *exit = status; }
};

using Setter = void (*)(ProgramSettings& s, const Given& g);

struct OptionRow {
    const char* name;
    Takes takes;
    const char* value; // what the usage calls the value; null without one
    const char* help;  // a line break goes on under the first line
    Setter set;
    const char* alias = nullptr;   // another spelling, not in the usage
    const char* heading = nullptr; // a line of the usage before this row
};

void printUsage(ProgramSettings&, const Given& g)
{
    std::fputs(ProgramUsage().c_str(), stdout);
    g.Exit(0);
}

void setName(ProgramSettings& s, const Given& g)
{
    s.name = g.word;
    if (s.name.empty() || s.name.find('/') != std::string::npos) {
        std::fprintf(stderr, "halden-sim: --name wants a plain file name\n");
        g.Exit(2);
    }
}

void addLate(ProgramSettings& s, const Given& g)
{
    const std::size_t eq = g.word.rfind('=');
    long ms = 0;
    if (eq == std::string::npos || eq == 0 || !ParseCount(g.word.substr(eq + 1), ms)) {
        std::fprintf(stderr, "halden-sim: --late wants CMD=MS\n%s", ProgramUsage().c_str());
        g.Exit(2);
        return;
    }
    s.options.faults.lateFor.emplace_back(g.word.substr(0, eq), static_cast<int>(ms));
}

const OptionRow kOptions[] = {
    {"--auto-power", Takes::Nothing, nullptr, "power up (or restart) when the tool's 'S', 'B' or 'P' arrive",
     [](ProgramSettings& s, const Given&) { s.options.autoPowerUp = true; }},
    // Switched on after the port line, so that line comes first.
    {"--powered", Takes::Nothing, nullptr, "switch the device on at start",
     [](ProgramSettings& s, const Given&) { s.powered = true; }},
    {"--baud", Takes::Number, "N", "take as long as a line at N baud (10 bits per byte)",
     [](ProgramSettings& s, const Given& g) { s.options.baud = g.Int(); }},
    {"--loader-window", Takes::Number, "MS", "boot loader listens this long after power-up (1000)",
     [](ProgramSettings& s, const Given& g) { s.options.loaderWindowMs = g.Int(); }},
    {"--config-window", Takes::Number, "MS", "application watches this long for 'S' (1000)",
     [](ProgramSettings& s, const Given& g) { s.options.configWindowMs = g.Int(); }},
    {"--batch", Takes::Number, "N", "card records per reply (10)",
     [](ProgramSettings& s, const Given& g) { s.options.recordsPerBatch = g.Int(); }},
    {"--name", Takes::Word, "NAME", "link name (default sim, or sim-<pid> when taken)", setName},
    {"--quiet", Takes::Nothing, nullptr, "do not log the traffic",
     [](ProgramSettings& s, const Given&) { s.quiet = true; }},
    {"--command", Takes::Word, "CMD",
     "run a typed command at start (repeatable), e.g.\n--command 'poll 01 03 00 00 00 02 C4 0B 1000'",
     [](ProgramSettings& s, const Given& g) { s.startCommands.push_back(g.word); }},
    {"--silent", Takes::Nothing, nullptr, "answer nothing",
     [](ProgramSettings& s, const Given&) { s.options.faults.silent = true; }, nullptr, "faults:"},
    {"--error", Takes::Word, "CMD", "answer commands starting with CMD with ERROR (repeatable)",
     [](ProgramSettings& s, const Given& g) { s.options.faults.errorFor.push_back(g.word); }},
    {"--slow", Takes::Number, "MS", "wait MS before every answer",
     [](ProgramSettings& s, const Given& g) { s.options.faults.replyDelayMs = g.Int(); }},
    {"--chunk", Takes::Number, "N", "send texts in pieces of N bytes",
     [](ProgramSettings& s, const Given& g) { s.options.faults.chunkSize = g.Size(); }},
    {"--split", Takes::Number, "N", "cut every text at byte N (repeatable)",
     [](ProgramSettings& s, const Given& g) { s.options.faults.splitAt.push_back(g.Size()); }},
    {"--gap", Takes::Number, "MS", "pause between pieces (30)",
     [](ProgramSettings& s, const Given& g) { s.options.faults.chunkGapMs = g.Int(); }},
    {"--noise", Takes::Nothing, nullptr, "zero bytes and noise before every reply",
     [](ProgramSettings& s, const Given&) { s.options.faults.noise = true; }},
    {"--reject-block", Takes::Number, "K", "reject block K once",
     [](ProgramSettings& s, const Given& g) { s.options.faults.rejectBlock = g.Int(); }},
    {"--drop-ack", Takes::Number, "K", "do not answer block K once",
     [](ProgramSettings& s, const Given& g) { s.options.faults.dropAckBlock = g.Int(); }},
    {"--loader-errors", Takes::Number, "N", "answer N handshakes with \"err_\"",
     [](ProgramSettings& s, const Given& g) { s.options.faults.loaderErrors = g.Int(); }},
    {"--close-after", Takes::Number, "N", "close the line after N bytes of the next reply",
     [](ProgramSettings& s, const Given& g) { s.options.faults.closeAfterReplyBytes = g.number; }},
    {"--echo", Takes::Nothing, nullptr, "write every command line back before its answer",
     [](ProgramSettings& s, const Given&) { s.options.faults.echo = true; }},
    {"--preamble", Takes::Word, "TEXT", "write TEXT before every answer",
     [](ProgramSettings& s, const Given& g) { s.options.faults.preamble = g.word; }},
    {"--both", Takes::Word, "CMD", "answer commands starting with CMD with ERROR and OK at once (repeatable)",
     [](ProgramSettings& s, const Given& g) { s.options.faults.bothFor.push_back(g.word); }},
    {"--late", Takes::Word, "CMD=MS", "answer commands starting with CMD MS ms late (repeatable)", addLate},
    {"--drop-report", Takes::Number, "N", "leave N lines out of the parameter report",
     [](ProgramSettings& s, const Given& g) { s.options.faults.dropReportLines = g.Int(); }},
    {"--damage-report", Takes::Number, "K", "flip a bit in the label of report line K (0-based)",
     [](ProgramSettings& s, const Given& g) { s.options.faults.damageReportLine = g.Int(); }},
    {"--help", Takes::Nothing, nullptr, "this text", printUsage, "-h"},
};

const OptionRow* findOption(const std::string& spelled)
{
    for (const OptionRow& row : kOptions)
        if (spelled == row.name || (row.alias != nullptr && spelled == row.alias))
            return &row;
    return nullptr;
}

} // namespace

const std::string& ProgramUsage()
{
    static const std::string usage = [] {
        std::string out = kUsageHead;
        for (const OptionRow& row : kOptions) {
            if (row.heading != nullptr)
                out += std::string(row.heading) + "\n";
            std::string spelled = std::string("  ") + row.name;
            if (row.value != nullptr)
                spelled += std::string(" ") + row.value;
            out += spelled + std::string(spelled.size() < kHelpColumn ? kHelpColumn - spelled.size() : 1, ' ');
            for (const char* c = row.help; *c != '\0'; ++c)
                out += *c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, *c);
            out += "\n";
        }
        return out;
    }();
    return usage;
}

bool ParseCount(const std::string& s, long& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < 0)
        return false;
    out = v;
    return true;
}

std::optional<int> ParseProgramOptions(int argc, char** argv, ProgramSettings& settings)
{
    std::optional<int> exit;
    for (int i = 1; i < argc && !exit; ++i) {
        const std::string spelled = argv[i];
        const OptionRow* row = findOption(spelled);
        // An option that takes a word but stands last is no option.
        if (row == nullptr || (row->takes == Takes::Word && i + 1 >= argc)) {
            std::fprintf(stderr, "halden-sim: unknown option %s\n%s", spelled.c_str(), ProgramUsage().c_str());
            return 2;
        }
        Given given{{}, 0, &exit};
        if (row->takes == Takes::Number && (i + 1 >= argc || !ParseCount(argv[i + 1], given.number))) {
            std::fprintf(stderr, "halden-sim: %s wants a number\n%s", spelled.c_str(), ProgramUsage().c_str());
            return 2;
        }
        if (row->takes != Takes::Nothing)
            given.word = argv[++i];
        row->set(settings, given);
    }
    return exit;
}

} // namespace pell::sim

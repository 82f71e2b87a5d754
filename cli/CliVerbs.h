#pragma once
// halden's subcommands: their names, how many operands they take, which
// options besides the common ones, their usage lines and help pages
// (HelpText and VerbName of CliArgs.h).
#include "cli/CliArgs.h"

#include <string_view>

namespace pell::cli {

// Options a subcommand takes besides the common ones.
enum Extra : unsigned {
    kNoExtra = 0, kOutput = 1, kDryRun = 2, kBoot = 4, kYes = 8, kClock = 16, kOptionalValue = 32, kDates = 64,
    kPartial = 128, kJson = 256,
};

struct VerbInfo {
    Verb verb;
    const char* name;
    int operands;       // how many positional operands it needs (one more with kOptionalValue)
    unsigned extras;    // the options it takes, and kOptionalValue
    const char* usage;
    const char* page;
};

// The subcommand of a name, or of a verb; null when none has it.
const VerbInfo* FindVerb(std::string_view name);
const VerbInfo* InfoOf(Verb verb);

} // namespace pell::cli

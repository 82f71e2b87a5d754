#pragma once
// The command line of halden-sim: one table of its options, from which
// both the parsing and the usage text come.
#include "sim/Simulator.h"

#include <optional>
#include <string>
#include <vector>

namespace pell::sim {

// What the command line asks for.
struct ProgramSettings {
    Options options;       // autoPowerUp and the faults included
    std::string name = "sim"; // the link name
    bool powered = false;  // switch the device on once the port is announced
    bool quiet = false;    // log events only, no traffic
    std::vector<std::string> startCommands;
};

// Reads the options into `settings`. An exit status when the program ends
// here: 0 after the usage text on --help, 2 after what is wrong (on the
// error output, most with the usage text).
std::optional<int> ParseProgramOptions(int argc, char** argv, ProgramSettings& settings);

const std::string& ProgramUsage();

// A decimal number of at least 0, the whole of `s`.
bool ParseCount(const std::string& s, long& out);

} // namespace pell::sim

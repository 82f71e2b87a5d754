#pragma once
// A configuration file as halden compares it with a controller: read whole
// and parsed by the core's rules (ConfigFile.h) into values of its own,
// without touching the engine's.
#include <map>
#include <string>

namespace pell::cli {

// What a configuration file names: its values by parameter id, as the
// file parser reads them (rows the file does not name are absent).
using FileValues = std::map<int, std::string>;

// Reads the whole file (the window's limits: 1 to 80,969 bytes) into
// `bytes` and parses it as the window does into `values`. No engine's
// values change. False with `why` (path and reason) when the file
// cannot be read, has a length out of range or names no parameter.
bool ReadConfigFileValues(const std::string& path, std::string& bytes, FileValues& values, std::string& why);

} // namespace pell::cli

#pragma once
// Configuration files for the command-line tool: the text the window saves
// after a read-back, a file written whole or not at all, and a file read
// with the report parser into values of its own.
#include <map>
#include <string>

namespace pell::cli {

// A file's text is shorter than this (the window's read buffer).
constexpr std::size_t kConfigFileLimit = 80970;

// The configuration text of the parameter table: every row but the end row
// in table order, "label  value\r\n", a value cut at its first CR or LF,
// stopping before a line that would reach kConfigFileLimit with its NUL.
std::string ConfigFileText();

// Writes `bytes` to a new file beside `path` and renames it over `path`
// once every byte is on disk, so `path` holds either its old content or the
// whole new one. False with `why` (path and reason) otherwise.
bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string& why);

// What a configuration file names: its values by parameter id, as the
// report parser reads them (rows the file does not name are absent).
using FileValues = std::map<int, std::string>;

// Reads the whole file (1 to kConfigFileLimit - 1 bytes; a UTF-8 byte-order
// mark at its start is skipped) and parses it as the window does. The
// parameter table is left as it was. False with `why` when the file cannot
// be read, has a length out of range or names no parameter.
bool ReadConfigFile(const std::string& path, std::string& bytes, FileValues& values, std::string& why);

} // namespace pell::cli

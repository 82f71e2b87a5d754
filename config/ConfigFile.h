#pragma once
// Configuration files (*.cfg): a table of parameter values (ParamTable.h)
// as text, one line per row in table order (every row but the end row, 155
// lines), each the row's label, two blanks, its value and CR LF
// ("%s  %s\r\n"), in code page 936 as the table holds it, without
// byte-order mark, header or trailer. Reading takes the report line rules
// of the AT+SHOW report (ReportParser.h): any order, unknown labels, any
// blanks.
#include "protocol/ParamTable.h"

#include <cstddef>
#include <functional>
#include <string>

namespace pell {

// A configuration text together with its closing zero fits this buffer; a
// file of this size or more is no configuration file.
constexpr std::size_t kConfigTextBufferSize = 80970;
constexpr std::size_t kConfigTextMax = kConfigTextBufferSize - 1;

// Writes the configuration text of the values into `buffer`
// (kConfigTextBufferSize bytes), zero-terminated, and returns its length
// without the zero. A value is written up to its first CR or LF, so every
// row is one line and the file reads back as it was written. A line that
// would not fit is left out with all after it (with labels and values of
// at most 99 bytes all 155 lines always fit).
std::size_t FormatConfigText(const ParamTable& values, char* buffer);
// The same without the rows `include` says no to (the parameters whose
// value nobody gave, after a report that lacked them).
std::size_t FormatConfigText(const ParamTable& values, char* buffer, const std::function<bool(int id)>& include);
// The same text as a string.
std::string FormatConfigText(const ParamTable& values, const std::function<bool(int id)>& include = {});

// Whether a file of this many bytes may be a configuration file: not
// empty and shorter than kConfigTextBufferSize.
constexpr bool ConfigFileSizeAccepted(std::size_t size)
{
    return size > 0 && size < kConfigTextBufferSize;
}

// Stores in `values` the value of every line of a configuration file's
// bytes whose label is in the parameter table; other rows keep theirs. A
// UTF-8 byte-order mark in front (left by an editor) is skipped. True when
// a value was stored.
bool ParseConfigText(ParamTable& values, const char* text, std::size_t length);

} // namespace pell

namespace pell {

enum class ConfigFileRead {
    Read,    // `bytes` holds the whole file
    Refused, // empty, or kConfigTextBufferSize bytes or more: no configuration file
    Failed,  // could not be opened or read whole, or is no regular file (a named pipe,
             // a device or a folder is refused at once); `error` names the path and the reason
};

// Reads a configuration file whole (a larger file is not read at all). The
// bytes are parsed separately (ParseConfigText), so that the caller
// decides when the table may change.
ConfigFileRead ReadConfigFile(const std::string& path, std::string& bytes, std::string* error);

} // namespace pell

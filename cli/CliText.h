#pragma once
// The terminal side of the command-line tool's texts: the terminal speaks
// UTF-8, the controller, the files and the job texts code page 936 (GBK).
// Plus the JSON strings of --json.
#include "common/GbkText.h"

#include <string>
#include <string_view>

namespace pell::cli {

using pell::GbkToUtf8;
using pell::Utf8ToGbk;

// A JSON string literal of a UTF-8 text, quotes included.
std::string JsonString(std::string_view utf8);

// A log or job text without its line breaks at either end.
std::string_view TrimLineBreaks(std::string_view text);

} // namespace pell::cli

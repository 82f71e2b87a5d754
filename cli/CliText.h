#pragma once
// The terminal side of the command-line tool's texts: the terminal speaks
// UTF-8, the controller, the files and the job texts code page 936 (GBK).
// Plus the JSON strings of --json.
#include <string>
#include <string_view>

namespace pell::cli {

// GBK bytes as UTF-8 for the terminal. A byte sequence that is no GBK
// character is shown as \xNN, so nothing the controller sends can hide.
std::string GbkToUtf8(std::string_view gbk);
// UTF-8 typed by the user as GBK for the wire and the files. False (with
// `out` emptied) when the text is no valid UTF-8 or holds a character GBK
// lacks.
bool Utf8ToGbk(std::string_view utf8, std::string& out);

// A JSON string literal of a UTF-8 text, quotes included.
std::string JsonString(std::string_view utf8);

// A log or job text without its line breaks at either end.
std::string_view TrimLineBreaks(std::string_view text);

} // namespace pell::cli

#pragma once
// The page logs' line format: "<Time:" + local time "%Y-%m-%d %H:%M:%S" +
// ">:" + the message, which brings its own CR LF.
#include <ctime>
#include <string>
#include <string_view>

namespace pell {

std::string FormatLogLine(std::string_view text, std::time_t when);
std::string FormatLogLine(std::string_view text); // now

// Log texts are emptied before a line once they hold this many characters.
constexpr std::size_t kLogLimit = 1048576;

} // namespace pell

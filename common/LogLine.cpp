#include "common/LogLine.h"

namespace pell {

std::string FormatLogLine(std::string_view text, std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line;
    line.reserve(text.size() + 28);
    line += "<Time:";
    line += stamp;
    line += ">:";
    line += text;
    return line;
}

std::string FormatLogLine(std::string_view text)
{
    return FormatLogLine(text, std::time(nullptr));
}

} // namespace pell

#include "pages/ClockRequest.h"

#include "pages/ValueRules.h"

#include <cstdio>

namespace pell {

namespace {

// The last second the controller's clock conversion accepts:
// 3000-12-31 23:59:59 UTC.
constexpr long long kLastClockSecond = 32535215999LL;

CivilTime fromTm(const std::tm& tm)
{
    CivilTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    c.weekday = tm.tm_wday;
    return c;
}

// The number that follows the n-th `sep` (n = 0: the start of the text);
// 0 when there is no such separator.
int fieldAfter(std::string_view text, char sep, int n)
{
    std::size_t pos = 0;
    for (int k = 0; k < n; ++k) {
        std::size_t s = text.find(sep, pos);
        if (s == std::string_view::npos)
            return 0;
        pos = s + 1;
    }
    return NumberRuleIndex(text.substr(pos));
}

} // namespace

CivilTime LocalCivilTime(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return fromTm(tm);
}

CivilTime LocalCivilTimeNow()
{
    return LocalCivilTime(std::time(nullptr));
}

std::string FormatClockDisplay(const CivilTime& c)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d/%02d/%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return buf;
}

std::string SystemClockRequest(const CivilTime& c)
{
    char buf[112];
    std::snprintf(buf, sizeof buf, "%d/%02d/%02d,%02d:%02d:%02d,%d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second, c.weekday);
    return buf;
}

bool IsSystemClockRequest(std::string_view request)
{
    return !request.empty() && request.front() != '"';
}

CivilTime ParsePickedDateTime(std::string_view dateText, std::string_view timeText)
{
    CivilTime c;
    c.year = fieldAfter(dateText, '/', 0);
    c.month = fieldAfter(dateText, '/', 1);
    c.day = fieldAfter(dateText, '/', 2);
    c.hour = fieldAfter(timeText, ':', 0);
    c.minute = fieldAfter(timeText, ':', 1);
    c.second = fieldAfter(timeText, ':', 2);
    c.weekday = -1;
    return c;
}

std::optional<int> LocalWeekday(const CivilTime& p)
{
    // Fields far outside any calendar cannot be a clock time (and would
    // overflow the conversion's arithmetic).
    auto within = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
    if (!within(p.year, 1900, 3100) || !within(p.month, -1200, 1200) || !within(p.day, -40000, 40000) ||
        !within(p.hour, -1000000, 1000000) || !within(p.minute, -1000000, 1000000) ||
        !within(p.second, -1000000, 1000000))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_isdst = -1;
    tm.tm_wday = -1; // stays -1 when the conversion fails
    const std::time_t t = std::mktime(&tm);
    if (tm.tm_wday < 0 || t < 0 || static_cast<long long>(t) > kLastClockSecond)
        return std::nullopt;
    return tm.tm_wday;
}

int CivilWeekday(int year, int month, int day)
{
    // Days since 1970-01-01 (a Thursday), after H. Hinnant's days_from_civil.
    const int y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153LL * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + doe - 719468;
    const long long w = (days + 4) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

std::string ManualClockRequest(std::string_view dateText, std::string_view timeText, int weekday)
{
    std::string r;
    r.reserve(dateText.size() + timeText.size() + 8);
    r += '"';
    r += dateText;
    r += ',';
    r += timeText;
    r += "\",";
    r += std::to_string(weekday);
    return r;
}

} // namespace pell

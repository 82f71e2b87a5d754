#pragma once
// The basic page's clock section without the widgets: the PC clock line it
// shows, the weekday of a picked date and time, and the clock value text it
// hands to the clock job (which sends it with AT+EXCCLK=).
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace pell {

struct CivilTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
    int weekday = 4; // 0 Sunday .. 6 Saturday
};

// The PC's local date and time at `t`.
CivilTime LocalCivilTime(std::time_t t);
CivilTime LocalCivilTimeNow();

// The PC clock as the page shows it: "2026/12/08 13:05:09".
std::string FormatClockDisplay(const CivilTime& now);

// The clock value text from the PC's clock: "2026/12/08,13:05:09,2".
std::string SystemClockRequest(const CivilTime& now);

// Whether a clock value text is of the PC-clock form (the manual form
// starts with a double quote): the clock job composes such a request again
// from the PC's clock when it sends it.
bool IsSystemClockRequest(std::string_view request);

// The six numbers of the pickers' texts ("yyyy/MM/dd", "HH:mm:ss"): each
// read as a leading decimal number, the month and day after the first and
// next "/", the minute and second after the first and next ":". A missing
// field reads as 0.
CivilTime ParsePickedDateTime(std::string_view dateText, std::string_view timeText);

// The weekday (0 Sunday .. 6 Saturday) of a local date and time, with
// daylight saving decided by the system, as the calendar-time conversion
// gives it (out-of-range fields roll over). Nullopt for a time the clock
// cannot hold: before 1 January 1970 00:00 UTC or after the end of the year
// 3000 (UTC).
std::optional<int> LocalWeekday(const CivilTime& picked);

// The weekday of a proleptic Gregorian date (no time zone involved).
int CivilWeekday(int year, int month, int day);

// The clock value text of a manual setting: the pickers' texts as shown in
// double quotes, joined by a comma, then a comma and the weekday digit:
// "\"2026/01/04,00:00:00\",0".
std::string ManualClockRequest(std::string_view dateText, std::string_view timeText, int weekday);

} // namespace pell

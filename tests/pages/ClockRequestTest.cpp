// The clock section's texts and the weekday of a picked date and time.
#include "pages/ClockRequest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using namespace pell;

namespace {

// Runs a test in a given time zone (POSIX TZ rule, no zone database needed)
// and puts the previous one back.
class InZone : public ::testing::Test {
protected:
    void Zone(const char* tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }
    void SetUp() override
    {
        if (const char* old = std::getenv("TZ"))
            saved_ = old;
        Zone("UTC0");
    }
    void TearDown() override
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

CivilTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    CivilTime c;
    c.year = y, c.month = mo, c.day = d, c.hour = h, c.minute = mi, c.second = s, c.weekday = -1;
    return c;
}

} // namespace

TEST(ClockTexts, DisplayAndSystemRequestOfThePcClock)
{
    CivilTime t = At(2026, 12, 8, 13, 5, 9);
    t.weekday = 2;
    EXPECT_EQ(FormatClockDisplay(t), "2026/12/08 13:05:09");
    EXPECT_EQ(SystemClockRequest(t), "2026/12/08,13:05:09,2");
    CivilTime first = At(2000, 1, 1);
    first.weekday = 6;
    EXPECT_EQ(FormatClockDisplay(first), "2000/01/01 00:00:00");
    EXPECT_EQ(SystemClockRequest(first), "2000/01/01,00:00:00,6");
    CivilTime last = At(2099, 12, 31, 23, 59, 59);
    last.weekday = 4;
    EXPECT_EQ(SystemClockRequest(last), "2099/12/31,23:59:59,4");
}

TEST(ClockTexts, ManualRequestQuotesThePickerTexts)
{
    EXPECT_EQ(ManualClockRequest("2026/01/04", "00:00:00", 0), "\"2026/01/04,00:00:00\",0");
    EXPECT_EQ(ManualClockRequest("2000/02/29", "23:59:59", 2), "\"2000/02/29,23:59:59\",2");
}

TEST(ClockTexts, PickerTextsGiveSixNumbers)
{
    CivilTime c = ParsePickedDateTime("2026/01/04", "13:05:09");
    EXPECT_EQ(c.year, 2026);
    EXPECT_EQ(c.month, 1);
    EXPECT_EQ(c.day, 4);
    EXPECT_EQ(c.hour, 13);
    EXPECT_EQ(c.minute, 5);
    EXPECT_EQ(c.second, 9);
    // Short or missing fields read as their leading number, or 0.
    c = ParsePickedDateTime("2026/1/4x", "7:8");
    EXPECT_EQ(c.month, 1);
    EXPECT_EQ(c.day, 4);
    EXPECT_EQ(c.hour, 7);
    EXPECT_EQ(c.minute, 8);
    EXPECT_EQ(c.second, 0);
    c = ParsePickedDateTime("", "");
    EXPECT_EQ(c.year, 0);
    EXPECT_EQ(c.month, 0);
    EXPECT_EQ(c.day, 0);
}

TEST_F(InZone, LocalTimeOfThePc)
{
    CivilTime c = LocalCivilTime(1796735109); // 2026-12-08 13:05:09 UTC
    EXPECT_EQ(SystemClockRequest(c), "2026/12/08,13:05:09,2");
    Zone("CST-8");
    c = LocalCivilTime(1796735109);
    EXPECT_EQ(SystemClockRequest(c), "2026/12/08,21:05:09,2");
    c = LocalCivilTime(1796735109 + 3 * 3600);
    EXPECT_EQ(SystemClockRequest(c), "2026/12/09,00:05:09,3");
}

TEST_F(InZone, WeekdayOfPickedDatesAcrossLeapYearsAndMonthEnds)
{
    struct Case {
        CivilTime t;
        int weekday;
    };
    const Case cases[] = {
        {At(2026, 1, 4), 0},   {At(2026, 12, 8, 13, 5, 9), 2},
        {At(1970, 1, 1), 4},   {At(2000, 1, 1), 6},
        {At(2000, 2, 29), 2},  {At(2000, 3, 1), 3},           // 2000 is a leap year
        {At(2024, 2, 29), 4},  {At(2099, 12, 31, 23, 59, 59), 4},
        {At(2100, 2, 28), 0},  {At(2100, 3, 1), 1},           // 2100 is not
        {At(2023, 2, 29), 3},  {At(2026, 4, 31), 5},          // a day past the month end rolls over
        {At(2026, 1, 4, 24), 1},                              // and so does an hour past midnight
        {At(3000, 12, 31, 23, 59, 59), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(FormatClockDisplay(c.t));
        EXPECT_EQ(LocalWeekday(c.t), c.weekday);
    }
}

TEST_F(InZone, WeekdayAgreesWithTheCalendarOverTheWholeRange)
{
    // Day by day from 1970 to the end of 3000 the weekday steps by one; the
    // conversion agrees with it on a spread of those days.
    int weekday = 4; // 1970-01-01
    int checked = 0;
    for (int y = 1970; y <= 3000; ++y) {
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        for (int m = 1; m <= 12; ++m)
            for (int d = 1; d <= days[m - 1]; ++d) {
                ASSERT_EQ(CivilWeekday(y, m, d), weekday) << y << "/" << m << "/" << d;
                if ((y * 372 + m * 31 + d) % 89 == 0 || d == days[m - 1]) {
                    ASSERT_EQ(LocalWeekday(At(y, m, d, 12)), weekday) << y << "/" << m << "/" << d;
                    ++checked;
                }
                weekday = (weekday + 1) % 7;
            }
    }
    EXPECT_GT(checked, 12000);
}

TEST_F(InZone, TimesTheClockCannotHoldHaveNoWeekday)
{
    EXPECT_EQ(LocalWeekday(At(1970, 1, 1, 0, 0, 0)), 4);
    EXPECT_EQ(LocalWeekday(At(1969, 12, 31, 23, 59, 59)), std::nullopt);
    EXPECT_EQ(LocalWeekday(At(1900, 1, 1)), std::nullopt);
    EXPECT_EQ(LocalWeekday(At(3001, 1, 1)), std::nullopt);
    EXPECT_EQ(LocalWeekday(At(3000, 12, 31, 23, 59, 60)), std::nullopt); // rolls into 3001
    EXPECT_EQ(LocalWeekday(At(0, 0, 0)), std::nullopt);                 // empty picker texts
    EXPECT_EQ(LocalWeekday(At(2026, 1, 4, 2000000000)), std::nullopt);  // no overflow either
    EXPECT_EQ(LocalWeekday(At(99999, 1, 1)), std::nullopt);

    // The limits are instants in UTC: east of Greenwich the first hours of
    // 1970 are still 1969 ...
    Zone("CST-8");
    EXPECT_EQ(LocalWeekday(At(1970, 1, 1, 7, 59, 59)), std::nullopt);
    EXPECT_EQ(LocalWeekday(At(1970, 1, 1, 8, 0, 0)), 4);
    EXPECT_EQ(LocalWeekday(At(3000, 12, 31, 23, 59, 59)), 3);
    // ... and west of it the last hours of 3000 are already 3001.
    Zone("EST5");
    EXPECT_EQ(LocalWeekday(At(1969, 12, 31, 19, 0, 0)), 3);
    EXPECT_EQ(LocalWeekday(At(1969, 12, 31, 18, 59, 59)), std::nullopt);
    EXPECT_EQ(LocalWeekday(At(3000, 12, 31, 18, 59, 59)), 3);
    EXPECT_EQ(LocalWeekday(At(3000, 12, 31, 19, 0, 0)), std::nullopt);
}

TEST_F(InZone, DaylightSavingIsTheSystemsBusiness)
{
    // Central European rules: 2026-03-29 02:30 does not exist, 2026-10-25
    // 02:30 exists twice; both are still that Sunday.
    Zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(LocalWeekday(At(2026, 3, 29, 2, 30)), 0);
    EXPECT_EQ(LocalWeekday(At(2026, 10, 25, 2, 30)), 0);
    EXPECT_EQ(LocalWeekday(At(2026, 7, 1, 0, 0)), 3);
    EXPECT_EQ(LocalWeekday(At(2026, 6, 30, 23, 59, 59)), 2);
}

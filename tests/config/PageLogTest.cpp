// The page log: line format, empty texts, the one-million-character limit,
// and what the window is handed to catch up.
#include "common/LogLine.h"
#include "common/PageLog.h"
#include "config/ConfigTexts.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace pell;

namespace {

std::time_t localTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

} // namespace

TEST(PageLog, LinesAreStampedAndEmptyTextsDropped)
{
    PageLog log(configtext::kLogBanner);
    const std::time_t when = localTime(2026, 3, 7, 9, 5, 1);
    EXPECT_TRUE(log.Append("AT\r\n", when));
    EXPECT_FALSE(log.Append("", when)) << "an empty text writes nothing";
    EXPECT_FALSE(log.Append("OK\r\n", when)) << "the window has not caught up yet";
    EXPECT_EQ(log.Text(), std::string(configtext::kLogBanner) +
                              "<Time:2026-03-07 09:05:01>:AT\r\n<Time:2026-03-07 09:05:01>:OK\r\n");

    PageLog::Change change = log.TakePending();
    EXPECT_FALSE(change.cleared);
    EXPECT_EQ(change.added, "<Time:2026-03-07 09:05:01>:AT\r\n<Time:2026-03-07 09:05:01>:OK\r\n");
    EXPECT_TRUE(log.TakePending().empty());
    EXPECT_TRUE(log.Append("x", when)) << "caught up: the next line asks again";
}

TEST(PageLog, ClearStartsWithoutTheBanner)
{
    PageLog log(configtext::kLogBanner);
    log.Append("a\r\n");
    log.Clear();
    EXPECT_TRUE(log.TakePending().empty());
    EXPECT_EQ(log.Text(), "");
    const std::time_t when = localTime(2026, 12, 31, 23, 59, 59);
    log.Append("b\r\n", when);
    EXPECT_EQ(log.Text(), "<Time:2026-12-31 23:59:59>:b\r\n");
}

TEST(PageLog, EmptiedBeforeALineOnceItHoldsTheLimit)
{
    const std::time_t when = localTime(2026, 1, 2, 3, 4, 5);
    const std::string stamp = "<Time:2026-01-02 03:04:05>:";
    const std::string body(1000 - stamp.size(), 'x');
    PageLog log;
    // Just below the limit: the next line is still added.
    log.Append(std::string(kLogLimit - 1 - stamp.size(), 'y'), when);
    ASSERT_EQ(log.Size(), kLogLimit - 1);
    log.Append("z", when);
    EXPECT_EQ(log.Size(), kLogLimit - 1 + stamp.size() + 1);
    log.TakePending();

    // At or beyond the limit: emptied first, then the line.
    log.Append(body, when);
    EXPECT_EQ(log.Text(), stamp + body);
    PageLog::Change change = log.TakePending();
    EXPECT_TRUE(change.cleared);
    EXPECT_EQ(change.added, stamp + body);

    // Exactly at the limit counts as full.
    PageLog exact;
    exact.Append(std::string(kLogLimit - stamp.size(), 'q'), when);
    ASSERT_EQ(exact.Size(), kLogLimit);
    exact.TakePending();
    EXPECT_TRUE(exact.Append("", when)) << "even an empty text empties a full log";
    EXPECT_EQ(exact.Size(), 0u);
    change = exact.TakePending();
    EXPECT_TRUE(change.cleared);
    EXPECT_TRUE(change.added.empty());
}

TEST(PageLog, LinesFromManyThreadsKeepTheirOrderInTheCatchUp)
{
    PageLog log;
    std::vector<std::thread> threads;
    std::string shown;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 500; ++i)
                log.Append(std::to_string(t) + ":" + std::to_string(i) + "\r\n");
        });
    // A window catching up meanwhile sees exactly the log's text in the end.
    for (int i = 0; i < 200; ++i)
        shown += log.TakePending().added;
    for (auto& th : threads)
        th.join();
    shown += log.TakePending().added;
    EXPECT_EQ(shown, log.Text());
    EXPECT_EQ(log.Text().size() > 4 * 500 * 30u, true);
}

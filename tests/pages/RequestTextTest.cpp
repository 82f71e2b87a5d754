// Request texts: the later click wins, the job empties, both threads at once.
#include "config/JobControl.h"
#include "pages/RequestText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace pell;

TEST(RequestText, LaterRequestReplacesAnEarlierOneAndClearEmpties)
{
    RequestText r;
    EXPECT_TRUE(r.Empty());
    EXPECT_EQ(r.Get(), "");
    r.Set("=100");
    r.Set("?");
    EXPECT_FALSE(r.Empty());
    EXPECT_EQ(r.Get(), "?");
    r.Clear();
    EXPECT_TRUE(r.Empty());
}

TEST(RequestText, EndsAtItsFirstLineBreak)
{
    RequestText r;
    r.Set("=5\r\nAT+FACTORY");
    EXPECT_EQ(r.Get(), "=5");
    r.Set("\"2026/01/04,00:00:00\",0\nAT+RESET");
    EXPECT_EQ(r.Get(), "\"2026/01/04,00:00:00\",0");
    r.Set("\r?");
    EXPECT_TRUE(r.Empty()) << "nothing before the break: no request";
}

TEST(RequestText, SlotsInPollOrderStartTheirJobs)
{
    int expected = 8;
    for (RequestSlot s : kRequestPollOrder)
        EXPECT_EQ(RequestJobCode(s), expected++);
    EXPECT_EQ(RequestJobCode(RequestSlot::Clock), 8);
    EXPECT_EQ(RequestJobCode(RequestSlot::Counter3), 12);
    EXPECT_EQ(RequestJobCode(RequestSlot::Records), 13);
    EXPECT_EQ(RequestJobCode(RequestSlot::Serial0), 14);
    EXPECT_EQ(RequestJobCode(RequestSlot::Serial3), 17);
}

TEST(RequestText, WriterAndWorkerNeverSeeAHalfWrittenText)
{
    // The UI thread keeps replacing the request with one of two texts while
    // the worker reads and empties it: every text read is one of the two.
    RequestText r;
    const std::string a(80, 'a');
    const std::string b = "\"2026/01/04,00:00:00\",0";
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread worker([&] {
        while (!stop.load()) {
            std::string t = r.Get();
            if (!t.empty() && t != a && t != b)
                bad.fetch_add(1);
            r.Clear();
        }
    });
    for (int i = 0; i < 20000; ++i)
        r.Set(i % 2 ? a : b);
    stop = true;
    worker.join();
    EXPECT_EQ(bad.load(), 0);
}

// The manual clock: a wait ends only by its event or by the test advancing
// the clock past its deadline, never by real time passing.
#include "common/Clock.h"

#include <gtest/gtest.h>

#include <future>

namespace pell {
namespace {

TEST(ManualClock, AWaitEndsExactlyAtItsDeadlineOrByItsEvent)
{
    struct Case { int waitMs; int firstStep; bool setEvent; bool expected; };
    const Case cases[] = {
        {1000, 999, false, false},  // one step short, then the last millisecond
        {5000, 0, true, true},      // the event ends it with the clock standing
        {0, 0, false, false},       // a zero wait is over at once
    };
    for (const Case& c : cases) {
        ManualClock clock;
        Event event;
        auto waited = std::async(std::launch::async, [&] { return clock.waitFor(event, c.waitMs); });
        if (c.waitMs > 0) {
            ASSERT_TRUE(clock.awaitWaiting(1));
            clock.advance(c.firstStep);
            // Still under way: the clock has not reached the deadline.
            EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
            if (c.setEvent)
                event.set();
            else
                clock.advance(c.waitMs - c.firstStep);
        }
        EXPECT_EQ(waited.get(), c.expected) << c.waitMs;
        EXPECT_EQ(clock.waiting(), 0);
    }
}

TEST(ManualClock, SleepAndSeveralWaitersFollowTheClock)
{
    ManualClock clock;
    Event a;
    Event b;
    auto first = std::async(std::launch::async, [&] { return clock.waitFor(a, 100); });
    auto second = std::async(std::launch::async, [&] { return clock.waitFor(b, 300); });
    auto sleeper = std::async(std::launch::async, [&] { clock.sleep(200); return clock.nowMs(); });
    ASSERT_TRUE(clock.awaitWaiting(3));
    clock.advance(150);
    EXPECT_FALSE(first.get());
    clock.advance(50);
    EXPECT_EQ(sleeper.get(), 200);
    b.set();
    EXPECT_TRUE(second.get());
}

} // namespace
} // namespace pell

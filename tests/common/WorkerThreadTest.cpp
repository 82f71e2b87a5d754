// The one thread helper: a stop wakes the body, interrupts what it blocks
// in until it has left, and joins it; the helper can start again.
#include "common/WorkerThread.h"

#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>

namespace pell {
namespace {

TEST(WorkerThread, StopWakesInterruptsAndJoinsAndTheThreadStartsAgain)
{
    WorkerThread worker;
    worker.Stop(); // never started: nothing to join
    for (int round = 0; round < 2; ++round) {
        Event blocked; // stands for a reply wait that only an interrupt ends
        std::atomic<int> loops{0};
        ASSERT_TRUE(worker.Start([&] {
            while (!worker.Stopping()) {
                worker.Wake().wait();
                worker.Wake().reset();
                ++loops;
            }
            blocked.wait();
        }));
        EXPECT_FALSE(worker.Start([] {})) << "one thread at a time";
        worker.Wake().set();
        ASSERT_TRUE(test::WaitUntil([&] { return loops.load() >= 1; }, std::chrono::seconds(60)));
        int interrupts = 0;
        worker.Stop([&] { ++interrupts; blocked.set(); });
        EXPECT_FALSE(worker.Running());
        EXPECT_GE(interrupts, 1);
    }
}

// The name shows where the system lists threads (ps, top, /proc), cut to
// the 15 characters the system keeps.
TEST(WorkerThread, TheThreadCarriesItsName)
{
    struct Case {
        const char* given;
        const char* shown;
    };
    const Case cases[] = {{"dispatch", "dispatch"}, {"a-name-longer-than-15", "a-name-longer-t"}};
    for (const Case& c : cases) {
        WorkerThread worker;
        std::string comm;
        ASSERT_TRUE(worker.Start([&] {
            std::ifstream in("/proc/thread-self/comm");
            std::getline(in, comm);
        }, c.given));
        worker.Stop();
        EXPECT_EQ(comm, c.shown);
    }
}

} // namespace
} // namespace pell

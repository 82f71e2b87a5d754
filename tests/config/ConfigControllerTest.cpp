// The configuration page's decisions without a window and without a
// controller: buttons against the port and the job state, the wait for
// configuration mode, the routing of received bytes, the worker's requests.
#include "config/ConfigController.h"
#include "config/ConfigTexts.h"
#include "config/ReportParser.h"
#include "tests/config/FakeConfigView.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 60s;

struct Requests {
    RequestText texts[kRequestSlotCount];
    RequestText* lookup(RequestSlot slot) { return &texts[static_cast<int>(slot)]; }
};

class Controller : public ::testing::Test {
protected:
    PtyPair pty;
    CSerial port;
    ManualClock clock; // nothing here waits for a reply
    CommandEngine engine{port, clock};
    FakeConfigView view{engine.Values()};
    Requests requests;
    ConfigController controller{view, port, engine, [this](RequestSlot s) { return requests.lookup(s); }};

    Controller()
    {
        for (RequestText& r : requests.texts)
            r.SetObserver(&controller.Worker().RequestWatcher());
    }
    ~Controller() override
    {
        controller.Stop();
        for (RequestText& r : requests.texts)
            r.SetObserver(nullptr);
    }

    void open() { ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT)); }
    void feed(const std::string& bytes)
    {
        controller.OnPortData(static_cast<int>(bytes.size()), bytes.data());
    }
};

} // namespace

TEST_F(Controller, ButtonsNeedTheOpenPort)
{
    controller.OnJobButton(kJobWrite);
    controller.OnJobButton(kJobRead);
    controller.OnClearButton(kJobClearMeter);
    controller.OnReloadButton();
    EXPECT_EQ(view.Messages(), std::vector<std::string>(4, configtext::kOpenPortFirst));
    EXPECT_EQ(controller.JobState(), kJobIdle);
    EXPECT_EQ(controller.JobCode(), kJobNone);
    EXPECT_TRUE(view.Modes().empty());
    EXPECT_EQ(view.LogCount(), 0u);

    controller.OnTimerTick();
    EXPECT_EQ(pty.receive(50ms), "") << "no 'S' while idle";
}

TEST_F(Controller, JobButtonsStartOnlyFromIdle)
{
    open();
    controller.OnJobButton(kJobWrite);
    EXPECT_EQ(controller.JobState(), kJobRunning);
    EXPECT_EQ(controller.JobCode(), kJobWrite);
    EXPECT_EQ(view.Modes(), std::vector<int>{kControlsBusy});

    // Busy: the job buttons do nothing, the clear buttons say so.
    controller.OnJobButton(kJobRead);
    EXPECT_EQ(controller.JobCode(), kJobWrite);
    EXPECT_TRUE(view.Messages().empty());
    controller.OnClearButton(kJobClearCache);
    controller.OnClearButton(kJobClearMeter);
    EXPECT_EQ(view.Messages(), std::vector<std::string>(2, configtext::kSetFailed));
    EXPECT_EQ(controller.JobCode(), kJobWrite);
    EXPECT_EQ(view.Modes(), std::vector<int>{kControlsBusy});

    // Idle again: a clear button starts its job.
    controller.SetJobState(kJobIdle);
    controller.OnClearButton(kJobClearMeter);
    EXPECT_EQ(controller.JobState(), kJobRunning);
    EXPECT_EQ(controller.JobCode(), kJobClearMeter);
}

TEST_F(Controller, WaitForConfigurationModeAndItsCancel)
{
    open();
    engine.AppendReply(17, "CONFIGURE PROGRAM"); // left over from before
    controller.OnReloadButton();
    EXPECT_EQ(controller.JobState(), kJobWaiting);
    EXPECT_EQ(engine.ReplyLength(), 0) << "an old banner must not start job 1";
    EXPECT_EQ(view.Log(), std::vector<std::string>{configtext::kWaiting});
    EXPECT_EQ(view.Modes(), std::vector<int>{kControlsWaiting});

    controller.OnTimerTick();
    controller.OnTimerTick();
    EXPECT_EQ(pty.receiveExactly(2, 2000ms), "SS");

    controller.OnReloadButton();
    EXPECT_EQ(controller.JobState(), kJobIdle);
    EXPECT_EQ(view.Log().back(), configtext::kWaitCancelled);
    EXPECT_EQ(view.Modes().back(), kControlsIdle);
    controller.OnTimerTick();
    EXPECT_EQ(pty.receive(50ms), "");
}

TEST_F(Controller, BannerSplitOverChunksStartsJobOne)
{
    open();
    controller.OnReloadButton();
    feed("\r\n\r\nWC-3 well controller\r\n*** CONFIGURE PRO");
    EXPECT_EQ(controller.JobState(), kJobWaiting);
    feed("");
    EXPECT_EQ(controller.JobState(), kJobWaiting);
    feed("GRAM ***\r\n");
    EXPECT_EQ(controller.JobState(), kJobRunning);
    EXPECT_EQ(controller.JobCode(), kJobConnectAndRead);
    EXPECT_EQ(view.Log(), (std::vector<std::string>{configtext::kWaiting, configtext::kConfigModeEntered,
                                                    configtext::kLoadingParams}));
    EXPECT_EQ(view.Modes(), (std::vector<int>{kControlsWaiting, kControlsWaiting}));
    EXPECT_EQ(engine.ReplyLength(), 0) << "the banner text is gone before job 1 starts";

    // Running: chunks go to the engine, not to the banner search.
    feed("CONFIGURE PROGRAM");
    EXPECT_EQ(engine.GetReplyText(), "CONFIGURE PROGRAM");
    EXPECT_EQ(view.LogCount(), 3u);
}

TEST_F(Controller, BytesWhileIdleReachNothing)
{
    open();
    feed("CONFIGURE PROGRAM\r\nOK\r\n");
    EXPECT_EQ(engine.ReplyLength(), 0);
    EXPECT_EQ(controller.JobState(), kJobIdle);
    EXPECT_EQ(view.LogCount(), 0u);
}

TEST_F(Controller, ReloadDuringAJobWaitsAgain)
{
    open();
    controller.OnJobButton(kJobRead);
    controller.OnReloadButton();
    EXPECT_EQ(controller.JobState(), kJobWaiting);
    EXPECT_EQ(view.Log(), std::vector<std::string>{configtext::kWaiting});
    feed("\r\nOK\r\n");
    EXPECT_EQ(engine.GetReplyText(), "\r\nOK\r\n") << "kept for the banner search";
    EXPECT_EQ(engine.ReplyResult(), kReplyNone) << "and never recognised as a reply";
}

TEST_F(Controller, WorkerRunsRequestsInTheirOrderWithoutDisablingTheButtons)
{
    std::mutex m;
    std::vector<std::pair<int, std::string>> started;
    controller.Worker().SetJobStarted([&](int code, const std::string& request) {
        std::lock_guard<std::mutex> lock(m);
        started.emplace_back(code, request);
    });
    auto startedCopy = [&] {
        std::lock_guard<std::mutex> lock(m);
        return started;
    };
    // Both pending before the worker looks.
    requests.lookup(RequestSlot::Counter2)->Set("?");
    requests.lookup(RequestSlot::Clock)->Set("2026/12/08,13:05:09,2");
    controller.Start();
    EXPECT_EQ(engine.ReportHandler(), &ReportReplyHandler) << "its engine parses the report";
    ASSERT_TRUE(WaitUntil([&] { return controller.Worker().JobsRun() == 2; }, kDeadline));
    ASSERT_TRUE(WaitUntil([&] { return controller.JobState() == kJobIdle; }, kDeadline));
    EXPECT_EQ(startedCopy(), (std::vector<std::pair<int, std::string>>{
                                 {kJobClock, "2026/12/08,13:05:09,2"}, {kJobCounter0 + 2, "?"}}));
    EXPECT_TRUE(requests.lookup(RequestSlot::Clock)->Empty());
    EXPECT_TRUE(requests.lookup(RequestSlot::Counter2)->Empty());
    EXPECT_EQ(view.Modes(), (std::vector<int>{kControlsIdle, kControlsIdle}))
        << "requests never disable the buttons";

    // Every slot maps to its job. (The count is taken before the request:
    // the worker wakes for it at once and may have run it before the next line.)
    for (RequestSlot slot : kRequestPollOrder) {
        const int before = controller.Worker().JobsRun();
        requests.lookup(slot)->Set("=1");
        ASSERT_TRUE(WaitUntil([&] { return controller.Worker().JobsRun() == before + 1; }, kDeadline));
        EXPECT_EQ(startedCopy().back().first, RequestJobCode(slot));
        EXPECT_TRUE(requests.lookup(slot)->Empty());
    }

    // A request taken while the page waits for configuration mode ends the
    // wait like any job.
    open();
    controller.OnReloadButton();
    ASSERT_EQ(controller.JobState(), kJobWaiting);
    requests.lookup(RequestSlot::Serial3)->Set("?");
    ASSERT_TRUE(clock.awaitWait(1)); // the read goes out and finds no controller
    clock.advance(1000);
    ASSERT_TRUE(clock.awaitWait(2)); // nor any late answer
    clock.advance(CommandEngine::kLateWindowMs);
    ASSERT_TRUE(WaitUntil([&] { return controller.JobState() == kJobIdle; }, kDeadline));
    EXPECT_EQ(startedCopy().back().first, kJobSerial0 + 3);
    controller.Stop();
}

TEST_F(Controller, RequestsSetWhileAJobRunsAreTakenRightAfterItInTheirOrder)
{
    std::mutex m;
    std::vector<int> started;
    std::vector<int> sleepsAtStart; // the worker's sleeps as each job started
    Event jobHeld, release;
    controller.Worker().SetJobStarted([&](int code, const std::string&) {
        {
            std::lock_guard<std::mutex> lock(m);
            started.push_back(code);
            sleepsAtStart.push_back(controller.Worker().Sleeps());
        }
        if (code == kJobVersion) { // the job that runs while the requests come
            jobHeld.set();
            release.wait();
        }
    });
    controller.Start();
    {
        auto lock = controller.Jobs().Transition();
        controller.Jobs().StartLocked(kJobVersion);
    }
    ASSERT_TRUE(jobHeld.waitFor(kDeadline));
    const int sleeps = controller.Worker().Sleeps();
    // Every request, the last in the order first.
    for (auto slot = std::rbegin(kRequestPollOrder); slot != std::rend(kRequestPollOrder); ++slot)
        requests.lookup(*slot)->Set("?");
    release.set();
    const int all = 1 + static_cast<int>(std::size(kRequestPollOrder));
    ASSERT_TRUE(WaitUntil([&] { return controller.Worker().JobsRun() == all; }, kDeadline));
    std::vector<int> expected{kJobVersion};
    for (RequestSlot slot : kRequestPollOrder)
        expected.push_back(RequestJobCode(slot));
    controller.Stop(); // joined: what it recorded is ours to read
    EXPECT_EQ(started, expected);
    // Taken one after the other without the worker sleeping in between.
    EXPECT_EQ(sleepsAtStart, std::vector<int>(expected.size(), sleeps));
}

TEST_F(Controller, ButtonJobStartsAtOnceAndEndsIdle)
{
    open();
    controller.Start();
    const std::pair<int, const char*> jobs[] = {
        {kJobVersion, "AT+VER\r\n"}, {kJobSignal, "AT+CSQ\r\n"},
        {kJobFactory, "AT+FACTORY\r\n"}, {kJobRestart, "AT+RESET\r\n"}};
    std::string lines;
    for (const auto& [code, line] : jobs) {
        lines += line;
        const int before = controller.Worker().JobsRun();
        const int waits = clock.waitsBegun();
        controller.OnJobButton(code);
        // No controller answers: the reply wait and the late window after
        // it run out.
        for (int n = waits + 1; controller.Worker().JobsRun() == before; ++n) {
            ASSERT_TRUE(WaitUntil([&] {
                return clock.waitsBegun() >= n || controller.Worker().JobsRun() > before;
            }, kDeadline));
            clock.advance(5000);
        }
        ASSERT_TRUE(WaitUntil([&] { return controller.JobState() == kJobIdle; }, kDeadline));
        EXPECT_EQ(controller.JobCode(), kJobNone);
        EXPECT_EQ(view.Log().back(), line) << "only the command: no answer came";
    }
    EXPECT_EQ(pty.receiveExactly(lines.size(), 20000ms), lines);
    controller.Stop();
    EXPECT_FALSE(controller.Worker().IsRunning());
}

TEST_F(Controller, ConfigureFromFileChecksBeforeItParses)
{
    open();
    struct Case {
        const char* what;
        int state;          // job state when the button is pressed
        bool downloading;   // the download page holds the line
        const char* logged; // the refusal, or nullptr when job 18 starts
    };
    const Case cases[] = {
        {"a page-request job runs", kJobRunning, false, configtext::kBusyRefused},
        {"waiting for configuration mode", kJobWaiting, false, configtext::kBusyRefused},
        {"a download holds the line", kJobIdle, true, configtext::kDownloadActive},
        {"idle", kJobIdle, false, nullptr},
    };
    bool downloading = false;
    controller.SetLineCheck([&] { return downloading; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            auto lock = controller.Jobs().Transition();
            if (c.state == kJobRunning)
                controller.Jobs().StartLocked(kJobClock);
            else
                controller.Jobs().SetStateLocked(c.state);
        }
        downloading = c.downloading;
        const std::size_t logBefore = view.LogCount();
        int parses = 0;
        const bool started = controller.OnConfigureFromFile([&](ParamTable&) {
            ++parses;
            return true;
        });
        EXPECT_EQ(started, c.logged == nullptr);
        EXPECT_EQ(parses, c.logged == nullptr ? 1 : 0) << "the file is read only after the check";
        if (c.logged != nullptr) {
            EXPECT_EQ(view.LogCount(), logBefore + 1);
            EXPECT_EQ(view.Log().back(), c.logged);
            EXPECT_EQ(controller.JobState(), c.state);
        } else {
            EXPECT_EQ(controller.JobState(), kJobRunning);
            EXPECT_EQ(controller.JobCode(), kJobApplyLoaded);
        }
        controller.SetJobState(kJobIdle);
    }
    // A file that does not parse starts nothing.
    EXPECT_FALSE(controller.OnConfigureFromFile([](ParamTable&) { return false; }));
    EXPECT_EQ(controller.JobState(), kJobIdle);
}

TEST_F(Controller, WhileADownloadHoldsTheLineButtonsAndRequestsAreRefused)
{
    open();
    std::atomic<bool> downloading{true};
    controller.SetLineCheck([&] { return downloading.load(); });
    controller.OnJobButton(kJobWrite);
    controller.OnClearButton(kJobClearCache);
    controller.OnReloadButton();
    EXPECT_EQ(view.Log(), std::vector<std::string>(3, configtext::kDownloadActive));
    EXPECT_TRUE(view.Messages().empty());
    EXPECT_TRUE(view.Modes().empty());
    EXPECT_EQ(controller.JobState(), kJobIdle);

    // A page request is dropped, not kept for after the download.
    controller.Worker().SetJobStarted([](int, const std::string&) { ADD_FAILURE() << "a job started"; });
    controller.Start();
    requests.lookup(RequestSlot::Counter1)->Set("=5");
    ASSERT_TRUE(WaitUntil([&] { return requests.lookup(RequestSlot::Counter1)->Empty(); }, kDeadline));
    ASSERT_TRUE(WaitUntil([&] { return view.LogCount() == 4; }, kDeadline));
    EXPECT_EQ(view.Log().back(), configtext::kDownloadActive);
    EXPECT_EQ(controller.Worker().JobsRun(), 0);
    EXPECT_EQ(controller.JobState(), kJobIdle);
    controller.Stop();

    // The download over, the same button starts its job.
    downloading.store(false);
    controller.OnJobButton(kJobWrite);
    EXPECT_EQ(controller.JobCode(), kJobWrite);
}

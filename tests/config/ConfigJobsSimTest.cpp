// The configuration jobs against the simulated controller over a
// pseudo-terminal: the wait for configuration mode and job 1, the write of
// edited values, failures, a vanishing port and a reload during job 1. The
// page is a window-less view; a thread stands in for timer 111. Reply
// time-outs run on a clock the test advances, so a slow machine never turns
// an answer into a time-out.
#include "config/ConfigController.h"
#include "config/ConfigTexts.h"
#include "sim/Simulator.h"
#include "tests/config/FakeConfigView.h"
#include "tests/support/EngineRig.h"
#include "tests/support/PtyPair.h"

#include "tests/config/ConfigSimRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

// Queues job 18 after `load` has put a file's values into the table it is
// given (the engine's), as the page's "从文件配置" does after its parse.
bool StartApplyLoaded(ConfigController& controller, const std::function<void(ParamTable& values)>& load = {})
{
    return controller.OnConfigureFromFile([&](ParamTable& values) {
        if (load)
            load(values);
        return true;
    });
}

constexpr int kModemId = 0;     // AT+IDNT=
constexpr int kApn = 19;        // AT+APN=
constexpr int kHeartTime = 23;  // AT+HRTTIME=
constexpr int kWater1 = 30;     // AT+WTRCHNNL01=
constexpr int kLockCard = 127;  // AT+LOCKUSERCARD=
constexpr int kControlNo = 8;   // AT+CTRLNO=, no control

constexpr auto kDeadline = 60s; // far beyond what a busy machine needs



class ConfigWithSimulator : public ::testing::Test {
protected:
    sim::Simulator device{ConfigDeviceOptions()};
    CSerial port;
    ScaledClock pauseClock{1000.0}; // the 1000 ms pause after a reply -> 1 ms
    ManualClock waitClock;          // reply time-outs end when the test says
    CommandEngine engine{port, waitClock, &pauseClock};
    FakeConfigView view{engine.Values()};
    std::unique_ptr<ConfigController> controller;
    ReceiveDispatcher dispatcher{port};
    std::atomic<bool> tickerStop{false};
    std::thread ticker;

    std::mutex trafficMutex;
    std::string received; // every byte the device got

    void start()
    {
        device.SetObserver([this](sim::Traffic kind, const std::string& bytes) {
            if (kind == sim::Traffic::Received) {
                std::lock_guard<std::mutex> lock(trafficMutex);
                received += bytes;
            }
        });
        ASSERT_TRUE(device.Start());
        ASSERT_TRUE(port.OpenPort(device.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT));
        controller = std::make_unique<ConfigController>(view, port, engine, RequestLookup{});
        controller->Start();
        dispatcher.SetConfigReceiver(controller.get());
        dispatcher.Start();
        ticker = std::thread([this] {
            while (!tickerStop.load()) {
                controller->OnTimerTick();
                std::this_thread::sleep_for(50ms); // the timer's period, not a synchronisation
            }
        });
    }

    void TearDown() override
    {
        tickerStop.store(true);
        if (ticker.joinable())
            ticker.join();
        dispatcher.Stop();
        if (controller)
            controller->Stop();
        port.ClosePort();
        device.Stop();
    }

    std::string receivedBytes()
    {
        std::lock_guard<std::mutex> lock(trafficMutex);
        return received;
    }

    bool waitJobs(int count, std::chrono::milliseconds timeout = kDeadline)
    {
        return WaitUntil([&] {
            return controller->Worker().JobsRun() >= count && controller->JobState() == kJobIdle;
        }, timeout);
    }

    // Reload, power-up, job 1 to its end.
    void readBack()
    {
        controller->OnReloadButton();
        device.PowerOn();
        ASSERT_TRUE(waitJobs(controller->Worker().JobsRun() + 1));
        ASSERT_EQ(view.Log().back(), configtext::kLoadOk);
    }

    // Presses "保存参数" and waits for the job; the device's commands and the
    // log lines that the save added.
    struct Save {
        std::vector<std::string> commands;
        std::vector<std::string> log;
    };
    // Runs the n-th wait on the engine's clock (a reply's time-out, or the
    // late window after one) to its end.
    void timeOutWait(int n, int ms)
    {
        ASSERT_TRUE(waitClock.awaitWait(n));
        waitClock.advance(ms);
    }

    Save save()
    {
        device.ClearCommandLog();
        const std::size_t logFrom = view.LogCount();
        const int jobs = controller->Worker().JobsRun();
        controller->OnJobButton(kJobWrite);
        EXPECT_TRUE(waitJobs(jobs + 1));
        std::vector<std::string> log = view.Log();
        return Save{device.ReceivedCommands(), std::vector<std::string>(log.begin() + static_cast<long>(logFrom), log.end())};
    }
};

} // namespace

TEST_F(ConfigWithSimulator, ReloadPowerUpAndJobOneShowEveryValue)
{
    start();
    controller->OnReloadButton();
    EXPECT_EQ(controller->JobState(), kJobWaiting);
    // The 'S' stream reaches the switched-off device.
    ASSERT_TRUE(WaitUntil([&] { return receivedBytes().size() >= 3; }, kDeadline));
    EXPECT_EQ(receivedBytes().find_first_not_of('S'), std::string::npos);

    device.PowerOn();
    ASSERT_TRUE(waitJobs(1));

    const std::vector<std::string> log = view.Log();
    ASSERT_EQ(log.size(), 8u) << view.LogText();
    EXPECT_EQ(log[0], configtext::kWaiting);
    EXPECT_EQ(log[1], configtext::kConfigModeEntered);
    EXPECT_EQ(log[2], configtext::kLoadingParams);
    EXPECT_EQ(log[3], "AT\r\n");
    EXPECT_NE(log[4].find("\r\nOK\r\n"), std::string::npos);
    EXPECT_EQ(log[5], "AT+SHOW\r\n");
    EXPECT_GT(log[6].size(), 1024u);
    EXPECT_NE(log[6].find("Modem's ID number:"), std::string::npos);
    EXPECT_EQ(log[7], configtext::kLoadOk);
    EXPECT_EQ(view.Modes(), (std::vector<int>{kControlsWaiting, kControlsWaiting, kControlsIdle}));
    EXPECT_EQ(device.ReceivedCommands(), (std::vector<std::string>{"AT", "AT+SHOW"}));

    for (int id = 0; id <= 144; ++id) {
        const std::string deviceValue = device.Param(id).value_or("?");
        EXPECT_EQ(engine.Values().Get(id).value_or("<none>"), deviceValue) << "table, id " << id;
        const bool noControl = std::find(std::begin(kNoControlIds), std::end(kNoControlIds), id) !=
                               std::end(kNoControlIds);
        EXPECT_EQ(view.Shown(id), noControl ? "" : deviceValue) << "page, id " << id;
    }

    // A second read-back touches no control: all of them show the table.
    const int setsBefore = view.SetCalls();
    controller->OnJobButton(kJobRead);
    ASSERT_TRUE(waitJobs(2));
    EXPECT_EQ(view.Log().back(), configtext::kLoadOk);
    EXPECT_EQ(view.SetCalls() - setsBefore, static_cast<int>(std::size(kNoControlIds)))
        << "only the parameters without a control are offered again";
}

TEST_F(ConfigWithSimulator, SaveSendsExactlyTheEditedValueAndASecondSaveNothing)
{
    start();
    readBack();
    Save nothing = save();
    EXPECT_TRUE(nothing.commands.empty()) << "a save right after the read-back sends nothing";
    EXPECT_TRUE(nothing.log.empty());

    view.Edit(kHeartTime, "77");
    Save one = save();
    EXPECT_EQ(one.commands, std::vector<std::string>{"AT+HRTTIME=77"});
    EXPECT_EQ(one.log, (std::vector<std::string>{"AT+HRTTIME=77\r\n", configtext::kSetOk}));
    EXPECT_EQ(device.Param(kHeartTime), "77");
    EXPECT_EQ(engine.Values().Get(kHeartTime), "77");
    const std::vector<int> modes = view.Modes();
    EXPECT_EQ(std::vector<int>(modes.end() - 2, modes.end()), (std::vector<int>{kControlsBusy, kControlsIdle}));

    Save again = save();
    EXPECT_TRUE(again.commands.empty());
    EXPECT_TRUE(again.log.empty());
}

TEST_F(ConfigWithSimulator, RejectedValueIsLoggedTheRestStillSentAndTriedAgainByTheNextSave)
{
    start();
    readBack();
    device.UpdateFaults([](sim::Faults& f) { f.errorFor = {"AT+HRTTIME="}; });
    const std::string oldHeart = device.Param(kHeartTime).value_or("");
    view.Edit(kModemId, "4201239999");
    view.Edit(kHeartTime, "88");
    view.Edit(kLockCard, "1");
    if (device.Param(kLockCard) == "1")
        view.Edit(kLockCard, "0");
    const std::string lock = view.Shown(kLockCard);

    Save first = save();
    EXPECT_EQ(first.commands, (std::vector<std::string>{"AT+IDNT=4201239999", "AT+HRTTIME=88",
                                                        "AT+LOCKUSERCARD=" + lock}));
    EXPECT_EQ(first.log, (std::vector<std::string>{"AT+IDNT=4201239999\r\n", configtext::kSetOk,
                                                   "AT+HRTTIME=88\r\n", configtext::kSetFailed,
                                                   "AT+LOCKUSERCARD=" + lock + "\r\n", configtext::kSetOk}));
    EXPECT_EQ(device.Param(kHeartTime), oldHeart);
    EXPECT_EQ(engine.Values().Get(kHeartTime), oldHeart) << "nothing looks written that was not";
    EXPECT_EQ(engine.Values().Get(kModemId), "4201239999");

    device.UpdateFaults([](sim::Faults& f) { f.errorFor.clear(); });
    Save second = save();
    EXPECT_EQ(second.commands, std::vector<std::string>{"AT+HRTTIME=88"}) << "only the refused value again";
    EXPECT_EQ(second.log.back(), configtext::kSetOk);
    EXPECT_EQ(device.Param(kHeartTime), "88");
    EXPECT_TRUE(save().commands.empty());
}

TEST_F(ConfigWithSimulator, UnansweredValueIsTriedAgainByTheNextSave)
{
    start();
    readBack();
    const std::string oldApn = device.Param(kApn).value_or("");
    device.UpdateFaults([](sim::Faults& f) { f.silent = true; });
    view.Edit(kApn, "cmiot");
    device.ClearCommandLog();
    const int waits = waitClock.waitsBegun();
    const int jobs = controller->Worker().JobsRun();
    controller->OnJobButton(kJobWrite);
    ASSERT_TRUE(WaitUntil([&] { return device.CommandCount() >= 1; }, kDeadline));
    timeOutWait(waits + 1, 1000);
    timeOutWait(waits + 2, CommandEngine::kLateWindowMs); // no late answer either
    ASSERT_TRUE(waitJobs(jobs + 1));
    EXPECT_EQ(view.Log().back(), configtext::kSetFailed);
    EXPECT_EQ(engine.Values().Get(kApn), oldApn);

    // The next save tries it again.
    device.UpdateFaults([](sim::Faults& f) { f.silent = false; });
    device.ClearCommandLog();
    controller->OnJobButton(kJobWrite);
    ASSERT_TRUE(waitJobs(jobs + 2));
    EXPECT_EQ(device.ReceivedCommands(), std::vector<std::string>{"AT+APN=cmiot"});
    EXPECT_EQ(view.Log().back(), configtext::kSetOk);
    EXPECT_EQ(engine.Values().Get(kApn), "cmiot");
}

TEST_F(ConfigWithSimulator, LineBreakInAValueGoesOutAsOneCommandAndNothingElse)
{
    start();
    readBack();
    view.Edit(kApn, "CMIOT\r\nAT+FACTORY\r\n");
    view.Edit(kModemId, "42\rAT+RESET");
    Save first = save();
    EXPECT_EQ(first.commands, (std::vector<std::string>{"AT+IDNT=42", "AT+APN=CMIOT"}));
    EXPECT_EQ(engine.Values().Get(kApn), "CMIOT");
    EXPECT_EQ(device.Param(kApn), "CMIOT");
    EXPECT_TRUE(save().commands.empty());
}

TEST_F(ConfigWithSimulator, OverlongEditGoesOutAsItsFirst99Bytes)
{
    start();
    readBack();
    const std::string typed = std::string(99, 'a') + std::string(21, 'b');
    view.Edit(kApn, typed);
    Save first = save();
    EXPECT_EQ(first.commands, std::vector<std::string>{"AT+APN=" + std::string(99, 'a')});
    EXPECT_EQ(first.log.back(), configtext::kSetOk);
    EXPECT_EQ(device.Param(kApn), std::string(99, 'a'));
    EXPECT_TRUE(save().commands.empty()) << "the same long text is not sent with every save";
}

TEST_F(ConfigWithSimulator, ParametersWithoutAControlOrAReadableValueArePassedOver)
{
    start();
    // Before any read-back the table is empty: nothing a control does not
    // show goes out as an empty value.
    view.RemoveControl(kWater1);
    view.MakeUnreadable(kHeartTime);
    for (int id = 0; id <= 144; ++id)
        if (id != kWater1 && id != kHeartTime)
            view.Edit(id, "");
    Save before = save();
    EXPECT_TRUE(before.commands.empty());
    EXPECT_EQ(before.log, std::vector<std::string>{configtext::kNoValuesLoaded})
        << "before any read-back a save is refused and says so";

    readBack();
    ASSERT_FALSE(engine.Values().Get(kControlNo).value_or("").empty());
    ASSERT_FALSE(engine.Values().Get(kWater1).value_or("").empty());
    view.MakeUnreadable(kModemId);
    view.Edit(kApn, "internet");
    Save after = save();
    EXPECT_EQ(after.commands, std::vector<std::string>{"AT+APN=internet"})
        << "no bare command for the parameters without a control or value";
}

TEST_F(ConfigWithSimulator, LoadedValuesReachThePagesAndTheDevice)
{
    start();
    readBack();
    // As if a configuration file had been parsed into the table: the
    // changed values go out in id order, a parameter without a control too
    // when the file changed it, the others without a control not.
    device.ClearCommandLog();
    const int jobs = controller->Worker().JobsRun();
    ASSERT_TRUE(StartApplyLoaded(*controller, [](ParamTable& values) {
        values.Set(kHeartTime, "45");
        values.Set(kControlNo, "13700000000");
    }));
    ASSERT_TRUE(waitJobs(jobs + 1));
    EXPECT_EQ(view.Shown(kHeartTime), "45");
    const std::vector<std::string> expected{"AT+CTRLNO=13700000000", "AT+HRTTIME=45"};
    EXPECT_EQ(device.ReceivedCommands(), expected);
    EXPECT_EQ(device.Param(kControlNo), "13700000000");
    EXPECT_EQ(device.Param(kHeartTime), "45");
    EXPECT_EQ(view.CountLog(configtext::kSetOk), expected.size());

    // Closed port: the pages still follow the table, every command fails.
    port.ClosePort();
    const int jobs2 = controller->Worker().JobsRun();
    const std::size_t failed = view.CountLog(configtext::kSetFailed);
    ASSERT_TRUE(StartApplyLoaded(*controller, [](ParamTable& values) {
        values.Set(kHeartTime, "46");
        values.Set(kControlNo, "13700000001");
    }));
    ASSERT_TRUE(waitJobs(jobs2 + 1));
    EXPECT_EQ(view.Shown(kHeartTime), "46");
    EXPECT_EQ(view.CountLog(configtext::kSetFailed) - failed, 2u);
}

// A job step reaches the pages in one call, however many parameters it
// carries: the worker waits for the interface thread once, not per value.
TEST_F(ConfigWithSimulator, EachJobStepCrossesIntoThePagesOnce)
{
    start();
    struct Step {
        const char* name;
        std::function<void()> run;
        int gets, sets;
    };
    const auto job = [this](int code) {
        return [this, code] {
            const int jobs = controller->Worker().JobsRun();
            controller->OnJobButton(code);
            ASSERT_TRUE(waitJobs(jobs + 1));
        };
    };
    const Step steps[] = {
        {"job 1", [this] { readBack(); }, 0, 1},
        {"save of two edits", [this] {
             view.Edit(kHeartTime, "77");
             view.Edit(kApn, "cmiot");
             EXPECT_EQ(save().commands, (std::vector<std::string>{"AT+APN=cmiot", "AT+HRTTIME=77"}));
         }, 1, 0},
        {"save without edits", job(kJobWrite), 1, 0},
        {"file applied", [this] {
             engine.Values().Set(kHeartTime, "45");
             const int jobs = controller->Worker().JobsRun();
             ASSERT_TRUE(StartApplyLoaded(*controller));
             ASSERT_TRUE(waitJobs(jobs + 1));
             EXPECT_EQ(view.Shown(kHeartTime), "45");
         }, 1, 1},
        {"file applied again, nothing differs on a page", [this] {
             for (int id : kNoControlIds)
                 engine.Values().Set(id, "");
             const int jobs = controller->Worker().JobsRun();
             ASSERT_TRUE(StartApplyLoaded(*controller));
             ASSERT_TRUE(waitJobs(jobs + 1));
         }, 1, 0},
        {"job 3", job(kJobRead), 0, 1},
    };
    for (const Step& step : steps) {
        const int gets = view.GetCrossings();
        const int sets = view.SetCrossings();
        step.run();
        EXPECT_EQ(view.GetCrossings() - gets, step.gets) << step.name;
        EXPECT_EQ(view.SetCrossings() - sets, step.sets) << step.name;
    }
}

// The window goes while the worker still runs jobs: nothing goes out that no
// page gave, and the pages count as out of line with the table after a job
// that could not show its values.
TEST_F(ConfigWithSimulator, JobsOfAClosedWindowSendNoPageValue)
{
    start();
    readBack();
    view.Edit(kApn, "cmiot");
    engine.Values().Set(kHeartTime, "45"); // as if a file had been read
    view.Close();
    struct Case {
        const char* name;
        std::function<void()> start;
        std::vector<std::string> commands;
        bool valuesGiven;
    };
    const Case cases[] = {
        {"save", [this] { controller->OnJobButton(kJobWrite); }, {}, true},
        {"file applied", [this] { ASSERT_TRUE(StartApplyLoaded(*controller)); }, {}, false},
        {"read-back", [this] { controller->OnJobButton(kJobRead); }, {"AT+SHOW"}, false},
    };
    for (const Case& c : cases) {
        controller->Worker().SetValuesGiven(true);
        device.ClearCommandLog();
        const int jobs = controller->Worker().JobsRun();
        c.start();
        ASSERT_TRUE(waitJobs(jobs + 1)) << c.name;
        EXPECT_EQ(device.ReceivedCommands(), c.commands) << c.name;
        EXPECT_EQ(controller->Worker().ValuesGiven(), c.valuesGiven) << c.name;
    }
}

TEST_F(ConfigWithSimulator, PortClosedDuringAJobFailsTheRestAtOnce)
{
    start();
    readBack();
    device.UpdateFaults([](sim::Faults& f) { f.silent = true; });
    std::map<int, std::string> before;
    for (int id : {kModemId, kApn, kHeartTime, kWater1, kLockCard}) {
        before[id] = engine.Values().Get(id).value_or("");
        view.Edit(id, "9");
    }
    device.ClearCommandLog();
    const std::size_t logFrom = view.LogCount();
    const int jobs = controller->Worker().JobsRun();
    controller->OnJobButton(kJobWrite);
    ASSERT_TRUE(WaitUntil([&] { return device.CommandCount() >= 1; }, kDeadline));

    // What the main window does when the user closes the port.
    port.ClosePort();
    controller->SetControlState(kControlsIdle);
    controller->SetJobState(kJobIdle);
    EXPECT_EQ(controller->JobState(), kJobIdle);

    // The closed line ends the wait of the command on it at once, the job
    // says the port is gone and sends nothing more: the clock never moves.
    ASSERT_TRUE(WaitUntil([&] { return controller->Worker().JobsRun() == jobs + 1; }, kDeadline));
    EXPECT_EQ(device.CommandCount(), 1u);
    const std::vector<std::string> log = view.Log();
    const std::vector<std::string> jobLog(log.begin() + static_cast<long>(logFrom), log.end());
    ASSERT_EQ(jobLog.size(), 3u);
    EXPECT_EQ(jobLog[1], configtext::kSetFailed);
    EXPECT_EQ(jobLog[2], configtext::kLineGone);
    EXPECT_EQ(controller->Worker().LastResult().commands.back().status, CommandStatus::LineLost);
    EXPECT_EQ(controller->JobState(), kJobIdle);
    const std::vector<int> modes = view.Modes();
    EXPECT_EQ(std::vector<int>(modes.end() - 3, modes.end()),
              (std::vector<int>{kControlsBusy, kControlsIdle, kControlsIdle}))
        << "idle when the port closed, and again when the job ended";
    for (int id : {kModemId, kApn, kHeartTime, kWater1, kLockCard})
        EXPECT_EQ(engine.Values().Get(id), before[id]) << "no value that failed stays in the table, id " << id;
}

TEST_F(ConfigWithSimulator, ReloadDuringJobOneWaitsAgainAndTheJobEndsByItsTimeouts)
{
    start();
    // The device answers nothing while the test runs (the banner is no answer).
    device.UpdateFaults([](sim::Faults& f) { f.replyDelayMs = 600000; });
    controller->OnReloadButton();
    device.PowerOn();
    ASSERT_TRUE(WaitUntil([&] { return device.CommandCount() >= 1; }, kDeadline));
    ASSERT_EQ(controller->JobState(), kJobRunning);

    controller->OnReloadButton();
    EXPECT_EQ(controller->JobState(), kJobWaiting);
    EXPECT_EQ(view.Log().back(), configtext::kWaiting);

    // Each attempt runs into its time-out and then its late window:
    // whatever wait begins next runs out.
    int seen = 0; // no wait before the first attempt's
    for (int step = 0; step < 100 && controller->Worker().JobsRun() < 1; ++step) {
        ASSERT_TRUE(WaitUntil([&] {
            return waitClock.waitsBegun() > seen || controller->Worker().JobsRun() >= 1;
        }, kDeadline));
        seen = waitClock.waitsBegun();
        waitClock.advance(5000);
    }
    ASSERT_TRUE(waitJobs(1));
    EXPECT_EQ(view.CountLog("AT\r\n"), 10u) << "every attempt ran into its time-out";
    EXPECT_EQ(view.CountLog(configtext::kLoadOk), 0u);
    EXPECT_EQ(view.CountLog(configtext::kLoadFailed), 0u);
    EXPECT_EQ(view.Modes().back(), kControlsIdle);
    for (const std::string& command : device.ReceivedCommands())
        EXPECT_EQ(command, "AT");
    EXPECT_EQ(receivedBytes().find("AT+SHOW"), std::string::npos);
}

TEST_F(ConfigWithSimulator, RefusedReportEndsTheReadBackWithItsFailureLine)
{
    start();
    readBack();
    device.UpdateFaults([](sim::Faults& f) { f.errorFor = {"AT+SHOW"}; });
    view.Edit(kHeartTime, "1");
    device.ClearCommandLog();
    controller->OnJobButton(kJobRead);
    ASSERT_TRUE(waitJobs(2));
    EXPECT_EQ(device.ReceivedCommands(), std::vector<std::string>(3, "AT+SHOW"));
    EXPECT_EQ(view.Log().back(), configtext::kLoadFailed);
    EXPECT_EQ(view.Shown(kHeartTime), "1") << "nothing is shown after a failed read-back";

    // The pages no longer show what the controller holds: a save is refused.
    Save refused = save();
    EXPECT_TRUE(refused.commands.empty());
    EXPECT_EQ(refused.log, std::vector<std::string>{configtext::kNoValuesLoaded});

    // A read-back that succeeds lets the next edit go out again.
    device.UpdateFaults([](sim::Faults& f) { f.errorFor.clear(); });
    controller->OnJobButton(kJobRead);
    ASSERT_TRUE(waitJobs(4));
    ASSERT_EQ(view.Log().back(), configtext::kLoadOk);
    view.Edit(kHeartTime, "33");
    EXPECT_EQ(save().commands, std::vector<std::string>{"AT+HRTTIME=33"});
}

TEST_F(ConfigWithSimulator, StopEndsAJobThatWaitsForASilentDevice)
{
    start();
    readBack();
    device.UpdateFaults([](sim::Faults& f) { f.silent = true; });
    device.ClearCommandLog();
    controller->OnJobButton(kJobRead);
    ASSERT_TRUE(WaitUntil([&] { return device.CommandCount() >= 1; }, kDeadline));
    ASSERT_TRUE(waitClock.awaitWaiting(1));
    // The clock stands still: only the stop can end the wait.
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        controller->Stop();
        stopped.store(true);
    });
    const bool endedByStop = WaitUntil([&] { return stopped.load(); }, kDeadline);
    if (!endedByStop)
        waitClock.advance(1000000); // release it so that the test ends
    stopper.join();
    EXPECT_TRUE(endedByStop) << "the 5000 ms wait is cut short";
    EXPECT_FALSE(controller->Worker().IsRunning());
}

// A controller whose report is too short to be a parameter set.
TEST(ConfigShortReport, CountsAsAFailedAttemptAndShowsNothing)
{
    PtyPair pty;
    ManualClock waitClock; // an answered command never waits for its time-out
    ScaledClock pauseClock{1000.0};
    EngineRig rig{waitClock, &pauseClock};
    FakeConfigView view{rig.engine.Values()};
    ConfigController controller{view, rig.port, rig.engine, RequestLookup{}};
    controller.Start();
    ASSERT_TRUE(rig.Attach(pty.slavePath(), &controller));

    std::atomic<int> shows{0};
    std::atomic<int> others{0};
    ScriptedController device(pty);
    device.Start([&](const std::string& line) {
        if (line == "AT+SHOW\r\n") {
            ++shows;
            return std::vector<std::string>{"\r\nHeart time:   60\r\n\r\nOK\r\n"};
        }
        ++others;
        return std::vector<std::string>{"\r\nOK\r\n"};
    });
    view.Edit(kHeartTime, "5");
    controller.OnJobButton(kJobRead);
    EXPECT_TRUE(WaitUntil([&] { return controller.Worker().JobsRun() == 1; }, kDeadline));
    // The table holds the controller's 60, the page the 5 of before: a save
    // would write the 5 that nobody gave for this controller.
    controller.OnJobButton(kJobWrite);
    EXPECT_TRUE(WaitUntil([&] { return controller.Worker().JobsRun() == 2; }, kDeadline));
    EXPECT_EQ(view.Log().back(), configtext::kNoValuesLoaded);
    device.Stop();
    rig.Detach();
    controller.Stop();
    EXPECT_EQ(shows.load(), 3);
    EXPECT_EQ(others.load(), 0) << "nothing but the read-back went out";
    EXPECT_EQ(view.CountLog(configtext::kLoadFailed), 1u);
    EXPECT_EQ(rig.engine.Values().Get(kHeartTime), "60") << "what the failed attempts parsed stays in the table";
    EXPECT_EQ(view.Shown(kHeartTime), "5");
}

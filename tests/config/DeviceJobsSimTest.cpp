// The jobs that act on the controller at once, against the simulated
// controller: the six maintenance commands over OK, ERROR and silence, the
// initial values, the clock, and the note for a request that waits behind
// a job. Reply time-outs run on a clock the test advances.
#include "config/ConfigController.h"
#include "config/ConfigTexts.h"
#include "pages/ClockRequest.h"
#include "sim/ControllerModel.h"
#include "sim/Simulator.h"
#include "tests/config/ConfigSimRig.h"
#include "tests/config/FakeConfigView.h"
#include "tests/support/EngineRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <memory>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 60s;

class DeviceJobs : public ::testing::Test {
protected:
    sim::Simulator device{ConfigDeviceOptions()};
    CSerial port;
    ScaledClock pauseClock{1000.0}; // the 1000 ms pause after a reply -> 1 ms
    ManualClock waitClock;          // reply time-outs end when the test says
    CommandEngine engine{port, waitClock, &pauseClock};
    FakeConfigView view{engine.Values()};
    RequestText requests[kRequestSlotCount];
    std::unique_ptr<ConfigController> controller;
    ReceiveDispatcher dispatcher{port};
    std::atomic<int> withheld{0}; // answers the silent device did not send

    void SetUp() override
    {
        device.SetObserver([this](sim::Traffic kind, const std::string& text) {
            if (kind == sim::Traffic::Event && text.rfind("silent:", 0) == 0)
                ++withheld;
        });
        ASSERT_TRUE(device.Start());
        ASSERT_TRUE(port.OpenPort(device.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT));
        controller = std::make_unique<ConfigController>(
            view, port, engine, [this](RequestSlot s) { return &requests[static_cast<int>(s)]; });
        for (RequestText& r : requests)
            r.SetObserver(&controller->Worker().RequestWatcher());
        controller->Start();
        dispatcher.SetConfigReceiver(controller.get());
        dispatcher.Start();
        // Into configuration mode and job 1; the test stands in for timer 111.
        controller->OnReloadButton();
        device.PowerOn();
        ASSERT_TRUE(WaitUntil([&] {
            controller->OnTimerTick();
            return controller->Worker().JobsRun() >= 1;
        }, kDeadline));
        ASSERT_TRUE(waitJobs(1));
        ASSERT_EQ(view.Log().back(), configtext::kLoadOk);
        device.ClearCommandLog();
    }

    void TearDown() override
    {
        dispatcher.Stop();
        controller->Stop();
        for (RequestText& r : requests)
            r.SetObserver(nullptr);
        port.ClosePort();
        device.Stop();
    }

    RequestText& request(RequestSlot slot) { return requests[static_cast<int>(slot)]; }

    bool waitJobs(int count)
    {
        return WaitUntil([&] {
            return controller->Worker().JobsRun() >= count && controller->JobState() == kJobIdle;
        }, kDeadline);
    }

    void runOutWait(int n, int ms)
    {
        ASSERT_TRUE(waitClock.awaitWait(n));
        waitClock.advance(ms);
    }

    // The log lines, box texts and commands of one job.
    struct Run {
        std::vector<std::string> log, messages, commands;
    };
    Run run(const std::function<void()>& start, bool silent = false)
    {
        device.ClearCommandLog();
        const std::size_t logFrom = view.LogCount();
        const std::size_t boxFrom = view.Messages().size();
        const int jobs = controller->Worker().JobsRun();
        int n = waitClock.waitsBegun();
        const int withheldBefore = withheld.load();
        start();
        // A silent controller: once it has withheld its answer (so that the
        // answer cannot go out after the test turned answers on again), the
        // reply wait and the late window after it run out.
        if (silent) {
            EXPECT_TRUE(WaitUntil([&] { return withheld.load() > withheldBefore; }, kDeadline));
            runOutWait(++n, 5000);
            runOutWait(++n, CommandEngine::kLateWindowMs);
        }
        EXPECT_TRUE(waitJobs(jobs + 1));
        const std::vector<std::string> log = view.Log();
        const std::vector<std::string> boxes = view.Messages();
        return Run{{log.begin() + static_cast<long>(logFrom), log.end()},
                   {boxes.begin() + static_cast<long>(boxFrom), boxes.end()},
                   device.ReceivedCommands()};
    }
    Run ask(RequestSlot slot, const std::string& text, bool silent = false)
    {
        return run([&] { request(slot).Set(text); }, silent);
    }
};

using Lines = std::vector<std::string>;

} // namespace

// Each maintenance job over the error reply, silence and OK (the restart
// last: the controller leaves configuration mode after it).
TEST_F(DeviceJobs, MaintenanceJobsLogTheAnswerAndReportTheOutcome)
{
    const std::string ver = sim::ControllerModel::VersionText() + std::string("\r\nOK\r\n");
    const std::string csq = sim::ControllerModel::SignalText() + std::string("\r\nOK\r\n");
    enum Answer { Error, Silent, Ok };
    struct Case {
        int code;
        const char* command;
        Answer answer;
        Lines log;      // after the command line; "<report>" stands for the AT+SHOW report
        Lines messages;
        const char* question;
    } cases[] = {
        {kJobVersion, "AT+VER", Error, {"\r\nERROR\r\n"}, {}, nullptr},
        {kJobVersion, "AT+VER", Silent, {}, {}, nullptr},
        {kJobVersion, "AT+VER", Ok, {ver}, {}, nullptr},
        {kJobSignal, "AT+CSQ", Error, {"\r\nERROR\r\n"}, {}, nullptr},
        {kJobSignal, "AT+CSQ", Silent, {}, {}, nullptr},
        {kJobSignal, "AT+CSQ", Ok, {csq}, {}, nullptr},
        {kJobFactory, "AT+FACTORY", Error, {"\r\nERROR\r\n"}, {}, configtext::kAskFactory},
        {kJobFactory, "AT+FACTORY", Silent, {}, {}, configtext::kAskFactory},
        {kJobFactory, "AT+FACTORY", Ok, {"\r\nOK\r\n", "AT+SHOW\r\n", "<report>", configtext::kLoadOk}, {},
         configtext::kAskFactory},
        {kJobClearCache, "AT+INITDATAFLASH", Error, {"\r\nERROR\r\n"}, {configtext::kClearCacheFailed},
         configtext::kAskClearCache},
        {kJobClearCache, "AT+INITDATAFLASH", Silent, {}, {configtext::kClearCacheFailed}, configtext::kAskClearCache},
        {kJobClearCache, "AT+INITDATAFLASH", Ok, {"\r\nOK\r\n"}, {configtext::kClearCacheOk}, configtext::kAskClearCache},
        {kJobClearMeter, "AT+INITSENSOR", Error, {"\r\nERROR\r\n"}, {configtext::kClearMeterFailed},
         configtext::kAskClearMeter},
        {kJobClearMeter, "AT+INITSENSOR", Silent, {}, {configtext::kClearMeterFailed}, configtext::kAskClearMeter},
        {kJobClearMeter, "AT+INITSENSOR", Ok, {"\r\nOK\r\n"}, {configtext::kClearMeterOk}, configtext::kAskClearMeter},
        {kJobRestart, "AT+RESET", Error, {"\r\nERROR\r\n"}, {}, configtext::kAskRestart},
        {kJobRestart, "AT+RESET", Silent, {}, {}, configtext::kAskRestart},
        {kJobRestart, "AT+RESET", Ok, {"\r\nOK\r\n", configtext::kRestartNote}, {}, configtext::kAskRestart},
    };
    device.SetParam(23, "77"); // the factory settings bring back another value
    for (const Case& c : cases) {
        const std::string name = std::string(c.command) + " " + std::to_string(c.answer);
        device.UpdateFaults([&](sim::Faults& f) {
            f.silent = c.answer == Silent;
            f.errorFor.clear();
            if (c.answer == Error)
                f.errorFor.push_back(c.command);
        });
        const std::size_t questions = view.Questions().size();
        const bool clear = c.code == kJobClearCache || c.code == kJobClearMeter;
        Run r = run([&] { clear ? controller->OnClearButton(c.code) : controller->OnJobButton(c.code); },
                    c.answer == Silent);
        Lines expected{std::string(c.command) + "\r\n"};
        expected.insert(expected.end(), c.log.begin(), c.log.end());
        ASSERT_EQ(r.log.size(), expected.size()) << name << "\n" << view.LogText();
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (expected[i] == "<report>")
                EXPECT_NE(r.log[i].find("Heart time:"), std::string::npos) << name;
            else
                EXPECT_EQ(r.log[i], expected[i]) << name << " line " << i;
        }
        EXPECT_EQ(r.messages, c.messages) << name;
        Lines commands{c.command};
        if (c.code == kJobFactory && c.answer == Ok)
            commands.push_back("AT+SHOW");
        EXPECT_EQ(r.commands, commands) << name;
        const Lines asked = view.Questions();
        EXPECT_EQ(Lines(asked.begin() + static_cast<long>(questions), asked.end()),
                  c.question ? Lines{c.question} : Lines{})
            << name;
    }
    EXPECT_EQ(view.Shown(23), sim::ControllerModel::FactoryValue(23)) << "the pages show the factory values";
}

// A read puts the answer into the value edit as it came; a set made from
// that edit sends one line. Sets of a serial port and of "x,y" counters.
TEST_F(DeviceJobs, InitialValuesAreReadAndSetOneLineEach)
{
    device.SetCounterValue(0, "123");
    Run read = ask(RequestSlot::Counter0, "?");
    EXPECT_EQ(read.commands, Lines{"AT+CNTRVAL01?"});
    EXPECT_EQ(view.Answer(RequestSlot::Counter0), "123\r\n\r\n");
    EXPECT_EQ(read.messages, Lines{configtext::kCounterReadOk});
    EXPECT_TRUE(read.log.empty()) << "these jobs report in boxes only";

    Run set = ask(RequestSlot::Counter0, "=" + view.Answer(RequestSlot::Counter0));
    EXPECT_EQ(set.commands, Lines{"AT+CNTRVAL01=123"}) << "one line, cut at the line break";
    EXPECT_EQ(set.messages, Lines{configtext::kCounterSetOk});

    struct Case {
        RequestSlot slot;
        std::string request;
        Lines commands;
        const char* message;
    } cases[] = {
        {RequestSlot::Counter2, "=100,5", {"AT+CNTRVAL03=100,5"}, configtext::kCounterSetOk},
        {RequestSlot::Serial2, "=500", {"AT+COMVAL03=500"}, configtext::kSerialSetOk},
        {RequestSlot::Serial0, "=abc", {"AT+COMVAL01=abc"}, configtext::kSerialSetFailed},
        {RequestSlot::Serial3, "5", {"AT+COMVAL045"}, configtext::kSerialSetFailed},
        // A value may be 99 bytes: one more and nothing goes out.
        {RequestSlot::Counter1, "=" + std::string(98, '1'), {"AT+CNTRVAL02=" + std::string(98, '1')},
         configtext::kCounterSetFailed},
        {RequestSlot::Counter1, "=" + std::string(99, '1'), {}, configtext::kCounterSetFailed},
        {RequestSlot::Serial1, "=" + std::string(99, '1'), {}, configtext::kSerialSetFailed},
    };
    for (const Case& c : cases) {
        Run r = ask(c.slot, c.request);
        EXPECT_EQ(r.commands, c.commands) << c.request;
        EXPECT_EQ(r.messages, Lines{c.message}) << c.request;
    }
    EXPECT_EQ(device.CounterValue(2), "100,5");
    EXPECT_EQ(device.SerialValue(2), "500");
    EXPECT_EQ(engine.Values().Get(kIdCounterValue1 + 1), "=" + std::string(98, '1'))
        << "a refused request leaves the row as the last one sent";

    // A silent controller: the read fails and the edit keeps its text.
    device.UpdateFaults([](sim::Faults& f) { f.silent = true; });
    Run silent = ask(RequestSlot::Counter0, "?", true);
    EXPECT_EQ(silent.messages, Lines{configtext::kCounterReadFailed});
    EXPECT_EQ(view.Answer(RequestSlot::Counter0), "123\r\n\r\n");
}

TEST_F(DeviceJobs, ClockIsSetFromThePcClockAsItGoesOut)
{
    // A PC-clock request that waited: the time sent is the time of sending.
    const std::time_t before = std::time(nullptr);
    Run stale = ask(RequestSlot::Clock, "2001/01/01,00:00:00,1");
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(stale.commands.size(), 1u);
    const std::string sent = stale.commands[0].substr(std::string("AT+EXCCLK=").size());
    bool inside = false;
    for (std::time_t t = before; t <= after; ++t)
        inside = inside || sent == SystemClockRequest(LocalCivilTime(t));
    EXPECT_TRUE(inside) << sent;
    EXPECT_EQ(engine.Values().Get(kIdClock), sent);
    EXPECT_EQ(stale.messages, Lines{configtext::kClockOk});
    EXPECT_EQ(view.ClockControls(), (std::vector<bool>{false, true}));

    const std::string manual = "\"2026/01/04,00:00:00\",0";
    Run picked = ask(RequestSlot::Clock, manual);
    EXPECT_EQ(picked.commands, Lines{"AT+EXCCLK=" + manual}) << "a picked time goes out as picked";
    EXPECT_EQ(device.ClockText(), manual);

    // Port closed: the controls come back and the box says it failed.
    port.ClosePort();
    Run closed = ask(RequestSlot::Clock, manual);
    EXPECT_TRUE(closed.commands.empty());
    EXPECT_EQ(closed.messages, Lines{configtext::kClockFailed});
    EXPECT_EQ(view.ClockControls(), (std::vector<bool>{false, true, false, true, false, true}));
}

// Requests left while a job runs: the log says once that they wait; they
// run after it in their order.
TEST_F(DeviceJobs, RequestsBehindARunningJobAreNotedOnceAndRunAfterIt)
{
    device.UpdateFaults([](sim::Faults& f) { f.silent = true; });
    const int jobs = controller->Worker().JobsRun();
    const int waits = waitClock.waitsBegun();
    controller->OnJobButton(kJobVersion);
    ASSERT_TRUE(waitClock.awaitWait(waits + 1));
    ASSERT_TRUE(WaitUntil([&] { return withheld.load() >= 1; }, kDeadline));
    request(RequestSlot::Serial1).Set("?");
    request(RequestSlot::Counter3).Set("?");
    EXPECT_EQ(view.CountLog(configtext::kWaitForJob), 1u);
    device.UpdateFaults([](sim::Faults& f) { f.silent = false; });
    runOutWait(waits + 1, 5000);                          // the version's reply
    runOutWait(waits + 2, CommandEngine::kLateWindowMs);  // and its late window
    ASSERT_TRUE(waitJobs(jobs + 3));
    EXPECT_EQ(device.ReceivedCommands(), (Lines{"AT+VER", "AT+CNTRVAL04?", "AT+COMVAL02?"}));
    EXPECT_EQ(view.Messages(), (Lines{configtext::kCounterReadOk, configtext::kSerialReadOk}));
    EXPECT_EQ(view.CountLog(configtext::kWaitForJob), 1u);
}


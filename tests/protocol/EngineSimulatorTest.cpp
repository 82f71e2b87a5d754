// The engine against the simulated controller, attached over a
// pseudo-terminal the way a controller hangs on a serial port: the device
// is brought into configuration mode with 'S' and then takes every command
// of the table.
#include "serial/ReceiveDispatcher.h"
#include "protocol/CommandEngine.h"
#include "sim/Simulator.h"
#include "tests/support/EngineRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace pell {
namespace {

using namespace std::chrono_literals;
using test::AsyncSend;
using test::EngineRig;
using test::kPatience;
using test::SteppedClock;
using test::WaitUntil;

sim::Options DeviceOptions()
{
    sim::Options o;
    o.startPowered = true;
    o.autoPowerUp = true;
    o.loaderWindowMs = 100;
    o.configWindowMs = 5000;
    o.eraseMs = 10;
    o.restartDelayMs = 10;
    return o;
}

struct EngineWithSimulator : ::testing::Test {
    sim::Simulator device{DeviceOptions()};
    SteppedClock waitClock;           // time-outs pass only when the test says so
    ScaledClock pauseClock{200.0};    // the 1000 ms pause -> 5 ms
    EngineRig rig{waitClock, &pauseClock, 2};
    CSerial& port = rig.port;
    CommandEngine& engine = rig.engine;

    // The device can be made to hold its answer to one command until the
    // test lets it go: a reply that is late by as much as the test needs.
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    std::string holdFor; // command prefix whose answer is held; empty: none
    bool holding = false;

    void Hold(const std::string& prefix)
    {
        std::lock_guard<std::mutex> lock(gateMutex);
        holdFor = prefix;
    }
    bool AwaitHolding()
    {
        std::unique_lock<std::mutex> lock(gateMutex);
        return gateChanged.wait_for(lock, kPatience, [&] { return holding; });
    }
    void Release()
    {
        {
            std::lock_guard<std::mutex> lock(gateMutex);
            holdFor.clear();
        }
        gateChanged.notify_all();
    }

    void SetUp() override
    {
        // Called on the device thread when it has taken a command, before
        // it answers: blocking here holds the answer back.
        device.SetObserver([this](sim::Traffic kind, const std::string& text) {
            if (kind != sim::Traffic::Event || text.rfind("command ", 0) != 0)
                return;
            std::unique_lock<std::mutex> lock(gateMutex);
            if (holdFor.empty() || text.compare(8, holdFor.size(), holdFor) != 0)
                return;
            holding = true;
            gateChanged.notify_all();
            gateChanged.wait_for(lock, 2 * kPatience, [&] { return holdFor.empty(); });
            holding = false;
        });
        ASSERT_TRUE(device.Start());
        ASSERT_TRUE(rig.Attach(device.PortPath()));
        ASSERT_TRUE(rig.EnterConfiguration());
    }
    void TearDown() override
    {
        Release();
        rig.Detach();
        device.Stop();
    }

    // A command that ends without the clock moving.
    int send(int id, std::string& text) { return AsyncSend::Run(engine, waitClock, id, text); }
};

// Values the device accepts, for every command that carries one.
void StoreDeviceValues(ParamTable& values)
{
    for (int id = 0; id <= 144; ++id)
        values.Set(id, sim::Simulator::FactoryValue(id).value_or(""));
    values.Set(kIdClock, "2026/12/08,13:05:09,2");
    for (int i = 0; i < 4; ++i) {
        values.Set(kIdCounterValue1 + i, "?");
        values.Set(kIdSerialValue1 + i, "?");
    }
    values.Set(kIdRecords, ";2001/1/1,0:0:0;2001/1/2,23:55:55");
}

// Checks that the report names every parameter the device reports.
int ReportNamesEveryLabel(const char* reply, int length, ParamTable&)
{
    std::string text(reply, static_cast<std::size_t>(length));
    for (int row = 0; row < ParamRowCount(); ++row) {
        int id = ParamRowId(row);
        if (id == kIdRecords || id == kEndRowId)
            continue;
        if (text.find(std::string("\r\n") + ParamRowLabel(row)) == std::string::npos)
            return 0;
    }
    return 1;
}

TEST_F(EngineWithSimulator, EveryCommandOfTheTable)
{
    StoreDeviceValues(engine.Values());
    engine.SetReportHandler(&ReportNamesEveryLabel);
    std::vector<std::string> sent;
    for (const AtCommandRow& row : AtCommandRows()) {
        if (row.command == nullptr)
            continue;
        std::string text;
        EXPECT_EQ(send(row.id, text), 1) << row.command << ": " << engine.GetReplyText();
        std::string line;
        engine.FormatCommand(row.id, line);
        EXPECT_EQ(text, line);
        sent.push_back(line.substr(0, line.size() - 2));

        if (row.id >= kIdCounterValue1 && row.id <= kIdSerialValue1 + 3) {
            char prefix[32];
            bool counter = row.id < kIdSerialValue1;
            std::snprintf(prefix, sizeof prefix, counter ? "CNTRVAL%02d:" : "COMVAL%02d:",
                          counter ? row.id - kIdCounterValue1 + 1 : row.id - kIdSerialValue1 + 1);
            EXPECT_TRUE(engine.ReplyContains(prefix)) << prefix;
        }
        if (row.id == kIdVersion || row.id == kIdSignal) {
            EXPECT_GT(engine.ReplyLength(), 6);
        }
        if (row.id == kIdReset) {
            // The device restarts after its OK and has to be brought back.
            ASSERT_TRUE(rig.EnterConfiguration());
        }
    }
    engine.SetReportHandler(nullptr);
    EXPECT_EQ(sent.size(), 163u);
    EXPECT_EQ(device.ReceivedCommands(), sent);
    EXPECT_EQ(device.ClockText(), "2026/12/08,13:05:09,2");
    EXPECT_EQ(device.ClockSets(), 1);
}

TEST_F(EngineWithSimulator, EveryCommandRefused)
{
    StoreDeviceValues(engine.Values());
    sim::Faults f;
    f.errorFor = {"AT"};
    device.SetFaults(f);
    for (const AtCommandRow& row : AtCommandRows()) {
        if (row.command == nullptr)
            continue;
        std::string text = "junk";
        EXPECT_EQ(send(row.id, text), 0) << row.command;
        EXPECT_EQ(text, "");
        EXPECT_EQ(engine.ReplyResult(), kReplyError) << row.command;
    }
    EXPECT_EQ(device.CommandCount(), 163u);
}

TEST_F(EngineWithSimulator, NoisyRepliesInSmallPieces)
{
    StoreDeviceValues(engine.Values());
    sim::Faults f;
    f.noise = true;
    f.chunkSize = 64;
    f.chunkGapMs = 1;
    f.splitAt = {1, 2, 3};
    device.SetFaults(f);
    for (int id : {kIdAt, 0, 23, kIdVersion, kIdSignal, kIdShow, kIdCounterValue1}) {
        std::string text;
        EXPECT_EQ(send(id, text), 1) << id;
        EXPECT_EQ(engine.GetReplyText().find('\0'), std::string::npos);
    }
}

TEST_F(EngineWithSimulator, SilentDeviceTimesOut)
{
    sim::Faults f;
    f.silent = true;
    device.SetFaults(f);
    AsyncSend command(engine, waitClock, kIdAt);
    ASSERT_TRUE(WaitUntil([&] { return device.CommandCount() == 1; }, kPatience));
    ASSERT_TRUE(waitClock.awaitWait(1));
    waitClock.advance(4999);
    EXPECT_FALSE(command.Done()) << "ended before its 5000 ms time-out";
    waitClock.advance(1);
    ASSERT_TRUE(waitClock.awaitWait(2)); // its late window
    waitClock.advance(CommandEngine::kLateWindowMs);
    EXPECT_EQ(command.Result(), 0);
    EXPECT_EQ(command.Text(), "");
    EXPECT_EQ(device.CommandCount(), 1u);
}

// As with halden-sim --slow 1200 --error AT+PHON=: the device takes the new
// id but answers after the 1000 ms time-out, and refuses the phone number.
// Its late OK must not pass for the answer to AT+PHON=.
TEST_F(EngineWithSimulator, SlowDeviceIsReportedTruthfully)
{
    engine.Values().Set(0, "4711");
    engine.Values().Set(1, "13900000000");
    sim::Faults f;
    f.replyDelayMs = 1200;
    f.errorFor = {"AT+PHON="};
    device.SetFaults(f);
    // However busy the machine, the OK comes after the time-out: the
    // device holds it until the engine has given up.
    Hold("AT+IDNT=");
    {
        AsyncSend first(engine, waitClock, 0, AsyncSend::WithOutcome{});
        ASSERT_TRUE(AwaitHolding());
        ASSERT_TRUE(waitClock.awaitWait(1));
        waitClock.advance(1000);
        ASSERT_TRUE(waitClock.awaitWait(2)); // the late window: AT+PHON= not sent yet
        Release();                           // the late OK of AT+IDNT= arrives
        EXPECT_EQ(first.Outcome().status, CommandStatus::AnsweredLate);
        EXPECT_TRUE(first.Outcome().lateOk);
    }
    AsyncSend second(engine, waitClock, 1);
    EXPECT_EQ(second.Result(), 0) << "refused";
    EXPECT_EQ(engine.ReplyResult(), kReplyError);
    EXPECT_FALSE(engine.ReplyContains("OK"));
    EXPECT_EQ(waitClock.nowMs(), 1000) << "the late OK ended the late window";
    EXPECT_EQ(device.Param(0), "4711");
    EXPECT_NE(device.Param(1), "13900000000");
    EXPECT_EQ(device.ReceivedCommands(),
              (std::vector<std::string>{"AT+IDNT=4711", "AT+PHON=13900000000"}));
}

// The line closes in the middle of AT+SHOW's report: the wait ends with the
// lost port, not with the 5000 ms time-out (the clock never moves).
TEST_F(EngineWithSimulator, LineVanishingMidCommandEndsTheWait)
{
    sim::Faults f;
    f.closeAfterReplyBytes = 200;
    device.SetFaults(f);
    AsyncSend command(engine, waitClock, kIdShow);
    EXPECT_EQ(command.Result(), 0);
    EXPECT_EQ(command.Text(), "");
    EXPECT_EQ(waitClock.nowMs(), 0) << "not by the time-out";
    EXPECT_TRUE(port.IsLost());
    EXPECT_EQ(engine.Execute(kIdAt).status, CommandStatus::LineLost) << "a lost line brings nothing more";
}

TEST_F(EngineWithSimulator, DeviceVanishesMidJob)
{
    std::string text;
    ASSERT_EQ(send(kIdAt, text), 1);
    device.CloseLine();
    // Every command after it fails without waiting for a reply that cannot
    // come: the clock never moves.
    for (int id : {kIdShow, kIdVersion}) {
        EXPECT_EQ(send(id, text), 0);
        EXPECT_EQ(text, "");
    }
    EXPECT_EQ(waitClock.nowMs(), 0);
}

} // namespace
} // namespace pell

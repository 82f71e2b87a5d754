// The engine against the simulated controller, attached over a
// pseudo-terminal the way a controller hangs on a serial port: the device
// is brought into configuration mode with 'S' and then takes every command
// of the table.
#include "app/ReceiveDispatcher.h"
#include "protocol/CommandEngine.h"
#include "sim/Simulator.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace pell {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// Hands the chunks to the engine as the configuration page does: collected
// unchecked while waiting for configuration mode, recognised while a job runs.
class PageStandIn : public IConfigReceiver {
public:
    explicit PageStandIn(CommandEngine& e) : engine_(e) {}
    int JobState() const override { return state_.load(); }
    void OnPortData(int length, const char* bytes) override
    {
        if (state_.load() == 0)
            engine_.AppendReply(length, bytes);
        else
            engine_.OnCommandData(length, bytes);
    }
    void SetState(int s) { state_.store(s); }

private:
    CommandEngine& engine_;
    std::atomic<int> state_{2};
};

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
    CSerial port;
    ScaledClock waitClock{4.0};       // 1000 ms -> 250 ms, 5000 ms -> 1250 ms
    ScaledClock pauseClock{200.0};    // the 1000 ms pause -> 5 ms
    CommandEngine engine{port, waitClock, &pauseClock};
    PageStandIn page{engine};
    ReceiveDispatcher dispatcher{port};

    void SetUp() override
    {
        ASSERT_TRUE(device.Start());
        ASSERT_TRUE(port.OpenPort(device.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT));
        dispatcher.SetConfigReceiver(&page);
        dispatcher.Start();
        ASSERT_TRUE(EnterConfiguration());
    }
    void TearDown() override
    {
        dispatcher.Stop();
        port.ClosePort();
        device.Stop();
    }

    // 'S' every 50 ms until the device says it is in configuration mode.
    bool EnterConfiguration()
    {
        page.SetState(0);
        engine.ResetReply();
        int64_t lastS = 0;
        bool entered = WaitUntil(
            [&] {
                if (monotonicMs() - lastS >= 50) {
                    port.Write("S", 1);
                    lastS = monotonicMs();
                }
                return engine.ReplyContains("CONFIGURE PROGRAM");
            },
            10s);
        page.SetState(1);
        return entered;
    }
};

// Values the device accepts, for every command that carries one.
void StoreDeviceValues()
{
    for (int id = 0; id <= 144; ++id)
        SetParamValue(id, sim::Simulator::FactoryValue(id).value_or(""));
    SetParamValue(kIdClock, "2026/12/08,13:05:09,2");
    for (int i = 0; i < 4; ++i) {
        SetParamValue(kIdCounterValue1 + i, "?");
        SetParamValue(kIdSerialValue1 + i, "?");
    }
    SetParamValue(kIdRecords, ";2001/1/1,0:0:0;2001/1/2,23:55:55");
}

void ClearValues()
{
    for (int row = 0; row < ParamRowCount(); ++row)
        SetParamValue(ParamRowId(row), "");
}

// Checks that the report names every parameter the device reports.
int ReportNamesEveryLabel(const char* reply, int length)
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
    StoreDeviceValues();
    SetReportHandler(&ReportNamesEveryLabel);
    std::vector<std::string> sent;
    for (const AtCommandRow& row : AtCommandRows()) {
        if (row.command == nullptr)
            continue;
        std::string text;
        EXPECT_EQ(engine.SendCommand(row.id, text), 1) << row.command << ": " << engine.GetReplyText();
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
            ASSERT_TRUE(EnterConfiguration());
        }
    }
    SetReportHandler(nullptr);
    EXPECT_EQ(sent.size(), 163u);
    EXPECT_EQ(device.ReceivedCommands(), sent);
    EXPECT_EQ(device.ClockText(), "2026/12/08,13:05:09,2");
    EXPECT_EQ(device.ClockSets(), 1);
    ClearValues();
}

TEST_F(EngineWithSimulator, EveryCommandRefused)
{
    StoreDeviceValues();
    sim::Faults f;
    f.errorFor = {"AT"};
    device.SetFaults(f);
    for (const AtCommandRow& row : AtCommandRows()) {
        if (row.command == nullptr)
            continue;
        std::string text = "junk";
        EXPECT_EQ(engine.SendCommand(row.id, text), 0) << row.command;
        EXPECT_EQ(text, "");
        EXPECT_EQ(engine.ReplyResult(), kReplyError) << row.command;
    }
    EXPECT_EQ(device.CommandCount(), 163u);
    ClearValues();
}

TEST_F(EngineWithSimulator, NoisyRepliesInSmallPieces)
{
    StoreDeviceValues();
    sim::Faults f;
    f.noise = true;
    f.chunkSize = 64;
    f.chunkGapMs = 1;
    f.splitAt = {1, 2, 3};
    device.SetFaults(f);
    for (int id : {kIdAt, 0, 23, kIdVersion, kIdSignal, kIdShow, kIdCounterValue1}) {
        std::string text;
        EXPECT_EQ(engine.SendCommand(id, text), 1) << id;
        EXPECT_EQ(engine.GetReplyText().find('\0'), std::string::npos);
    }
    ClearValues();
}

TEST_F(EngineWithSimulator, SilentDeviceTimesOut)
{
    sim::Faults f;
    f.silent = true;
    device.SetFaults(f);
    std::string text = "junk";
    int64_t start = monotonicUs();
    EXPECT_EQ(engine.SendCommand(kIdAt, text), 0);
    EXPECT_GE(monotonicUs() - start, waitClock.duration(5000).count());
    EXPECT_EQ(text, "");
    EXPECT_EQ(device.CommandCount(), 1u);
}

TEST_F(EngineWithSimulator, DeviceVanishesMidJob)
{
    std::string text;
    ASSERT_EQ(engine.SendCommand(kIdAt, text), 1);
    device.CloseLine();
    // The command in flight and every one after it fail; none waits for a
    // reply that cannot come longer than its time-out.
    for (int id : {kIdShow, kIdVersion}) {
        text = "junk";
        int64_t start = monotonicUs();
        EXPECT_EQ(engine.SendCommand(id, text), 0);
        EXPECT_EQ(text, "");
        EXPECT_LE(monotonicUs() - start, waitClock.duration(5000).count() + 2000000);
    }
}

} // namespace
} // namespace pell

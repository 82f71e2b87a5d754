// Routing of received chunks to the page that holds the conversation.
#include "serial/ReceiveDispatcher.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include <sys/ioctl.h>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

// Collects what a consumer was given.
class Sink {
public:
    void add(int length, const char* bytes)
    {
        std::lock_guard<std::mutex> lock(m_);
        if (length == 0)
            ++empty_;
        text_.append(bytes, static_cast<std::size_t>(length));
        // The chunk must be zero-terminated for the consumers' text searches.
        terminated_ = terminated_ && bytes[length] == 0;
    }
    std::string text() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return text_;
    }
    int empties() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return empty_;
    }
    bool terminated() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return terminated_;
    }

private:
    mutable std::mutex m_;
    std::string text_;
    int empty_ = 0;
    bool terminated_ = true;
};

class FakeDownload : public IDownloadReceiver {
public:
    bool IsDownloadActive() const override { return active.load(); }
    bool HoldsLine() const override { return starting.load() || active.load(); }
    void OnPortData(int length, const char* bytes) override { sink.add(length, bytes); }
    std::atomic<bool> active{false};
    std::atomic<bool> starting{false}; // a start under way claims the line
    Sink sink;
};

class FakeConfig : public IConfigReceiver {
public:
    int JobState() const { return state.load(); }
    // Waiting for configuration mode (0) or running a job (1).
    bool HoldsConversation() const override { return JobState() == 0 || JobState() == 1; }
    void OnPortData(int length, const char* bytes) override { sink.add(length, bytes); }
    std::atomic<int> state{2};
    Sink sink;
};

class FakeTerminal : public ITerminalReceiver {
public:
    bool IsReceiving() const override { return receiving.load(); }
    void OnTerminalData(int length, const char* bytes) override { sink.add(length, bytes); }
    void NotifyReceiveUpdate() override { updates.fetch_add(1); }
    std::atomic<bool> receiving{false};
    std::atomic<int> updates{0};
    Sink sink;
};

} // namespace

TEST(LineOwner, NamesTheHolderAndWhoMustWait)
{
    using H = LineHolder;
    struct Case {
        bool starting, active;
        int configState;
        bool receiving;
        H holder;            // who gets the chunks
        bool downloadWaits;  // a download start is refused
        bool configWaits;    // a job or page request is refused
        bool terminalWaits;  // sends and answers are skipped
    } cases[] = {
        {false, false, 2, false, H::Nobody, false, false, false},
        {false, false, 2, true, H::Terminal, false, false, false},
        {false, false, 0, true, H::Configuration, true, false, true},
        {false, false, 1, false, H::Configuration, true, false, true},
        {true, false, 2, true, H::Terminal, false, true, true}, // starting: claimed, no chunks yet
        {false, true, 2, true, H::Download, false, true, true},
        {false, true, 1, true, H::Download, true, true, true},
    };
    for (const Case& c : cases) {
        FakeDownload download;
        FakeConfig config;
        FakeTerminal terminal;
        download.starting = c.starting;
        download.active = c.active;
        config.state = c.configState;
        terminal.receiving = c.receiving;
        LineOwner owner;
        owner.SetDownload(&download);
        owner.SetConfig(&config);
        owner.SetTerminal(&terminal);
        const auto at = ::testing::Message() << c.starting << c.active << c.configState << c.receiving;
        EXPECT_EQ(owner.Holder(), c.holder) << at;
        EXPECT_EQ(owner.HeldByOther(H::Download), c.downloadWaits) << at;
        EXPECT_EQ(owner.HeldByOther(H::Configuration), c.configWaits) << at;
        EXPECT_EQ(owner.HeldByOther(H::Terminal), c.terminalWaits) << at;
        EXPECT_EQ(owner.Holds(H::Terminal), c.receiving) << at;
    }
    LineOwner empty; // no consumers: nobody holds anything
    EXPECT_EQ(empty.Holder(), H::Nobody);
    EXPECT_FALSE(empty.HeldByOther(H::Terminal));
}

namespace {

struct Fixture : ::testing::Test {
    PtyPair pty;
    CSerial port;
    ReceiveDispatcher dispatcher{port};
    FakeDownload download;
    FakeConfig config;
    FakeTerminal terminal;

    void SetUp() override
    {
        ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
        dispatcher.SetDownloadReceiver(&download);
        dispatcher.SetConfigReceiver(&config);
        dispatcher.SetTerminalReceiver(&terminal);
        dispatcher.Start();
    }
    void TearDown() override { dispatcher.Stop(); }
};

using Dispatch = Fixture;

} // namespace

TEST_F(Dispatch, DownloadTakesEveryChunkWhileActive)
{
    download.active = true;
    config.state = 0;          // waiting for configuration mode
    terminal.receiving = true; // and the terminal receiving
    pty.send("boot update");
    ASSERT_TRUE(WaitUntil([&] { return download.sink.text() == "boot update"; }));
    // Empty passes reach the download page too (its timers depend on them).
    ASSERT_TRUE(WaitUntil([&] { return download.sink.empties() > 2; }));
    EXPECT_EQ(config.sink.text(), "");
    EXPECT_EQ(terminal.sink.text(), "");
    EXPECT_TRUE(download.sink.terminated());
}

TEST_F(Dispatch, ConfigurationPageWhileWaitingOrRunningThenTerminal)
{
    for (int state : {0, 1}) {
        config.state = state;
        std::string text = "CONFIGURE PROGRAM " + std::to_string(state);
        pty.send(text);
        ASSERT_TRUE(WaitUntil([&] { return config.sink.text().find(text) != std::string::npos; }));
    }
    ASSERT_TRUE(WaitUntil([&] { return config.sink.empties() > 2; }));

    config.state = 2; // idle: the terminal gets what comes, never empty chunks
    terminal.receiving = true;
    pty.send("\x01\x02\x03");
    ASSERT_TRUE(WaitUntil([&] { return terminal.sink.text() == "\x01\x02\x03"; }));
    EXPECT_EQ(terminal.sink.empties(), 0);
    EXPECT_GE(terminal.updates.load(), 1);
    EXPECT_EQ(download.sink.text(), "");
}

TEST_F(Dispatch, WithNobodyListeningBytesAreReadAndDropped)
{
    pty.send("dropped");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher.BytesDropped() == 7; }));
    terminal.receiving = true;
    pty.send("kept");
    ASSERT_TRUE(WaitUntil([&] { return terminal.sink.text() == "kept"; }));
}

TEST_F(Dispatch, ClosedPortIsNotReadAndStopReturnsPromptly)
{
    terminal.receiving = true;
    port.ClosePort();
    pty.send("while closed");
    auto queued = [&] {
        int n = 0;
        ioctl(pty.slave(), FIONREAD, &n);
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return queued() == 12; }));
    // Nothing is read while the port is closed: the bytes stay on the line.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(queued(), 12);
        std::this_thread::sleep_for(5ms); // observing a non-event over time
    }
    EXPECT_EQ(terminal.sink.text(), "");
    auto start = std::chrono::steady_clock::now();
    dispatcher.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

// With no page listening the dispatcher sleeps in the port's read with no
// time limit; whatever ends the line ends that sleep at once.
TEST_F(Dispatch, ClosingThePortWakesTheSleepingReaderAndOpeningOneStartsIt)
{
    constexpr auto kDeadline = 60s;
    ASSERT_TRUE(WaitUntil([&] { return dispatcher.ReadsBegun() >= 1; }, kDeadline));
    // The close waits for the sleeping read to leave the port: it returns
    // only because the read was woken.
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        port.ClosePort();
        closed.store(true);
    });
    const bool woken = WaitUntil([&] { return closed.load(); }, kDeadline);
    if (!woken)
        dispatcher.Stop(); // ends the read so that the test ends
    closer.join();
    ASSERT_TRUE(woken) << "the close did not wake the receive thread";

    // The thread sleeps while no port is open and reads as soon as one is.
    terminal.receiving = true;
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    pty.send("!");
    ASSERT_TRUE(WaitUntil([&] { return terminal.sink.text().find('!') != std::string::npos; }, kDeadline));
}

TEST(DispatchLine, VanishedDeviceIsToldWhileTheReaderSleeps)
{
    class Owner : public ISerialOwner {
    public:
        void OnSerialNotify(int message, uint32_t) override
        {
            if (message == kMsgDeviceLost)
                lost.fetch_add(1);
        }
        std::atomic<int> lost{0};
    } owner;
    PtyPair pty;
    CSerial port;
    port.SetOwner(&owner);
    ReceiveDispatcher dispatcher(port);
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    pty.closeSlaveHandle();
    dispatcher.Start();
    ASSERT_TRUE(WaitUntil([&] { return dispatcher.ReadsBegun() >= 1; }, 60s));
    pty.closeMaster();
    ASSERT_TRUE(WaitUntil([&] { return owner.lost.load() >= 1; }, 60s));
    EXPECT_TRUE(port.IsLost());
    dispatcher.Stop();
    EXPECT_FALSE(dispatcher.IsRunning());
    EXPECT_EQ(owner.lost.load(), 1);
    port.SetOwner(nullptr);
}

TEST(DispatchRoute, PriorityWithoutAPort)
{
    CSerial port;
    ReceiveDispatcher d(port);
    FakeDownload download;
    FakeConfig config;
    FakeTerminal terminal;
    char chunk[] = "x";
    d.Owner().Deliver(1, chunk); // no consumers at all: dropped
    d.SetDownloadReceiver(&download);
    d.SetConfigReceiver(&config);
    d.SetTerminalReceiver(&terminal);
    terminal.receiving = true;
    d.Owner().Deliver(0, chunk);
    EXPECT_EQ(terminal.updates.load(), 0); // empty chunks never reach the terminal
    d.Owner().Deliver(1, chunk);
    EXPECT_EQ(terminal.sink.text(), "x");
    config.state = 1;
    d.Owner().Deliver(1, chunk);
    EXPECT_EQ(config.sink.text(), "x");
    download.active = true;
    d.Owner().Deliver(1, chunk);
    EXPECT_EQ(download.sink.text(), "x");
    EXPECT_EQ(terminal.sink.text(), "x");
    EXPECT_EQ(config.sink.text(), "x");
}

// The terminal without its window: answers over the receive path, the send
// path with its skips, the receive switch and the refresh requests.
#include "debug/DebugTerminal.h"
#include "tests/debug/FakeTerminalPort.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <thread>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 60s; // far beyond what a busy machine needs

class CountingView : public ITerminalView {
public:
    void RefreshWanted() override { refreshes.fetch_add(1); }
    void SentCountChanged(int count) override { lastSent.store(count); }
    std::atomic<int> refreshes{0};
    std::atomic<int> lastSent{-1};
};

class Terminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        term.SetView(&view);
        term.SetAnswerDelay(0);
        term.Init();
    }
    void receive(const std::string& bytes)
    {
        term.OnTerminalData(static_cast<int>(bytes.size()), bytes.data());
        term.NotifyReceiveUpdate();
    }
    bool written(const std::string& expected)
    {
        return WaitUntil([&] { return port.Written() == expected; }, kDeadline);
    }
    bool idle()
    {
        return WaitUntil([&] { return !term.SendBusy(); }, kDeadline);
    }

    FakeTerminalPort port;
    CountingView view;
    DebugTerminal term{port};
};

} // namespace

TEST_F(Terminal, AnswersInHexAdvanceWithEveryAnswer)
{
    ASSERT_TRUE(term.LoadAnswers("01 03,01 03 02 00 05,3,1\n").empty());
    term.SetAutoAnswer(true);
    term.SetHexSend(true);
    std::string expected;
    for (int k = 0; k < 3; ++k) {
        receive("\x01\x03\x00\x00");
        expected += std::string("\x01\x03\x02", 3) + static_cast<char>(k) + "\x05";
        ASSERT_TRUE(written(expected)) << k;
        ASSERT_TRUE(idle());
    }
    std::string shown;
    EXPECT_TRUE(term.TakeShownAnswer(shown));
    EXPECT_EQ(shown, "01 03 02 02 05");
    EXPECT_EQ(term.SentCount(), 15);
    EXPECT_TRUE(WaitUntil([&] { return view.lastSent.load() == 15; }, kDeadline));

    // Text mode sends the answer's characters; a chunk ending inside the
    // request is not answered.
    term.SetHexSend(false);
    receive("\x01");
    receive("\x01\x03");
    ASSERT_TRUE(written(expected + "01 03 02 03 05"));
    EXPECT_EQ(term.AnswerCounter(), 4);
}

TEST_F(Terminal, NoTableOrSwitchedOffMeansNoAnswer)
{
    receive("\x01\x03");
    term.LoadAnswers("01 03,AA\n");
    receive("\x01\x03"); // "自动回复" still off
    std::string shown;
    EXPECT_FALSE(term.TakeShownAnswer(shown));
    EXPECT_EQ(term.AnswerCounter(), 0);
    EXPECT_EQ(port.writesBegun.load(), 0);
}

TEST_F(Terminal, TheChunkThatRestartsTheStoreIsAnsweredAndRedrawn)
{
    term.LoadAnswers("7E,AA\n");
    term.SetAutoAnswer(true);
    term.SetHexSend(true);
    term.SetHexDisplay(true);
    DisplayCursor cursor;
    term.Update(cursor);
    const std::string fillAll(ReceiveStore::kCapacity, '\x11');
    receive(fillAll);
    EXPECT_EQ(term.Store().Fill(), 524288);
    EXPECT_FALSE(term.Update(cursor).replace);
    receive("\x7E\x01");
    EXPECT_EQ(term.Store().Fill(), 2);
    const DisplayUpdate up = term.Update(cursor);
    EXPECT_TRUE(up.replace);
    EXPECT_EQ(up.text, "7E 01 ");
    EXPECT_TRUE(written("\xAA"));
}

TEST_F(Terminal, AnAnswerNeverStallsTheReading)
{
    term.LoadAnswers("01,01 02 03\n");
    term.SetAutoAnswer(true);
    term.SetHexSend(true);
    port.release.reset(); // the line takes its time
    receive("\x01");
    ASSERT_TRUE(WaitUntil([&] { return port.writesBegun.load() == 1; }, kDeadline));
    // While the first answer is still going out, the receive path goes on.
    for (int i = 0; i < 20; ++i)
        receive("\x01");
    EXPECT_EQ(term.BytesReceived(), 21u);
    EXPECT_EQ(term.AnswersQueued(), 1u + DebugTerminal::kMaxQueuedAnswers);
    EXPECT_EQ(term.AnswersSkipped(), 20u - DebugTerminal::kMaxQueuedAnswers);
    port.release.set();
    EXPECT_TRUE(WaitUntil([&] { return term.SentCount() == 3 * 9; }, kDeadline));
}

TEST_F(Terminal, SendsAreSkippedWhileAnotherPageHoldsTheLine)
{
    std::atomic<bool> configJob{true};
    term.SetLineCheck([&] { return configJob.load(); });
    term.SetSendText("ping");
    EXPECT_EQ(term.SendBuffer(SendKind::Timer), SendResult::LineHeld);
    EXPECT_EQ(term.SendBuffer(SendKind::Manual), SendResult::LineHeld);
    // Answers too.
    term.LoadAnswers("01,pong\n");
    term.SetAutoAnswer(true);
    receive("\x01");
    EXPECT_EQ(term.AnswersSkipped(), 1u);
    EXPECT_EQ(port.writesBegun.load(), 0);

    configJob.store(false);
    EXPECT_EQ(term.SendBuffer(SendKind::Timer), SendResult::Queued);
    EXPECT_TRUE(written("pong")); // the answer replaced the text buffer

    // A job that starts while a send waits for the line: the sender looks again.
    port.release.reset();
    EXPECT_EQ(term.SendBuffer(SendKind::Manual), SendResult::Queued);
    ASSERT_TRUE(WaitUntil([&] { return port.writesBegun.load() == 2; }, kDeadline));
    EXPECT_EQ(term.SendBuffer(SendKind::Timer), SendResult::Busy); // a tick during a send
    configJob.store(true);
    port.release.set();
    ASSERT_TRUE(written("pongpong"));
    ASSERT_TRUE(idle());
}

TEST_F(Terminal, SendPathCountsWhatWentOut)
{
    struct Case {
        bool hex;
        bool newline;
        std::string typed;
        int shortWrite;
        std::string wire;
        int count;
    };
    const Case cases[] = {
        {false, true, "AT", -1, "AT\r\n", 4},
        {false, false, "AT", -1, "AT", 2},
        {true, true, "41 54", -1, "AT", 2},       // no new line in hex mode
        {false, true, "AT", 1, "A", 0},            // short write: nothing more, count unchanged
        {false, true, "", -1, "", 0},              // empty buffer: nothing sent
        {false, false, std::string(10300, 'x'), -1, std::string(10240, 'x'), 10240},
    };
    for (const auto& c : cases) {
        FakeTerminalPort p;
        p.shortWrite.store(c.shortWrite);
        DebugTerminal t(p);
        t.Init();
        t.SetHexSend(c.hex);
        t.SetSendNewline(c.newline);
        t.SetSendText(c.typed);
        const SendResult r = t.SendBuffer(SendKind::Manual);
        EXPECT_EQ(r, c.typed.empty() ? SendResult::Empty : SendResult::Queued);
        EXPECT_TRUE(WaitUntil([&] { return !t.SendBusy(); }, kDeadline));
        EXPECT_EQ(p.Written(), c.wire) << c.typed.substr(0, 10);
        EXPECT_EQ(t.SentCount(), c.count) << c.typed.substr(0, 10);
    }
    port.open.store(false);
    term.SetSendText("x");
    EXPECT_EQ(term.SendBuffer(SendKind::Manual), SendResult::NoPort);
}

TEST_F(Terminal, ClosingThePortWhileReceivingSwitchesOffAndEnablesTheTree)
{
    std::vector<bool> navigation;
    term.SetNavigationSwitch([&](bool enable) { navigation.push_back(enable); });
    port.open.store(false);
    EXPECT_EQ(term.ToggleReceive(), ToggleResult::NoPort);
    EXPECT_FALSE(term.IsReceiving());
    EXPECT_TRUE(navigation.empty());

    port.open.store(true);
    EXPECT_EQ(term.ToggleReceive(), ToggleResult::On);
    EXPECT_TRUE(term.IsReceiving());
    // The main window closes the port and, since the terminal receives,
    // switches it off.
    port.open.store(false);
    if (term.IsReceiving())
        EXPECT_EQ(term.ToggleReceive(), ToggleResult::Off);
    EXPECT_FALSE(term.IsReceiving());
    EXPECT_EQ(navigation, (std::vector<bool>{false, true}));
}

TEST_F(Terminal, AtMostOneRefreshIsAskedForUntilItRuns)
{
    for (int i = 0; i < 10; ++i)
        receive("x");
    EXPECT_EQ(view.refreshes.load(), 1);
    term.BeginRefresh();
    receive("y");
    receive("z");
    EXPECT_EQ(view.refreshes.load(), 2);
}

TEST_F(Terminal, ClearEmptiesStoreAndSentCount)
{
    term.SetSendText("abc");
    term.SendBuffer(SendKind::Manual);
    ASSERT_TRUE(WaitUntil([&] { return term.SentCount() == 3; }, kDeadline));
    receive("hello");
    term.Clear();
    term.Clear();
    EXPECT_EQ(term.SentCount(), 0);
    EXPECT_EQ(term.Store().Fill(), 0);
    DisplayCursor cursor;
    const DisplayUpdate up = term.Update(cursor);
    EXPECT_EQ(up.text, "");
    EXPECT_EQ(up.fill, 0);
}

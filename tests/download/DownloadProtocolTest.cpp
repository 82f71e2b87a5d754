// The download's state machine on its own: bytes, writes and times handed
// in by the test, actions checked, no threads and no real time.
#include "download/DownloadProtocol.h"
#include "tests/download/LogLines.h"

#include "tests/download/LateHandshakeCases.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pell;
using namespace pell::test;
using Kind = DownloadAction::Kind;

namespace {

// What a list of actions wrote and logged, in order: "P", "06", "F0" (the
// frame at offset 0), "L<line>", "G<n>" (progress), "I" (idle look), "C".
std::vector<std::string> Trace(const DownloadActions& actions)
{
    std::vector<std::string> t;
    for (const auto& a : actions) {
        switch (a.kind) {
        case Kind::Write:
            t.push_back(a.byte == kTransferGo ? "06" : std::string(1, a.byte));
            break;
        case Kind::SendBlock:
            t.push_back("F" + std::to_string(a.offset));
            break;
        case Kind::Log:
            t.push_back("L" + a.text);
            break;
        case Kind::Progress:
            t.push_back("G" + std::to_string(a.value));
            break;
        case Kind::IdleLook:
            t.push_back("I");
            break;
        case Kind::ClosePrompt:
            t.push_back("C");
            break;
        case Kind::ProgressRange:
        case Kind::BlockAccepted:
        case Kind::ActiveLook:
        case Kind::BlockFailed:
        case Kind::Ended:
            break;
        }
    }
    return t;
}

using Trace_ = std::vector<std::string>;

// A machine with a runner that writes everything at once, as a test can.
struct Machine {
    DownloadProtocol m;
    int64_t now = 0;

    // Hands the machine the writes it asked for, and what they bring.
    Trace_ Run(DownloadActions actions)
    {
        Trace_ t;
        for (size_t i = 0; i < actions.size(); ++i) {
            auto more = Trace({actions[i]});
            t.insert(t.end(), more.begin(), more.end());
            if (actions[i].kind == Kind::Write || actions[i].kind == Kind::SendBlock) {
                auto next = m.OnWritten(actions[i], now);
                actions.insert(actions.end(), next.begin(), next.end());
            }
        }
        return t;
    }
    Trace_ Start(uint32_t length, bool boot = false) { return Run(m.Start(length, boot, now)); }
    Trace_ Feed(const std::string& bytes) { return Run(m.OnBytes(bytes, now)); }
    Trace_ At(int64_t ms)
    {
        now = ms;
        return Run(m.OnTick(now));
    }
    // Start, one handshake tick, the loader's 'P': block 1 is on the wire.
    void ToFirstBlock(uint32_t length)
    {
        Start(length);
        At(500);
        EXPECT_EQ(Feed("P"), (Trace_{"C", "06", "F0"}));
    }
};

TEST(DownloadProtocol, StartLogsAndSetsTheRangeThenTicksEvery500ms)
{
    struct Case {
        bool boot;
        uint32_t length;
        DownloadState state;
        int blocks;
        const char* byte;
    };
    for (const Case& c : {Case{false, 5000, DownloadState::LoaderHandshake, 2, "P"},
                          Case{true, 1, DownloadState::BootBanner, 1, "B"},
                          Case{false, 1048575, DownloadState::LoaderHandshake, 256, "P"}}) {
        Machine x;
        x.now = 1000;
        DownloadActions start = x.m.Start(c.length, c.boot, x.now);
        ASSERT_EQ(start.size(), 3u);
        EXPECT_EQ(start[0].text, kBegin);
        EXPECT_EQ(start[1].kind, Kind::ProgressRange);
        EXPECT_EQ(start[1].value, c.blocks);
        EXPECT_EQ(start[2].kind, Kind::ActiveLook);
        EXPECT_EQ(x.m.State(), c.state);
        EXPECT_TRUE(x.m.Active());
        EXPECT_EQ(x.m.NextDeadline(), 1500);
        EXPECT_TRUE(x.At(1499).empty());
        EXPECT_EQ(x.At(1500), Trace_{c.byte});
        EXPECT_EQ(x.m.NextDeadline(), 2000);
        EXPECT_TRUE(x.At(1999).empty());
        // A late tick: the next one is a period after it, not a burst.
        EXPECT_EQ(x.At(2700), Trace_{c.byte});
        EXPECT_EQ(x.m.NextDeadline(), 3200);
    }
}

TEST(DownloadProtocol, ImagesOfNoneOrOneMebibyteDoNotStart)
{
    for (uint32_t length : {0u, 1048576u, 1048577u}) {
        DownloadProtocol m;
        EXPECT_TRUE(m.Start(length, false, 0).empty()) << length;
        EXPECT_FALSE(m.Active());
        EXPECT_EQ(m.NextDeadline(), DownloadProtocol::kNever);
    }
}

TEST(DownloadProtocol, BootBannerTurnsToPAfterBootUpdateEvenSplitAndBehindZeros)
{
    Machine x;
    x.Start(10, true);
    EXPECT_EQ(x.At(500), Trace_{"B"});
    EXPECT_TRUE(x.Feed(std::string("\0\0boot up", 9)).empty());
    EXPECT_EQ(x.m.State(), DownloadState::BootBanner);
    EXPECT_TRUE(x.Feed("date\r\n").empty());
    EXPECT_EQ(x.m.State(), DownloadState::LoaderHandshake);
    EXPECT_EQ(x.At(1000), Trace_{"P"});
    // A 'P' in the banner state is not the loader's answer.
    Machine y;
    y.Start(10, true);
    EXPECT_TRUE(y.Feed("P").empty());
    EXPECT_EQ(y.m.State(), DownloadState::BootBanner);
}

TEST(DownloadProtocol, LoaderAnswerFirstOrBehindNoiseBringsThe06ThenBlockOne)
{
    const std::pair<std::string, bool> cases[] = {
        {"P", true},
        {"PP\r\n", true},
        {std::string("\0\xff#~\0P", 6), true},
        {"\r\nP", true},
        {"xP", false},
        {" P", false},
        {"boot update, waiting for P", false},
        {"p", false},
    };
    for (const auto& [chunk, present] : cases) {
        Machine x;
        x.Start(4097);
        x.At(500);
        DownloadActions answer = x.m.OnBytes(chunk, x.now);
        if (!present) {
            EXPECT_TRUE(answer.empty()) << ::testing::PrintToString(chunk);
            EXPECT_EQ(x.m.State(), DownloadState::LoaderHandshake);
            EXPECT_EQ(x.At(1000), Trace_{"P"});
            continue;
        }
        // Ready: no more handshake bytes, the 0x06 waits for its write.
        EXPECT_EQ(Trace(answer), (Trace_{"C", "06"})) << ::testing::PrintToString(chunk);
        EXPECT_EQ(x.m.State(), DownloadState::LoaderReady);
        EXPECT_TRUE(x.At(5000).empty());
        // Written: the transfer starts with block 1 of 4096 bytes.
        DownloadActions go = x.m.OnWritten(answer[1], x.now);
        ASSERT_EQ(go.size(), 1u);
        EXPECT_EQ(go[0].kind, Kind::SendBlock);
        EXPECT_EQ(go[0].offset, 0u);
        EXPECT_EQ(go[0].length, 4096u);
        EXPECT_EQ(x.m.State(), DownloadState::Transfer);
    }
}

TEST(DownloadProtocol, ErrorReportDuringTheHandshakeClearsTheWindowAndLogsNothing)
{
    Machine x;
    x.Start(10);
    EXPECT_TRUE(x.Feed("boot er").empty());
    EXPECT_EQ(x.m.Ack(), kAckNone);
    EXPECT_TRUE(x.Feed("r_3\r\n").empty());
    EXPECT_EQ(x.m.Ack(), kAckRejected);
    EXPECT_EQ(x.m.ReplyText(), "");
    EXPECT_EQ(x.m.State(), DownloadState::LoaderHandshake);
    EXPECT_EQ(x.At(500), Trace_{"P"});
}

TEST(DownloadProtocol, TwoBlocksAcceptedThenSuccessAndTheResetAtOnce)
{
    Machine x;
    x.ToFirstBlock(5000);
    EXPECT_EQ(x.Feed("\x05"), (Trace_{"L" + Ok(1), "G1", "F4096"}));
    EXPECT_EQ(x.m.SentOffset(), 4096u);
    EXPECT_EQ(x.Feed("\x05"), (Trace_{"L" + Ok(2), "L" + kSuccess, "G2"}));
    EXPECT_EQ(x.m.State(), DownloadState::Done);
    EXPECT_EQ(x.m.NextDeadline(), x.now);
    EXPECT_EQ(x.At(x.now), Trace_{"I"});
    EXPECT_EQ(x.m.State(), DownloadState::Idle);
    EXPECT_EQ(x.m.ImageLength(), 0u);
    EXPECT_EQ(x.m.NextDeadline(), DownloadProtocol::kNever);
}

TEST(DownloadProtocol, RejectionsAndTimeOutsGoBackToPAndBlockOne)
{
    struct Case {
        const char* name;
        std::string answer; // empty: no answer, the time-out
        Trace_ expected;
    };
    const Case cases[] = {
        {"0x15", "\x15", {"L" + Error(2)}},
        {"0x06", "\x06", {"L" + Error(2)}},
        {"err_", "err_\r\n", {"L" + Error(2)}},
        {"P then 0x15", "P\x15", {"L" + Error(2)}},
        {"silence", "", {"L" + Timeout(2)}},
    };
    for (const Case& c : cases) {
        Machine x;
        x.ToFirstBlock(3 * 4096);
        x.Feed("\x05");
        const int64_t written = x.now;
        ASSERT_TRUE(x.m.AwaitingAnswer());
        EXPECT_EQ(x.m.AnswerDeadline(), written + 5000) << c.name;
        if (c.answer.empty()) {
            EXPECT_TRUE(x.At(written + 4999).empty()) << c.name;
            EXPECT_EQ(x.At(written + 5000), c.expected) << c.name;
        } else {
            x.now = written + 4999;
            EXPECT_EQ(x.Feed(c.answer), c.expected) << c.name;
        }
        EXPECT_EQ(x.m.State(), DownloadState::LoaderHandshake) << c.name;
        EXPECT_EQ(x.m.SentOffset(), 0u);
        EXPECT_TRUE(x.m.Active());
        // 'P' a period later, then the 0x06 and block 1 again; the bar
        // keeps block 1 until block 1 of the new pass is accepted.
        EXPECT_EQ(x.At(x.now + 499), Trace_{}) << c.name;
        EXPECT_EQ(x.At(x.now + 1), Trace_{"P"}) << c.name;
        EXPECT_EQ(x.Feed("P"), (Trace_{"C", "06", "F0"})) << c.name;
        EXPECT_EQ(x.Feed("\x05"), (Trace_{"L" + Ok(1), "G1", "F4096"})) << c.name;
    }
}

TEST(DownloadProtocol, AnswerTimeOutCountsFromTheEndOfTheWrite)
{
    DownloadProtocol m;
    m.Start(10, false, 0);
    m.OnTick(500);
    auto go = m.OnBytes("P", 600);
    auto block = m.OnWritten(go[1], 600);
    ASSERT_EQ(block.size(), 1u);
    // Not yet written: nothing times out, however long the write takes.
    EXPECT_EQ(m.NextDeadline(), DownloadProtocol::kNever);
    EXPECT_TRUE(m.OnTick(100000).empty());
    EXPECT_TRUE(m.OnWritten(block[0], 100000).empty());
    EXPECT_EQ(m.AnswerDeadline(), 105000);
    EXPECT_TRUE(m.OnTick(104999).empty());
    EXPECT_EQ(Trace(m.OnTick(105000)), Trace_{"L" + Timeout(1)});
}

// The loader answered a second 'P' of the timer too; that late 'P' (alone,
// behind noise, in front of the answer) answers no block.
TEST(DownloadProtocol, LateHandshakeAnswerDuringABlockIsNoAnswer)
{
    for (const auto& [late, answer] : test::kLateHandshakeCases) {
        Machine x;
        x.ToFirstBlock(4097);
        if (!late.empty()) {
            EXPECT_TRUE(x.Feed(late).empty()) << ::testing::PrintToString(late);
            EXPECT_EQ(x.m.Ack(), kAckNone);
            EXPECT_TRUE(x.m.AwaitingAnswer());
        }
        EXPECT_EQ(x.Feed(answer), (Trace_{"L" + Ok(1), "G1", "F4096"}))
            << ::testing::PrintToString(answer);
    }
}

TEST(DownloadProtocol, AnswerBeforeTheWriteEndedStillCountsAndTheStaleWriteIsIgnored)
{
    DownloadProtocol m;
    m.Start(5000, false, 0);
    m.OnTick(500);
    auto go = m.OnBytes("P", 500);
    auto first = m.OnWritten(go[1], 500);
    ASSERT_EQ(first.size(), 1u);
    auto next = m.OnBytes("\x05", 500); // the answer overtook the write's end
    EXPECT_EQ(Trace(next), (Trace_{"L" + Ok(1), "G1", "F4096"}));
    EXPECT_TRUE(m.OnWritten(first[0], 501).empty());
    EXPECT_FALSE(m.AwaitingAnswer()); // still the second block's write
    EXPECT_TRUE(m.BlockPending(next.back().pass, 4096));
    EXPECT_FALSE(m.BlockPending(first[0].pass, 0));
}

TEST(DownloadProtocol, CancelResetsFromEveryStateAndOnlyAnAwaitedBlockLogsItsError)
{
    struct Case {
        const char* name;
        int steps; // how far the download got
        Trace_ expected;
    };
    const Case cases[] = {
        {"handshake", 0, {"I"}},
        {"loader ready", 1, {"I"}},
        {"block on its way", 2, {"I"}},
        {"block awaiting its answer", 3, {"I", "L" + Error(1)}},
        {"second block awaited", 4, {"I", "L" + Error(1)}},
    };
    for (const Case& c : cases) {
        DownloadProtocol m;
        m.Start(8192, false, 0);
        m.OnTick(500);
        DownloadActions go, block;
        if (c.steps >= 1)
            go = m.OnBytes("P", 500);
        if (c.steps >= 2)
            block = m.OnWritten(go[1], 500);
        if (c.steps >= 3)
            m.OnWritten(block[0], 500);
        if (c.steps >= 4) {
            auto second = m.OnBytes("\x05", 600);
            m.OnWritten(second.back(), 600);
        }
        const uint32_t pass = m.Pass();
        EXPECT_EQ(Trace(m.Cancel()), c.expected) << c.name;
        EXPECT_EQ(m.State(), DownloadState::Idle) << c.name;
        EXPECT_FALSE(m.Active());
        EXPECT_NE(m.Pass(), pass) << c.name; // writes still queued are dropped
        EXPECT_EQ(m.NextDeadline(), DownloadProtocol::kNever) << c.name;
        EXPECT_TRUE(m.OnTick(100000).empty()) << c.name;
        EXPECT_TRUE(m.OnBytes("P\x05", 100000).empty()) << c.name;
        EXPECT_TRUE(m.Cancel().empty()) << c.name;
        if (c.steps >= 1) {
            EXPECT_TRUE(m.OnWritten(go[1], 100000).empty()) << c.name;
        }
    }
}

TEST(DownloadProtocol, IdleMachineHasNothingDueAndIgnoresBytes)
{
    DownloadProtocol m;
    EXPECT_EQ(m.NextDeadline(), DownloadProtocol::kNever);
    EXPECT_TRUE(m.OnTick(0).empty());
    EXPECT_TRUE(m.OnBytes("P", 0).empty());
    EXPECT_TRUE(m.OnBytes("", 0).empty());
    EXPECT_EQ(m.State(), DownloadState::Idle);
}

} // namespace

// The engine's reply buffer and reply recognition, without a line: the
// recognition is checked against a plain whole-buffer search that follows
// the controller contract word for word.
#include "protocol/CommandEngine.h"
#include "tests/support/EngineRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace pell {
namespace {

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

// Everything received since the command was sent, searched whole after
// every chunk, as simple as it can be.
struct WholeBufferReference {
    std::string text;
    int result = 0;
    bool signalled = false;

    void append(std::string chunk)
    {
        // Earlier text has no zero bytes left, so blanking the chunk blanks
        // the whole text.
        std::replace(chunk.begin(), chunk.end(), '\0', ' ');
        const std::size_t max = CommandEngine::kReplyTextMax;
        if (text.size() + chunk.size() <= max) {
            text += chunk;
        } else {
            std::size_t keep = std::min<std::size_t>(text.size(), 100);
            if (chunk.size() >= max) {
                chunk = chunk.substr(chunk.size() - max);
                keep = 0;
            } else if (keep + chunk.size() > max) {
                keep = max - chunk.size();
            }
            text = text.substr(text.size() - keep) + chunk;
        }
    }
    void onData(const std::string& chunk)
    {
        if (chunk.empty())
            return;
        append(chunk);
        if (std::strstr(text.c_str(), kOk.c_str())) {
            result = 1;
            signalled = true;
        }
        if (std::strstr(text.c_str(), kError.c_str())) {
            result = 2;
            signalled = true;
        }
    }
};

// A port that is never opened: SendCommand prepares for the reply (pending
// id, empty buffer, result 0) and then fails at once, which is all the
// receive side needs to recognise replies.
struct EngineOnClosedPort : ::testing::Test {
    CSerial port;
    test::SteppedClock clock; // nothing here may wait for a reply
    CommandEngine engine{port, clock};

    void arm(int id = kIdAt)
    {
        test::AsyncSend command(engine, clock, id);
        ASSERT_EQ(command.Result(), 0);
        ASSERT_EQ(engine.PendingId(), id);
        ASSERT_EQ(engine.ReplyLength(), 0);
        ASSERT_EQ(engine.ReplyResult(), 0);
    }
    void feed(const std::string& s) { engine.OnCommandData(static_cast<int>(s.size()), s.data()); }
};

TEST_F(EngineOnClosedPort, FormatsEveryRowOfTheTable)
{
    engine.Values().Set(0, "88");
    for (const AtCommandRow& row : AtCommandRows()) {
        std::string text = "junk";
        int r = engine.FormatCommand(row.id, text);
        if (row.command == nullptr) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(text, "");
            continue;
        }
        EXPECT_EQ(r, 1) << row.id;
        std::string expected = row.command;
        if (auto v = engine.Values().Get(row.id))
            expected += *v;
        expected += "\r\n";
        EXPECT_EQ(text, expected);
        EXPECT_LT(text.size(), static_cast<std::size_t>(CommandEngine::kLineBufferSize));
    }
    std::string text;
    EXPECT_EQ(engine.FormatCommand(0, text), 1);
    EXPECT_EQ(text, "AT+IDNT=88\r\n");
    engine.Values().Set(0, "");
    engine.FormatCommand(0, text);
    EXPECT_EQ(text, "AT+IDNT=\r\n");
    engine.FormatCommand(kIdShow, text);
    EXPECT_EQ(text, "AT+SHOW\r\n");
    engine.Values().Set(153, "?");
    engine.FormatCommand(153, text);
    EXPECT_EQ(text, "AT+CNTRVAL01?\r\n");
    engine.Values().Set(153, "");

    // The longest line: a 16-byte command with a 99-byte value.
    engine.Values().Set(83, std::string(150, '9'));
    engine.FormatCommand(83, text);
    EXPECT_EQ(text, "AT+CNTRSVTIME01=" + std::string(99, '9') + "\r\n");
    engine.Values().Set(83, "");

    for (int id : {145, -1, 165}) {
        text = "junk";
        EXPECT_EQ(engine.FormatCommand(id, text), 0);
        EXPECT_EQ(text, "");
    }
}

TEST_F(EngineOnClosedPort, UnknownIdsAndTheEndRowAreNeverSent)
{
    for (int id : {145, 999, kEndRowId}) {
        std::string text = "junk";
        EXPECT_EQ(engine.SendCommand(id, text), 0);
        EXPECT_EQ(text, "");
    }
}

TEST_F(EngineOnClosedPort, ClosedPortFailsAtOnceWithEmptyText)
{
    test::AsyncSend command(engine, clock, kIdShow);
    EXPECT_EQ(command.Result(), 0);
    EXPECT_EQ(command.Text(), "");
    EXPECT_EQ(clock.waitsBegun(), 0) << "waited for a reply";
    EXPECT_EQ(engine.PendingId(), kIdShow);
    EXPECT_EQ(engine.Execute(kIdShow).status, CommandStatus::NotSent);
}

TEST_F(EngineOnClosedPort, OkSplitAtEveryByteIsRecognisedWithItsLastByte)
{
    for (std::size_t cut = 1; cut < kOk.size(); ++cut) {
        arm();
        feed("ver 1.0" + kOk.substr(0, cut));
        EXPECT_EQ(engine.ReplyResult(), 0) << cut;
        feed(kOk.substr(cut));
        EXPECT_EQ(engine.ReplyResult(), 1) << cut;
    }
    // One byte per chunk.
    arm();
    for (char c : kError)
        feed(std::string(1, c));
    EXPECT_EQ(engine.ReplyResult(), 2);
}

TEST_F(EngineOnClosedPort, ZeroBytesAreReadAsBlanks)
{
    arm();
    feed(std::string("abc\0\0", 5) + kOk);
    EXPECT_EQ(engine.ReplyResult(), 1);
    EXPECT_EQ(engine.GetReplyText(), "abc  " + kOk);

    // A zero byte inside the reply text breaks it, as any other byte would.
    arm();
    feed(std::string("\r\nO\0K\r\n", 7));
    EXPECT_EQ(engine.ReplyResult(), 0);
}

TEST_F(EngineOnClosedPort, BothRepliesTogetherCountAsTheError)
{
    arm();
    feed(kOk + kError);
    EXPECT_EQ(engine.ReplyResult(), 2);
    arm();
    feed(kError + "x" + kOk);
    EXPECT_EQ(engine.ReplyResult(), 2);
    // The error reply arriving after the OK reply still turns the result.
    arm();
    feed(kOk);
    EXPECT_EQ(engine.ReplyResult(), 1);
    feed("late" + kError);
    EXPECT_EQ(engine.ReplyResult(), 2);
}

TEST_F(EngineOnClosedPort, EmptyAndBadChunksChangeNothing)
{
    arm();
    feed("abc");
    engine.OnCommandData(0, "xyz");
    engine.OnCommandData(-4, "xyz");
    engine.OnCommandData(3, nullptr);
    engine.AppendReply(0, "xyz");
    engine.AppendReply(-1, "xyz");
    EXPECT_EQ(engine.GetReplyText(), "abc");
}

TEST_F(EngineOnClosedPort, AppendReplyCollectsWithoutRecognising)
{
    arm();
    engine.AppendReply(static_cast<int>(kOk.size()), kOk.data());
    EXPECT_EQ(engine.ReplyResult(), 0);
    EXPECT_TRUE(engine.ReplyContains("OK"));
    // The next checked chunk searches what was appended unchecked too.
    feed("x");
    EXPECT_EQ(engine.ReplyResult(), 1);

    engine.ResetReply();
    EXPECT_EQ(engine.ReplyLength(), 0);
    EXPECT_EQ(engine.GetReplyText(), "");
    engine.AppendReply(9, "CONFIGURE");
    engine.AppendReply(9, " PROGRAM\n");
    EXPECT_TRUE(engine.ReplyContains("CONFIGURE PROGRAM"));
}

TEST_F(EngineOnClosedPort, NothingIsRecognisedBeforeTheFirstCommand)
{
    EXPECT_EQ(engine.PendingId(), -1);
    feed(kOk);
    EXPECT_EQ(engine.ReplyResult(), 0);
    EXPECT_EQ(engine.GetReplyText(), kOk);
}

TEST_F(EngineOnClosedPort, OverflowKeepsTheLast100BytesAndTheChunk)
{
    const int max = CommandEngine::kReplyTextMax;
    arm();
    std::string head(max - 10, 'a');
    head.replace(head.size() - 100, 100, std::string(100, 'b'));
    feed(head);
    feed(std::string(10, 'c')); // fits exactly
    EXPECT_EQ(engine.ReplyLength(), max);
    feed("d");
    std::string text = engine.GetReplyText();
    EXPECT_EQ(text, std::string(90, 'b') + std::string(10, 'c') + "d");

    // A reply that straddles the carry-over point is still found.
    arm();
    feed(std::string(max - 3, 'x') + "\r\nO");
    feed("K\r\n" + std::string(200, 'y'));
    EXPECT_EQ(engine.ReplyResult(), 1);
    EXPECT_EQ(engine.ReplyLength(), 100 + 203);

    // One whose beginning fell out of the kept bytes is not.
    arm();
    feed(std::string(max - 150, 'x') + "\r\nOK" + std::string(146, 'z'));
    EXPECT_EQ(engine.ReplyResult(), 0);
    feed("\r\n" + std::string(10, 'w'));
    EXPECT_EQ(engine.ReplyResult(), 0);
}

TEST_F(EngineOnClosedPort, HugeChunkKeepsItsLastBytes)
{
    const int max = CommandEngine::kReplyTextMax;
    arm();
    feed(std::string(50, 'p'));
    // Fits behind the kept bytes only in part: the kept bytes give way.
    std::string chunk(max - 20, 'q');
    feed(chunk);
    EXPECT_EQ(engine.GetReplyText(), std::string(20, 'p') + chunk);
    feed(std::string(1000, 'r'));
    std::string big = std::string(max + 500, 's') + kOk;
    feed(big);
    std::string text = engine.GetReplyText();
    EXPECT_EQ(static_cast<int>(text.size()), max);
    EXPECT_EQ(text, big.substr(big.size() - max));
    EXPECT_EQ(engine.ReplyResult(), 1);
    // The largest chunk a read can give, on top of a full buffer.
    feed(std::string(kReadChunkMax, 't'));
    EXPECT_EQ(engine.ReplyLength(), max);
}

TEST_F(EngineOnClosedPort, ResultFollowsTheTextAfterAnOverflow)
{
    // The error reply falls out of the buffer while an OK reply stays: the
    // text now holds only the OK reply, and the result says so.
    const int max = CommandEngine::kReplyTextMax;
    arm();
    feed(kError);
    EXPECT_EQ(engine.ReplyResult(), 2);
    feed(std::string(max - 200, 'x') + kOk + std::string(50, 'y'));
    EXPECT_EQ(engine.ReplyResult(), 2);
    feed(std::string(200, 'z'));
    EXPECT_EQ(engine.ReplyResult(), 1);
}

// Random chunkings of random replies: after every chunk, the text and the
// result equal the whole-buffer search's. The replies are filler with
// pieces of both reply texts scattered in, dense where the buffer
// overflows, so that first occurrences fall on chunk borders and on the
// carry-over point.
TEST_F(EngineOnClosedPort, MatchesTheWholeBufferSearchOnRandomChunkings)
{
    std::mt19937 rng(20240611);
    const std::vector<std::string> pieces = {"\r", "\n", "O", "K", "E", "R",
                                             std::string(1, '\0'), "\r\nO", "K\r\n",
                                             "\r\nERR", "OR\r\n", "\r\nOK\r", kOk, kError};
    auto scatter = [&](std::string& s, std::size_t n) {
        while (n-- > 0) {
            if (rng() % 3 == 0)
                s += pieces[rng() % pieces.size()];
            else
                s.append(1 + rng() % 4, static_cast<char>('a' + rng() % 3));
        }
    };
    int overflowed = 0;
    int finals[3] = {0, 0, 0};
    for (int trial = 0; trial < 2000; ++trial) {
        arm();
        WholeBufferReference ref;
        std::string reply;
        int kind = trial % 10;
        if (kind >= 8) {
            // Past the end of the buffer: an optional early error reply that
            // will drop out, filler, then a dense tail around the overflow.
            if (rng() % 2)
                reply += kError;
            if (rng() % 4 == 0)
                reply += kOk;
            reply.append(CommandEngine::kReplyTextMax - 300 - rng() % 300, 'f');
            scatter(reply, 100 + rng() % 150);
            if (kind == 9 && rng() % 3 == 0)
                reply.append(80870 + rng() % 200, 'h'); // a chunk-sized run
        } else {
            scatter(reply, 1 + rng() % 60);
        }
        std::size_t pos = 0;
        int chunks = 0;
        bool bigStep = kind >= 8;
        while (pos < reply.size()) {
            std::size_t n;
            if (bigStep && pos < CommandEngine::kReplyTextMax - 1000) {
                n = CommandEngine::kReplyTextMax - 1000 - pos; // up to the dense part
            } else {
                switch (rng() % 8) {
                case 0: n = 0; break;
                case 1: case 2: case 3: n = 1; break;
                case 4: case 5: n = 1 + rng() % 6; break;
                case 6: n = 1 + rng() % 40; break;
                default: n = 1 + rng() % (rng() % 4 == 0 ? 90000 : 400); break;
                }
            }
            n = std::min(n, reply.size() - pos);
            std::string chunk = reply.substr(pos, n);
            pos += n;
            std::size_t before = ref.text.size();
            feed(chunk);
            ref.onData(chunk);
            if (ref.text.size() < before + chunk.size())
                ++overflowed;
            ++chunks;
            ASSERT_EQ(engine.ReplyResult(), ref.result) << "trial " << trial << " chunk " << chunks;
            ASSERT_EQ(engine.ReplyLength(), static_cast<int>(ref.text.size()));
            if (ref.text.size() < 2000 || chunks % 50 == 0 || pos == reply.size()) {
                ASSERT_EQ(engine.GetReplyText(), ref.text) << "trial " << trial;
            }
        }
        ++finals[ref.result];
    }
    // The chunkings reached every outcome and the overflow.
    EXPECT_GT(overflowed, 200);
    EXPECT_GT(finals[0], 100);
    EXPECT_GT(finals[1], 100);
    EXPECT_GT(finals[2], 100);
}

TEST_F(EngineOnClosedPort, ReceiveSideRunsBesideTheSender)
{
    // The receive thread keeps appending while the sender re-arms, reads
    // and resets: every read sees a whole, zero-free text.
    std::atomic<bool> stop{false};
    std::atomic<int> chunks{0};
    std::thread receiver([&] {
        std::string chunk = std::string(3000, 'r') + kOk;
        chunk[5] = '\0';
        while (!stop) {
            engine.OnCommandData(static_cast<int>(chunk.size()), chunk.data());
            ++chunks;
        }
    });
    for (int i = 0; i < 300 || chunks < 3000; ++i) {
        std::string text;
        engine.SendCommand(kIdAt, text);
        std::string reply = engine.GetReplyText();
        EXPECT_EQ(reply.find('\0'), std::string::npos);
        EXPECT_LE(reply.size(), static_cast<std::size_t>(CommandEngine::kReplyTextMax));
        if (i % 3 == 0)
            engine.ResetReply();
        int result = engine.ReplyResult();
        EXPECT_TRUE(result == 0 || result == 1);
    }
    stop = true;
    receiver.join();
}

} // namespace
} // namespace pell

namespace pell {
namespace {

TEST(ProcessEngine, OnAPortNotOpenACommandFailsAtOnce)
{
    CSerial port;
    CommandEngine engine(port, systemClock());
    ASSERT_FALSE(port.IsOpen());
    std::string text = "junk";
    int64_t start = monotonicUs();
    EXPECT_EQ(engine.SendCommand(kIdShow, text), 0);
    // Had it waited for a reply, the system clock would have taken the
    // whole 5000 ms time-out.
    EXPECT_LT(monotonicUs() - start, 5000000);
    EXPECT_EQ(text, "");
    EXPECT_EQ(engine.PendingId(), kIdShow);
}

} // namespace
} // namespace pell

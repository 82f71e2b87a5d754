// The engine on a line: the reply recognition on an in-process line, and
// over a pseudo-terminal (the port under test on the slave side, the receive
// dispatch thread feeding the engine, a scripted controller on the master
// side) what takes a real line: time-outs, late bytes, a port that closes.
#include "serial/ReceiveDispatcher.h"
#include "protocol/CommandEngine.h"
#include "tests/support/EngineRig.h"
#include "tests/support/FakeLine.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace pell {
namespace {

using namespace std::chrono_literals;
using test::AsyncSend;
using test::EngineRig;
using test::kPatience;
using test::PageStandIn;
using test::PtyPair;
using test::ScriptedController;
using test::SteppedClock;
using test::WaitUntil;

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

// Remembers every delay asked of it; runs them `speedup` times faster.
class RecordingClock : public Clock {
public:
    explicit RecordingClock(double speedup) : scaled_(speedup) {}
    std::chrono::microseconds duration(int ms) const override
    {
        std::lock_guard<std::mutex> lock(m_);
        asked_.push_back(ms);
        return scaled_.duration(ms);
    }
    std::size_t count() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return asked_.size();
    }
    std::vector<int> asked() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return asked_;
    }

private:
    ScaledClock scaled_;
    mutable std::mutex m_;
    mutable std::vector<int> asked_;
};

struct EngineOnLine : ::testing::Test {
    PtyPair pty;
    SteppedClock waitClock;           // time-outs pass only when the test says so
    RecordingClock pauseClock{200.0}; // the 1000 ms pause -> 5 ms
    EngineRig rig{waitClock, &pauseClock};
    CSerial& port = rig.port;
    CommandEngine& engine = rig.engine;
    const PageStandIn& feeder = rig.page;
    ScriptedController controller{pty, feeder};

    void SetUp() override { ASSERT_TRUE(rig.Attach(pty.slavePath())); }
    void TearDown() override
    {
        controller.Stop();
        rig.Detach();
    }
    // A command that ends without the clock moving: answered, refused or
    // failed at once.
    int send(int id, std::string& text) { return AsyncSend::Run(engine, waitClock, id, text); }
    // A command whose wait the test ends by moving the clock: waits for the
    // n-th wait on the clock to begin, then moves the clock by `ms`.
    void expire(int nthWait, int ms)
    {
        ASSERT_TRUE(waitClock.awaitWait(nthWait));
        waitClock.advance(ms);
    }
};

// The same engine on an in-process line: the controller's pieces reach the
// page's stand-in on the writing thread, without a pseudo-terminal or the
// receive dispatch thread.
struct EngineOnFakeLine : ::testing::Test {
    SteppedClock waitClock;
    RecordingClock pauseClock{200.0};
    test::FakeLine controller;
    CommandEngine engine{controller.Port(), waitClock, &pauseClock};
    PageStandIn feeder{engine};

    void SetUp() override { controller.DeliverTo(&feeder); }
    void TearDown() override { controller.Stop(); }
    int send(int id, std::string& text) { return AsyncSend::Run(engine, waitClock, id, text); }
};

// A value for every parameter, so that every line carries one.
void StoreSampleValues(ParamTable& values)
{
    for (int row = 0; row < ParamRowCount(); ++row) {
        int id = ParamRowId(row);
        if (id >= 153 && id <= 160)
            values.Set(id, "=" + std::to_string(id));
        else
            values.Set(id, "v" + std::to_string(id));
    }
}

void ClearValues(ParamTable& values)
{
    for (int row = 0; row < ParamRowCount(); ++row)
        values.Set(ParamRowId(row), "");
}

TEST_F(EngineOnFakeLine, EveryCommandIsSentAndAnsweredOk)
{
    StoreSampleValues(engine.Values());
    controller.Start([](const std::string&) { return std::vector<std::string>{"done" + kOk}; });
    std::vector<std::string> expected;
    for (const AtCommandRow& row : AtCommandRows()) {
        if (row.command == nullptr)
            continue;
        std::string line;
        ASSERT_EQ(engine.FormatCommand(row.id, line), 1);
        std::string text;
        std::size_t pauses = pauseClock.count();
        EXPECT_EQ(send(row.id, text), 1) << row.command;
        EXPECT_EQ(text, line);
        EXPECT_EQ(engine.ReplyResult(), kReplyOk);
        EXPECT_EQ(engine.PendingId(), row.id);
        EXPECT_EQ(pauseClock.count(), pauses + 1) << "one pause after the reply";
        EXPECT_EQ(engine.GetReplyText(), "done" + kOk);
        expected.push_back(line);
    }
    controller.Stop();
    EXPECT_EQ(controller.Lines(), expected);
    EXPECT_EQ(expected.size(), 163u);
    EXPECT_EQ(expected.front(), "AT\r\n");
    EXPECT_EQ(expected[1], "AT+IDNT=v0\r\n");
}

TEST_F(EngineOnFakeLine, EveryCommandAnsweredWithTheErrorFails)
{
    StoreSampleValues(engine.Values());
    controller.Start([](const std::string&) { return std::vector<std::string>{kError}; });
    int sent = 0;
    for (const AtCommandRow& row : AtCommandRows()) {
        if (row.command == nullptr)
            continue;
        std::string text = "junk";
        std::size_t pauses = pauseClock.count();
        EXPECT_EQ(send(row.id, text), 0) << row.command;
        EXPECT_EQ(text, "");
        EXPECT_EQ(engine.ReplyResult(), kReplyError);
        EXPECT_EQ(pauseClock.count(), pauses + 1) << "the error reply is paced too";
        ++sent;
    }
    controller.Stop();
    EXPECT_EQ(static_cast<int>(controller.Lines().size()), sent);
}

TEST_F(EngineOnFakeLine, EmptyValuesSendTheBareCommand)
{
    ClearValues(engine.Values());
    controller.Start([](const std::string&) { return std::vector<std::string>{kOk}; });
    std::string text;
    EXPECT_EQ(send(0, text), 1);
    EXPECT_EQ(text, "AT+IDNT=\r\n");
    EXPECT_EQ(send(kIdShow, text), 1);
    EXPECT_EQ(text, "AT+SHOW\r\n");
    controller.Stop();
    EXPECT_EQ(controller.Raw(), "AT+IDNT=\r\nAT+SHOW\r\n");
}

TEST_F(EngineOnFakeLine, RepliesSplitAtEveryByteAreRecognised)
{
    std::atomic<std::size_t> cut{1};
    controller.Start([&](const std::string&) {
        std::string reply = "+CSQ: 23,0" + kOk;
        std::size_t at = reply.size() - kOk.size() + cut.load();
        return std::vector<std::string>{reply.substr(0, at), reply.substr(at)};
    });
    for (std::size_t c = 1; c < kOk.size(); ++c) {
        cut = c;
        std::string text;
        EXPECT_EQ(send(kIdSignal, text), 1) << "cut after byte " << c;
        EXPECT_EQ(engine.GetReplyText(), "+CSQ: 23,0" + kOk);
    }
}

TEST_F(EngineOnFakeLine, ReplyByteByByte)
{
    controller.Start([](const std::string&) {
        std::vector<std::string> pieces;
        for (char c : "V3.5 build 7" + kOk)
            pieces.emplace_back(1, c);
        return pieces;
    });
    std::string text;
    EXPECT_EQ(send(kIdVersion, text), 1);
    EXPECT_EQ(engine.GetReplyText(), "V3.5 build 7" + kOk);
}

TEST_F(EngineOnFakeLine, ZeroByteBeforeTheOkReply)
{
    controller.Start([](const std::string&) {
        return std::vector<std::string>{std::string("\0\0noise\0", 8) + kOk};
    });
    std::string text;
    EXPECT_EQ(send(kIdAt, text), 1);
    EXPECT_EQ(engine.GetReplyText(), "  noise " + kOk);
}

TEST_F(EngineOnFakeLine, OkAndErrorInOneReplyIsTheError)
{
    controller.Start([](const std::string&) { return std::vector<std::string>{kOk + kError}; });
    std::string text = "junk";
    EXPECT_EQ(send(kIdAt, text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(engine.ReplyResult(), kReplyError);
}

TEST_F(EngineOnFakeLine, ReplyLongerThanTheBuffer)
{
    controller.Start([](const std::string&) {
        std::vector<std::string> pieces;
        for (int i = 0; i < 9; ++i)
            pieces.push_back(std::string(10000, static_cast<char>('a' + i)));
        pieces.push_back("tail" + kOk);
        return pieces;
    });
    std::string text;
    EXPECT_EQ(send(kIdShow, text), 1);
    std::string reply = engine.GetReplyText();
    EXPECT_LE(reply.size(), static_cast<std::size_t>(CommandEngine::kReplyTextMax));
    EXPECT_EQ(reply.substr(reply.size() - 4 - kOk.size()), "tail" + kOk);
}

TEST_F(EngineOnFakeLine, OkReplyStraddlingTheCarryOver)
{
    const int max = CommandEngine::kReplyTextMax;
    controller.Start([&](const std::string&) {
        return std::vector<std::string>{std::string(max - 3, 'r') + "\r\nO",
                                        "K\r\n" + std::string(300, 's')};
    });
    std::string text;
    EXPECT_EQ(send(kIdShow, text), 1);
    ASSERT_TRUE(WaitUntil([&] { return engine.ReplyLength() == 100 + 303; }, kPatience));
    EXPECT_EQ(engine.GetReplyText(), std::string(97, 'r') + kOk + std::string(300, 's'));
}

TEST_F(EngineOnLine, ClosedPortFailsAtOnceAndSendsNothing)
{
    controller.Start([](const std::string&) { return std::vector<std::string>{kOk}; });
    port.ClosePort();
    std::string text = "junk";
    std::size_t pauses = pauseClock.count();
    EXPECT_EQ(send(kIdShow, text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(pauseClock.count(), pauses);
    // Whatever reaches the far end now is the next command and nothing else.
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_EQ(send(kIdAt, text), 1);
    controller.Stop();
    EXPECT_EQ(controller.Raw(), "AT\r\n");
}

TEST_F(EngineOnLine, FailedWriteLeavesTheTextEmpty)
{
    pty.closeMaster();
    pty.closeSlaveHandle();
    std::string text = "junk";
    std::size_t pauses = pauseClock.count();
    EXPECT_EQ(send(kIdAt, text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(pauseClock.count(), pauses);
    // It failed on the write, without waiting for a reply.
    EXPECT_EQ(waitClock.waitsBegun(), 0);
}

TEST_F(EngineOnLine, SilentControllerTimesOutWithoutPause)
{
    controller.Start([](const std::string&) { return std::vector<std::string>{}; });
    std::size_t pauses = pauseClock.count();
    {
        AsyncSend first(engine, waitClock, 0, AsyncSend::WithOutcome{}); // 1000 ms
        expire(1, 999);
        EXPECT_FALSE(first.Done()) << "ended before its time-out";
        waitClock.advance(1);
        // Timed out: it listens for a late answer before anything else can go.
        expire(2, CommandEngine::kLateWindowMs - 1);
        EXPECT_FALSE(first.Done()) << "ended before its late window";
        waitClock.advance(1);
        EXPECT_EQ(first.Outcome().status, CommandStatus::Unanswered);
        EXPECT_EQ(first.Outcome().line, "AT+IDNT=\r\n");
    }
    EXPECT_EQ(engine.ReplyResult(), kReplyNone);

    // The next command goes out at once.
    AsyncSend second(engine, waitClock, kIdShow); // 5000 ms
    ASSERT_TRUE(WaitUntil([&] { return controller.Lines().size() == 2; }, kPatience));
    expire(3, 4999);
    EXPECT_FALSE(second.Done()) << "ended before its time-out";
    waitClock.advance(1);
    expire(4, CommandEngine::kLateWindowMs);
    EXPECT_EQ(second.Result(), 0);
    EXPECT_EQ(second.Text(), "");
    EXPECT_EQ(pauseClock.count(), pauses) << "no answer, no pause";
}

// A reply that comes after the time-out belongs to the command that timed
// out: it is kept as that command's late answer (not confirmed, whatever it
// says) and never counts for the next command, which goes out only after it.
TEST_F(EngineOnLine, LateReplyIsTheTimedOutCommandsNotTheNext)
{
    struct Case {
        const char* what;
        int lateAfterMs;         // after the time-out
        std::string late;        // what the first command's reply finally is
        bool lateOk;
        std::string nextReply;   // the second command's own answer
        int nextResult;
    };
    const Case cases[] = {
        {"late OK at once, next refused", 0, "\r\nOK\r\n", true, kError, 0},
        {"late ERROR, next accepted", 2500, "busy" + kError, false, kOk, 1},
        {"late OK at the end of the window, next refused", CommandEngine::kLateWindowMs - 1, kOk, true, kError, 0},
    };
    engine.Values().Set(0, "88");
    engine.Values().Set(1, "13900000000");
    std::atomic<const Case*> now{nullptr};
    controller.Start([&](const std::string& line) {
        if (line.rfind("AT+IDNT=", 0) == 0)
            return std::vector<std::string>{}; // answered late, by the test
        return std::vector<std::string>{now.load()->nextReply};
    });
    int waits = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        now = &c;
        std::size_t lines = controller.Lines().size();
        std::size_t pauses = pauseClock.count();
        {
            AsyncSend first(engine, waitClock, 0, AsyncSend::WithOutcome{});
            expire(++waits, 1000);
            expire(++waits, c.lateAfterMs); // into the late window
            pty.send(c.late);
            EXPECT_EQ(first.Outcome().status, CommandStatus::AnsweredLate);
            EXPECT_EQ(first.Outcome().lateOk, c.lateOk);
            EXPECT_EQ(first.Outcome().reply, c.late);
            EXPECT_EQ(controller.Lines().size(), lines + 1) << "sent before the late answer came";
        }
        AsyncSend second(engine, waitClock, 1);
        ++waits; // the second command's own wait
        EXPECT_EQ(second.Result(), c.nextResult);
        EXPECT_EQ(engine.GetReplyText(), c.nextReply);
        EXPECT_EQ(pauseClock.count(), pauses + 2) << "paced after the late reply and after the answer";
        std::vector<std::string> got = controller.Lines();
        ASSERT_EQ(got.size(), lines + 2);
        EXPECT_EQ(got[lines], "AT+IDNT=88\r\n");
        EXPECT_EQ(got[lines + 1], "AT+PHON=13900000000\r\n");
    }
    EXPECT_EQ(waitClock.waitsBegun(), waits);
}

// Chatter without a reply does not stretch the late window.
TEST_F(EngineOnLine, ChatteringLineEndsTheLateWindowOnTime)
{
    controller.Start([](const std::string& line) {
        if (line == "AT+SHOW\r\n")
            return std::vector<std::string>{};
        return std::vector<std::string>{kOk};
    });
    {
        AsyncSend first(engine, waitClock, kIdShow, AsyncSend::WithOutcome{});
        expire(1, 5000);
        ASSERT_TRUE(waitClock.awaitWait(2));
        for (int i = 1; i <= 3; ++i) {
            pty.send("x");
            ASSERT_TRUE(WaitUntil([&] { return engine.ReplyLength() == i; }, kPatience));
            waitClock.advance(1000);
        }
        waitClock.advance(CommandEngine::kLateWindowMs - 3000);
        EXPECT_EQ(first.Outcome().status, CommandStatus::Unanswered);
        EXPECT_EQ(first.Outcome().reply, "xxx");
    }
    AsyncSend second(engine, waitClock, kIdAt);
    EXPECT_EQ(second.Result(), 1);
    EXPECT_EQ(engine.GetReplyText(), kOk);
    EXPECT_EQ(controller.Lines().size(), 2u);
}

// A reply that keeps arriving is no silent controller: the time-out counts
// again from its last byte, up to ten time-outs in all. A report on a slow
// line (9600 baud: about 6 s for AT+SHOW's 5000 ms) is read whole.
TEST_F(EngineOnLine, TimeOutCountsFromTheLastByteOfAReplyStillArriving)
{
    controller.Start([](const std::string&) { return std::vector<std::string>{}; }); // the test answers
    struct Case {
        const char* what;
        int chunkEveryMs; // a byte every so often, from the command on
        int chunkUntilMs; // the last one
        bool okAtEnd;     // the OK reply right after the last byte
        CommandStatus status;
        int64_t endedAt;  // on the clock, from the command
    } const cases[] = {
        {"a report trickling in, then OK", 4000, 12000, true, CommandStatus::Confirmed, 12000},
        {"a whole time-out after the last byte", 4000, 4000, false, CommandStatus::Unanswered,
         4000 + 5000 + CommandEngine::kLateWindowMs},
        {"chatter beyond ten time-outs", 4000, 60000, false, CommandStatus::Unanswered,
         10 * 5000 + CommandEngine::kLateWindowMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int64_t start = waitClock.nowMs();
        AsyncSend show(engine, waitClock, kIdShow, AsyncSend::WithOutcome{});
        int received = 0;
        int64_t endedAt = -1;
        // One second at a time, each once the engine is waiting and no
        // wait is about to end.
        for (int64_t t = 0; t <= 80000 && endedAt < 0; t += 1000) {
            if (t > 0) {
                ASSERT_TRUE(WaitUntil([&] {
                    return show.Done() || (waitClock.waiting() == 1 && waitClock.settled());
                }, kPatience));
                if (show.Done()) {
                    endedAt = waitClock.nowMs() - start;
                    break;
                }
                waitClock.advance(1000);
            }
            if (t % c.chunkEveryMs == 0 && t > 0 && t <= c.chunkUntilMs) {
                ++received;
                pty.send(t == c.chunkUntilMs && c.okAtEnd ? "x" + kOk : "x");
                ASSERT_TRUE(WaitUntil([&] { return engine.ReplyLength() >= received; }, kPatience));
            }
        }
        if (endedAt < 0)
            endedAt = waitClock.nowMs() - start;
        EXPECT_EQ(show.Outcome().status, c.status);
        EXPECT_EQ(endedAt, c.endedAt);
    }
}

TEST_F(EngineOnLine, WrongAnswerIsNoAnswer)
{
    controller.Start([](const std::string&) {
        return std::vector<std::string>{"\r\nOK\n", "\r\nERR\r\n", "\r\nok\r\n"};
    });
    AsyncSend command(engine, waitClock, 0);
    ASSERT_TRUE(WaitUntil([&] { return engine.ReplyContains("\r\nok\r\n"); }, kPatience));
    expire(1, 1000);
    expire(2, CommandEngine::kLateWindowMs);
    EXPECT_EQ(command.Result(), 0);
    EXPECT_EQ(engine.ReplyResult(), kReplyNone);
}

TEST_F(EngineOnLine, LateBytesDoNotReachTheNextCommand)
{
    std::atomic<int> n{0};
    controller.Start([&](const std::string&) {
        if (n++ == 0)
            return std::vector<std::string>{kOk};
        return std::vector<std::string>{"second" + kOk};
    });
    std::string text;
    EXPECT_EQ(send(kIdAt, text), 1);
    // Trailing bytes after the first answer was taken. (Sent by the script
    // right behind the OK, they could reach the engine before the sender
    // wakes and take part in the first command's answer.)
    pty.send("late" + kError);
    ASSERT_TRUE(WaitUntil([&] { return engine.ReplyContains("late"); }, kPatience));
    EXPECT_EQ(send(kIdVersion, text), 1);
    EXPECT_EQ(engine.GetReplyText(), "second" + kOk);
}

// The AT+SHOW row's handler, given the engine so that it can make more
// bytes arrive while it runs.
CommandEngine* handlerEngine = nullptr;
std::string handlerFirstSaw;
bool handlerTextStayed = false;
const ParamTable* handlerValues = nullptr;
int handlerReturns = 1;

int StabilityCheckingHandler(const char* reply, int length, ParamTable& values)
{
    handlerValues = &values;
    handlerFirstSaw.assign(reply, static_cast<std::size_t>(length));
    const std::string more = "more bytes arriving meanwhile";
    handlerEngine->OnCommandData(static_cast<int>(more.size()), more.data());
    handlerTextStayed = std::string(reply, static_cast<std::size_t>(length)) == handlerFirstSaw &&
                        reply[length] == '\0';
    return handlerReturns;
}

TEST_F(EngineOnLine, ReportHandlerGetsAStableCopy)
{
    handlerEngine = &engine;
    engine.SetReportHandler(&StabilityCheckingHandler);
    controller.Start([](const std::string&) {
        return std::vector<std::string>{std::string("Debug Level:  3\r\n\0x", 19) + kOk};
    });
    std::string text;
    handlerReturns = 5;
    EXPECT_EQ(send(kIdShow, text), 5);
    EXPECT_EQ(text, "AT+SHOW\r\n");
    EXPECT_EQ(handlerFirstSaw, "Debug Level:  3\r\n x" + kOk);
    EXPECT_TRUE(handlerTextStayed);
    EXPECT_EQ(handlerValues, &engine.Values()) << "the handler fills the sending engine's values";
    EXPECT_TRUE(engine.ReplyContains("more bytes arriving meanwhile"));

    // A handler that rejects the reply fails the command; the pause stays.
    handlerReturns = 0;
    std::size_t pauses = pauseClock.count();
    EXPECT_EQ(send(kIdShow, text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(pauseClock.count(), pauses + 1);

    // Other rows never call it.
    handlerFirstSaw.clear();
    EXPECT_EQ(send(kIdVersion, text), 1);
    EXPECT_EQ(handlerFirstSaw, "");
    engine.SetReportHandler(nullptr);
    handlerEngine = nullptr;
}

TEST_F(EngineOnLine, CancelEndsTheWaitAtOnce)
{
    controller.Start([](const std::string&) { return std::vector<std::string>{}; });
    {
        AsyncSend command(engine, waitClock, kIdShow);
        ASSERT_TRUE(waitClock.awaitWait(1));
        engine.CancelWait();
        EXPECT_EQ(command.Result(), 0);
        EXPECT_EQ(command.Text(), "");
    }
    EXPECT_EQ(waitClock.nowMs(), 0);

    // The next command is not cancelled: it goes out and is answered.
    controller.Stop();
    ScriptedController answering(pty, feeder);
    answering.Start([](const std::string&) { return std::vector<std::string>{kOk}; });
    AsyncSend next(engine, waitClock, kIdAt);
    EXPECT_EQ(next.Result(), 1);
}

// Closing the port while a command waits ends the wait at once.
TEST_F(EngineOnLine, PortClosedMidCommandEndsTheWait)
{
    controller.Start([](const std::string&) { return std::vector<std::string>{}; });
    AsyncSend command(engine, waitClock, kIdShow);
    ASSERT_TRUE(waitClock.awaitWait(1));
    port.ClosePort();
    EXPECT_EQ(command.Result(), 0);
    EXPECT_EQ(command.Text(), "");
    EXPECT_EQ(waitClock.nowMs(), 0) << "not by its time-out";
}

bool endsWithLeave(std::string_view reply)
{
    return reply.size() >= 9 && reply.substr(reply.size() - 9) == "\r\nleave\r\n";
}

// A reply that ends without the row's OK text: the caller's test for its
// end answers the command, and the rest of a reply is awaited after the
// pause (ended by its end, the clock, the line going away or a cancel).
TEST_F(EngineOnLine, CallerToldReplyEndsAndTheRestOfAReplyIsAwaited)
{
    engine.Values().Set(kIdRecords, "");
    controller.Start([](const std::string& line) {
        if (line == "AT+RDNFCRCRD=\r\n")
            return std::vector<std::string>{"Record:1;a\r\n", "\r\nleave\r\n"};
        return std::vector<std::string>{};
    });
    // Answered at the batch marker: no time-out, the usual pause.
    std::string text;
    const std::size_t pauses = pauseClock.count();
    int result = -1;
    {
        std::thread sender([&] { result = engine.SendCommand(kIdRecords, text, endsWithLeave); });
        sender.join();
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(text, "AT+RDNFCRCRD=\r\n");
    EXPECT_EQ(engine.GetReplyText(), "Record:1;a\r\n\r\nleave\r\n");
    EXPECT_EQ(pauseClock.count(), pauses + 1);
    std::size_t pausesSoFar = pauseClock.count();
    // Already complete: the wait for the rest returns at once, no pause.
    EXPECT_TRUE(engine.WaitForReplyEnd(endsWithLeave, 4000));
    EXPECT_EQ(pauseClock.count(), pauses + 1);

    const auto never = [](std::string_view) { return false; };
    struct Case {
        const char* name;
        std::function<void()> end; // ends the wait for the rest
    };
    const Case cases[] = {
        {"the clock runs out", [&] { expire(waitClock.waitsBegun(), 4000); }},
        {"the wait is cancelled", [&] { engine.CancelWait(); }},
    };
    const auto waitForRest = [&](const std::function<void()>& end) {
        const int begun = waitClock.waitsBegun();
        std::atomic<bool> done{false};
        bool ended = true;
        std::thread waiter([&] {
            ended = engine.WaitForReplyEnd(never, 4000);
            done = true;
        });
        ASSERT_TRUE(waitClock.awaitWait(begun + 1));
        end();
        ASSERT_TRUE(WaitUntil([&] { return done.load(); }, std::chrono::seconds(30)));
        waiter.join();
        EXPECT_FALSE(ended);
        EXPECT_EQ(pauseClock.count(), pausesSoFar) << "no pause without an answer";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        waitForRest(c.end);
    }
    // The next command starts afresh; its line then goes away.
    {
        std::thread sender([&] { result = engine.SendCommand(kIdRecords, text, endsWithLeave); });
        sender.join();
    }
    EXPECT_EQ(result, 1);
    pausesSoFar = pauseClock.count();
    SCOPED_TRACE("the line goes away");
    waitForRest([&] { port.ClosePort(); });
}

} // namespace
} // namespace pell

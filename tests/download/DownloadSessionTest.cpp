// The download session against a boot loader played by the test on a
// pseudo-terminal: starting, the handshake, the acknowledgement rules, the
// retries from block 1, cancelling and the port going away.
#include "download/DownloadSession.h"
#include "download/DownloadTexts.h"
#include "tests/download/FakeDownloadView.h"
#include "tests/download/LateHandshakeCases.h"
#include "tests/download/TempImage.h"
#include "tests/support/PtyPair.h"

#include "tests/download/LogLines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {


constexpr auto kLong = 60s; // far beyond what a busy machine needs

bool Eventually(const std::function<bool()>& condition)
{
    return WaitUntil(condition, kLong);
}

// A port, a page without a window and a session; the test plays the boot
// loader on the pseudo-terminal's far end. Both clocks stand still: the
// handshake timer never ticks by itself (the test calls OnTimer for each
// handshake byte) and a block times out only when the test advances the
// worker's clock.
struct Rig {
    explicit Rig(bool openPort = true)
    {
        if (openPort) {
            EXPECT_TRUE(port.OpenPort(pty.slavePath(), 115200, 0, 8, 0));
        }
        session = std::make_unique<DownloadSession>(view, port, clock, ticker);
        dispatcher.SetDownloadReceiver(session.get());
    }
    ~Rig()
    {
        dispatcher.Stop();
        session.reset();
        port.ClosePort();
    }
    void Run()
    {
        session->Init();
        dispatcher.Start();
    }
    bool WaitIdle() { return Eventually([this] { return !session->IsDownloadActive(); }); }
    // Once the worker waits for a block's answer on its clock, moves the
    // clock past the answer time-out.
    void TimeOutTheBlock()
    {
        ASSERT_TRUE(Eventually([this] { return session->AwaitingAnswer(); }));
        ASSERT_TRUE(clock.awaitWaiting(1, kLong));
        clock.advance(DownloadSession::kAckTimeoutMs);
    }
    void Feed(const std::string& s) { session->OnPortData(static_cast<int>(s.size()), s.data()); }

    // Reads the far end until `until` holds for what arrived, or kLong passed.
    std::string ReadUntil(const std::function<bool(const std::string&)>& until)
    {
        auto end = std::chrono::steady_clock::now() + kLong;
        while (!until(inbox) && std::chrono::steady_clock::now() < end)
            inbox += pty.receive(20ms);
        return inbox;
    }
    // Waits for the loader handshake, answers it and reads up to the 0x06.
    // `before` are the bytes that may come ahead of the 'P's.
    void AnswerLoaderHandshake(const char* before = "P")
    {
        // After an error the worker logs its line before it goes back to the handshake.
        ASSERT_TRUE(Eventually([this] { return session->State() == DownloadState::LoaderHandshake; }));
        ASSERT_EQ(session->OnTimer(), 'P'); // the timer's tick
        ReadUntil([](const std::string& s) { return s.find('P') != std::string::npos; });
        ASSERT_NE(inbox.find('P'), std::string::npos) << "no 'P' handshake";
        ASSERT_EQ(inbox.find_first_not_of(before), std::string::npos) << "unexpected handshake bytes";
        pty.send("P");
        ReadUntil([](const std::string& s) { return s.find('\x06') != std::string::npos; });
        size_t go = inbox.find('\x06');
        ASSERT_NE(go, std::string::npos) << "no 0x06 after the boot loader's 'P'";
        // 'P's already on their way when the answer came may precede it.
        ASSERT_EQ(inbox.substr(0, go).find_first_not_of('P'), std::string::npos);
        inbox.erase(0, go + 1);
    }
    // Reads one block frame of n data bytes.
    // Starts the download of `image` as the page's button does, answers the
    // loader's handshake and takes the first frame (`length` data bytes).
    std::string StartAndTakeFirstFrame(const TempImage& image, size_t length)
    {
        Run();
        session->OnDownloadButton(image.Path(), "");
        AnswerLoaderHandshake();
        return TakeFrame(length);
    }

    std::string TakeFrame(size_t n)
    {
        ReadUntil([n](const std::string& s) { return s.size() >= n + 5; });
        std::string frame = inbox.substr(0, n + 5);
        inbox.erase(0, std::min(inbox.size(), n + 5));
        return frame;
    }

    PtyPair pty;
    CSerial port;
    FakeDownloadView view;
    ManualClock clock;
    ManualClock ticker;
    std::unique_ptr<DownloadSession> session;
    ReceiveDispatcher dispatcher{port};
    std::string inbox;
};

void ExpectFrameOf(const std::string& frame, const std::string& image, size_t offset, size_t n,
                   char end)
{
    ASSERT_EQ(frame.size(), n + 5);
    EXPECT_EQ(frame[0], '\x02');
    EXPECT_EQ(static_cast<uint8_t>(frame[1]), n >> 8);
    EXPECT_EQ(static_cast<uint8_t>(frame[2]), n & 0xFF);
    EXPECT_TRUE(frame.compare(3, n, image, offset, n) == 0) << "block data differs";
    char sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum ^= image[offset + i];
    EXPECT_EQ(frame[3 + n], sum);
    EXPECT_EQ(frame[4 + n], end);
}

// ---------------------------------------------------------------- starting

TEST(DownloadStart, RefusesWithoutPortOrFileWithTheirBoxes)
{
    TempImage image(100);
    {
        Rig rig(false);
        EXPECT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::NoPort);
        auto boxes = rig.view.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, Gbk("请先打开串口"));
        EXPECT_EQ(boxes[0].caption, Gbk("提示"));
        EXPECT_FALSE(rig.session->IsDownloadActive());
    }
    Rig rig;
    EXPECT_EQ(rig.session->OnDownloadButton("", ""), DownloadSession::Toggle::NoFile);
    auto boxes = rig.view.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Gbk("请先选择文件"));
    EXPECT_EQ(boxes[0].caption, Gbk("提示"));

    EXPECT_EQ(rig.session->OnDownloadButton(image.Dir() + "/missing.bin", ""),
              DownloadSession::Toggle::FileError);
    EXPECT_EQ(rig.view.fileErrors.load(), 1);
    EXPECT_EQ(rig.view.lastFileError.load(), ENOENT);
    EXPECT_EQ(rig.session->OnDownloadButton(image.Dir(), ""), DownloadSession::Toggle::FileError);
    EXPECT_EQ(rig.view.fileErrors.load(), 2);
    EXPECT_EQ(rig.view.FileReason(), "is not a regular file (a folder)") << "the box says what it is";

    EXPECT_FALSE(rig.session->IsDownloadActive());
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    EXPECT_EQ(rig.view.activeLooks.load(), 0);
    EXPECT_TRUE(rig.view.Messages().empty());
    EXPECT_EQ(rig.view.promptsShown.load(), 0);
}

TEST(DownloadStart, EmptyAndOneMebibyteImagesAreRefusedWithTheLengthBox)
{
    Rig rig;
    for (size_t size : {size_t{0}, size_t{1048576}, size_t{1048577}}) {
        TempImage image(size);
        EXPECT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::BadLength)
            << size;
        auto boxes = rig.view.Boxes();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back().text, Gbk("请先选择文件"));
        EXPECT_EQ(boxes.back().caption, Gbk("文件长度错误"));
        EXPECT_EQ(rig.session->ImageLength(), 0u);
        EXPECT_FALSE(rig.session->IsDownloadActive());
    }
    EXPECT_TRUE(rig.view.Messages().empty());
}

TEST(DownloadStart, LargestImageStartsWith256BlocksAndTheActiveLook)
{
    Rig rig;
    TempImage image(1048575);
    EXPECT_EQ(rig.session->OnDownloadButton(image.Path(), Gbk("应用程序")),
              DownloadSession::Toggle::Started);
    EXPECT_TRUE(rig.view.Boxes().empty());
    EXPECT_EQ(rig.session->ImageLength(), 1048575u);
    EXPECT_EQ(rig.session->SentOffset(), 0u);
    EXPECT_EQ(rig.view.progressRange.load(), 256);
    EXPECT_TRUE(rig.view.activeLook.load());
    EXPECT_EQ(rig.view.promptsShown.load(), 1);
    EXPECT_TRUE(rig.session->IsDownloadActive());
    EXPECT_EQ(rig.session->State(), DownloadState::LoaderHandshake);
    ASSERT_EQ(rig.view.Messages().size(), 1u);
    EXPECT_EQ(rig.view.Messages()[0], kBegin);

    // The button again resets: nothing sent, nothing logged.
    EXPECT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::Reset);
    EXPECT_FALSE(rig.view.activeLook.load());
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    EXPECT_EQ(rig.session->ImageLength(), 0u);
    EXPECT_EQ(rig.view.Messages().size(), 1u);
    EXPECT_EQ(rig.pty.receive(0ms), "");
}

TEST(DownloadStart, OnlyTheTypedBootProgramTextSelectsTheBootHandshake)
{
    Rig rig;
    TempImage image(10);
    const std::pair<std::string, DownloadState> cases[] = {
        {Gbk("引导程序"), DownloadState::BootBanner},
        {Gbk("应用程序"), DownloadState::LoaderHandshake},
        {Gbk("引导程序 "), DownloadState::LoaderHandshake},
        {"", DownloadState::LoaderHandshake},
        {"boot", DownloadState::LoaderHandshake},
    };
    for (const auto& [type, state] : cases) {
        ASSERT_EQ(rig.session->ToggleDownload(image.Path(), type), DownloadSession::Toggle::Started);
        EXPECT_EQ(rig.session->State(), state);
        rig.session->ToggleDownload();
    }
}

// ---------------------------------------------------------------- receiving

TEST(DownloadReceive, BootBannerWaitsForBootUpdateAcrossChunksAndZeros)
{
    Rig rig;
    TempImage image(10);
    rig.session->ToggleDownload(image.Path(), Gbk("引导程序"));
    EXPECT_EQ(rig.session->OnTimer(), 'B');
    rig.Feed(std::string("\0\0boot", 6));
    EXPECT_EQ(rig.session->State(), DownloadState::BootBanner);
    EXPECT_EQ(rig.session->OnTimer(), 'B');
    rig.Feed(std::string(" up\0", 4)); // a zero inside does not join the words
    rig.Feed("date\r\n");
    EXPECT_EQ(rig.session->State(), DownloadState::BootBanner);
    rig.Feed(std::string("\0\0\0boot up", 10));
    rig.Feed("date ok\r\n");
    EXPECT_EQ(rig.session->State(), DownloadState::LoaderHandshake);
    EXPECT_EQ(rig.session->OnTimer(), 'P');
    EXPECT_EQ(rig.pty.receiveExactly(3, kLong), "BBP");
    EXPECT_TRUE(rig.view.Messages().size() == 1); // only the start line
}

TEST(DownloadReceive, LoaderPresentWhenItsPComesFirstOrBehindLineNoise)
{
    const std::pair<std::string, bool> cases[] = {
        {"P", true},
        {"P\r\n", true},
        {"PP", true},
        {std::string("\0\0\xff\x7f#~\0P", 8), true}, // noise in the same chunk
        {"\r\nP", true},
        {"xP", false},
        {" P", false},
        {"\r\nboot update, waiting for P\r\n", false}, // a text, not the answer
        {std::string("\0\0", 2), false},
        {"p", false},
    };
    Rig rig;
    TempImage image(10);
    for (const auto& [chunk, present] : cases) {
        rig.session->ToggleDownload(image.Path(), "");
        rig.Feed(chunk);
        EXPECT_EQ(rig.session->State(),
                  present ? DownloadState::LoaderReady : DownloadState::LoaderHandshake)
            << ::testing::PrintToString(chunk);
        // No handshake bytes once the loader is there.
        EXPECT_EQ(rig.session->OnTimer(), present ? 0 : 'P');
        rig.session->ToggleDownload();
    }
    EXPECT_EQ(rig.view.promptsClosed.load(), 5);
}

TEST(DownloadReceive, ErrorReportClearsTheWindowAndLogsNothing)
{
    Rig rig;
    TempImage image(10);
    rig.session->ToggleDownload(image.Path(), "");
    rig.Feed("boot er");
    EXPECT_EQ(rig.session->AckResult(), kAckNone);
    rig.Feed("r_3\r\n");
    EXPECT_EQ(rig.session->AckResult(), kAckRejected);
    EXPECT_EQ(rig.session->ReplyText(), "");
    EXPECT_EQ(rig.session->State(), DownloadState::LoaderHandshake);
    EXPECT_EQ(rig.view.Messages().size(), 1u);
    // A 'P' chunk that also carries an error report: loader present, window cleared.
    rig.Feed("Perr_");
    EXPECT_EQ(rig.session->State(), DownloadState::LoaderReady);
    EXPECT_EQ(rig.session->ReplyText(), "");
}

TEST(DownloadReceive, EmptyChunksAndIdlePagesChangeNothing)
{
    Rig rig;
    rig.session->OnPortData(0, "P");
    rig.Feed("P");
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    EXPECT_EQ(rig.session->AckResult(), kAckNone);
    EXPECT_EQ(rig.session->OnTimer(), 0);
}

TEST(DownloadReceive, TheTimerSendsNothingWhileThePortIsClosed)
{
    Rig rig;
    TempImage image(10);
    rig.session->ToggleDownload(image.Path(), "");
    rig.port.ClosePort();
    EXPECT_EQ(rig.session->OnTimer(), 0);
}

// ---------------------------------------------------------------- the log

TEST(DownloadLog, StartsWithTheBannerAndIsEmptiedAtOneMebibyte)
{
    Rig rig;
    EXPECT_EQ(rig.session->LogText(), Gbk("******下载工具软件版本：V1.2.1******\r\n"));
    rig.session->AppendLog(std::string(1048576, 'x'));
    EXPECT_GE(rig.session->LogText().size(), 1048576u);
    rig.session->AppendLog("next\r\n");
    std::string log = rig.session->LogText();
    ASSERT_EQ(log.size(), 27u + 6u);
    EXPECT_EQ(log.substr(0, 6), "<Time:");
    EXPECT_EQ(log.substr(25), ">:next\r\n");
    EXPECT_EQ(rig.view.Log(), log);
    rig.session->ClearLog();
    EXPECT_EQ(rig.session->LogText(), "");
    EXPECT_EQ(rig.view.Log(), "");
}

TEST(DownloadLog, LinesFromTwoThreadsReachThePageInTheLogsOrder)
{
    Rig rig;
    rig.session->ClearLog();
    auto writer = [&](char tag) {
        for (int i = 0; i < 2000; ++i)
            rig.session->AppendLog(std::string(1, tag) + std::to_string(i) + "\r\n");
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    EXPECT_EQ(rig.view.Log(), rig.session->LogText());
    EXPECT_EQ(rig.view.Messages().size(), 4000u);
}

// ---------------------------------------------------------------- idle

// Nothing under way: the worker sleeps without a wait on either clock until
// a start; the handshake then ticks every 500 ms of the ticker; a cancel puts
// it back to sleep.
TEST(DownloadIdle, WorkerSleepsUntilAStartAndTicksTheHandshakeOnlyWhileItRuns)
{
    Rig rig;
    TempImage image(10);
    rig.Run();
    ASSERT_TRUE(Eventually([&] { return rig.session->WorkerParked(); }));
    rig.ticker.advance(10000);
    rig.clock.advance(10000);
    EXPECT_EQ(rig.ticker.waitsBegun(), 0);
    EXPECT_EQ(rig.clock.waitsBegun(), 0);

    ASSERT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::Started);
    for (int tick = 1; tick <= 3; ++tick) {
        ASSERT_TRUE(rig.ticker.awaitWait(tick, kLong)) << "tick " << tick;
        rig.ticker.advance(499);
        EXPECT_EQ(rig.ticker.waiting(), 1);
        EXPECT_EQ(rig.pty.receive(0ms), "") << "a handshake byte before its 500 ms";
        rig.ticker.advance(1);
        EXPECT_EQ(rig.pty.receiveExactly(1, kLong), "P") << "tick " << tick;
    }
    ASSERT_TRUE(rig.ticker.awaitWait(4, kLong));
    EXPECT_EQ(rig.clock.waitsBegun(), 0); // no block, no answer wait

    rig.session->OnDownloadButton("", "");
    ASSERT_TRUE(Eventually([&] { return rig.session->WorkerParked(); }));
    rig.ticker.advance(10000);
    rig.clock.advance(10000);
    EXPECT_EQ(rig.ticker.waitsBegun(), 4);
    EXPECT_EQ(rig.clock.waitsBegun(), 0);
    EXPECT_EQ(rig.pty.receive(0ms), "");
}

// ---------------------------------------------------------------- transfers

TEST(DownloadTransfer, FiveThousandBytesAsTwoBlocksThenIdle)
{
    Rig rig;
    TempImage image(5000);
    rig.Run();
    ASSERT_EQ(rig.session->OnDownloadButton(image.Path(), Gbk("应用程序")),
              DownloadSession::Toggle::Started);
    rig.AnswerLoaderHandshake();
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 0, 4096, 0x17);
    rig.pty.send("\x05");
    ExpectFrameOf(rig.TakeFrame(904), image.Bytes(), 4096, 904, 0x03);
    rig.pty.send("\x05");
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    EXPECT_FALSE(rig.view.activeLook.load());
    EXPECT_EQ(rig.view.Messages(), (std::vector<std::string>{kBegin, Ok(1), Ok(2), kSuccess}));
    EXPECT_EQ(rig.view.ProgressHistory(), (std::vector<int>{1, 2}));
    EXPECT_EQ(rig.view.progressRange.load(), 2);
    EXPECT_EQ(rig.view.progress.load(), 0); // reset hides and zeroes the bar
    EXPECT_GE(rig.view.rates.load(), 2);
    EXPECT_EQ(rig.view.LastRate().bytesDone, 5000u);
    EXPECT_EQ(rig.view.LastRate().secondsLeft, 0.0);
    EXPECT_EQ(rig.session->OnTimer(), 0); // no more handshake once done
}

TEST(DownloadTransfer, RejectedBlockRestartsAtBlockOneAfterANewHandshake)
{
    Rig rig;
    TempImage image(3 * 4096);
    ExpectFrameOf(rig.StartAndTakeFirstFrame(image, 4096), image.Bytes(), 0, 4096, 0x17);
    rig.pty.send("\x05");
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 4096, 4096, 0x17);
    rig.pty.send("\x15");
    ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(Error(2)); }));
    EXPECT_EQ(rig.view.progress.load(), 1); // keeps its position meanwhile
    EXPECT_TRUE(rig.session->IsDownloadActive());
    rig.AnswerLoaderHandshake();
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 0, 4096, 0x17);
    rig.pty.send("\x05");
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 4096, 4096, 0x17);
    rig.pty.send("\x05");
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 8192, 4096, 0x03);
    rig.pty.send("\x05");
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.view.Messages(), (std::vector<std::string>{kBegin, Ok(1), Error(2), Ok(1), Ok(2),
                                                             Ok(3), kSuccess}));
    EXPECT_EQ(rig.view.ProgressHistory(), (std::vector<int>{1, 1, 2, 3}));
}

TEST(DownloadTransfer, PromptClosingAfterTheFirstBlockWentOutDoesNotDisturbIt)
{
    // The technician confirms the prompt only when the first block is
    // already waiting for its answer.
    Rig rig;
    TempImage image(4097);
    rig.Run();
    std::string first;
    rig.view.onPrompt = [&] {
        rig.AnswerLoaderHandshake();
        first = rig.TakeFrame(4096);
    };
    ASSERT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::Started);
    ExpectFrameOf(first, image.Bytes(), 0, 4096, 0x17);
    rig.pty.send("\x05");
    ExpectFrameOf(rig.TakeFrame(1), image.Bytes(), 4096, 1, 0x03);
    rig.pty.send("\x05");
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.view.Messages(), (std::vector<std::string>{kBegin, Ok(1), Ok(2), kSuccess}));
}

TEST(DownloadTransfer, AnswersOtherThan05CountAsRejections)
{
    for (const std::string& answer : {std::string("\x06"), std::string("\x15\x05"),
                                      std::string("err_\r\n"), std::string("P\x15")}) {
        Rig rig;
        TempImage image(10);
        rig.StartAndTakeFirstFrame(image, 10);
        rig.pty.send(answer);
        ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(Error(1)); }));
        EXPECT_FALSE(rig.view.HasMessage(kSuccess));
        EXPECT_TRUE(rig.session->IsDownloadActive());
    }
}

// The timer's second 'P' went out before the loader's first answer was
// handled; the loader answers it too, and that late 'P' (alone, behind noise,
// or in front of the block's answer) answers no block.
TEST(DownloadTransfer, LateHandshakeAnswerDuringTheFirstBlockIsNoAnswer)
{
    for (const auto& [late, answer] : test::kLateHandshakeCases) {
        Rig rig;
        TempImage image(4097);
        rig.StartAndTakeFirstFrame(image, 4096);
        ASSERT_TRUE(Eventually([&] { return rig.session->AwaitingAnswer(); }));
        if (!late.empty()) {
            rig.Feed(late); // as the dispatcher hands it over
            EXPECT_EQ(rig.session->AckResult(), kAckNone) << ::testing::PrintToString(late);
            EXPECT_TRUE(rig.session->AwaitingAnswer());
            EXPECT_EQ(rig.session->State(), DownloadState::Transfer);
        }
        rig.Feed(answer);
        ExpectFrameOf(rig.TakeFrame(1), image.Bytes(), 4096, 1, 0x03);
        rig.pty.send("\x05");
        ASSERT_TRUE(rig.WaitIdle());
        EXPECT_EQ(rig.view.Messages(), (std::vector<std::string>{kBegin, Ok(1), Ok(2), kSuccess}))
            << ::testing::PrintToString(late) << " " << ::testing::PrintToString(answer);
    }
}

TEST(DownloadTransfer, MissingAnswerTimesOutAndRestartsWithTheHandshake)
{
    Rig rig;
    TempImage image(4097);
    rig.StartAndTakeFirstFrame(image, 4096);
    // No answer: once 5 s have passed on the worker's clock, the timeout
    // line, then 'P' again.
    rig.TimeOutTheBlock();
    ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(Timeout(1)); }));
    EXPECT_EQ(rig.session->State(), DownloadState::LoaderHandshake);
    EXPECT_EQ(rig.session->SentOffset(), 0u);
    rig.AnswerLoaderHandshake();
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 0, 4096, 0x17);
    rig.pty.send("\x05");
    ExpectFrameOf(rig.TakeFrame(1), image.Bytes(), 4096, 1, 0x03);
    rig.pty.send("\x05");
    ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(kSuccess); }));
    EXPECT_EQ(rig.view.CountMessage(Timeout(1)), 1);
}

TEST(DownloadTransfer, CancelDuringABlockWaitReturnsToIdleAtOnce)
{
    Rig rig;
    TempImage image(8192);
    rig.StartAndTakeFirstFrame(image, 4096);
    rig.pty.send("\x05");
    rig.TakeFrame(4096);
    ASSERT_TRUE(Eventually([&] { return rig.session->AwaitingAnswer(); }));
    EXPECT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::Reset);
    EXPECT_FALSE(rig.view.activeLook.load());
    EXPECT_EQ(rig.view.progress.load(), 0);
    // The worker takes the wake-up as a rejected block (its clock never runs out).
    ASSERT_TRUE(Eventually([&] { return rig.view.Messages().size() == 3; }))
        << ::testing::PrintToString(rig.view.Messages());
    EXPECT_EQ(rig.view.Messages().back(), Error(1));
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    EXPECT_FALSE(rig.session->IsDownloadActive());
    EXPECT_EQ(rig.session->OnTimer(), 0); // no handshake bytes after a cancel
    // A late answer to the cancelled block is not routed and changes nothing.
    rig.pty.send("\x05");
    EXPECT_EQ(rig.pty.receive(100ms), "");
    EXPECT_EQ(rig.view.Messages().size(), 3u);

    // The page can start again and completes a download.
    ASSERT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::Started);
    rig.inbox.clear();
    rig.AnswerLoaderHandshake();
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 0, 4096, 0x17);
    rig.pty.send("\x05");
    ExpectFrameOf(rig.TakeFrame(4096), image.Bytes(), 4096, 4096, 0x03);
    rig.pty.send("\x05");
    ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(kSuccess); }));
}

TEST(DownloadTransfer, PortClosedDuringTransferLeavesThePageIdle)
{
    Rig rig;
    TempImage image(8192);
    rig.StartAndTakeFirstFrame(image, 4096);
    ASSERT_TRUE(Eventually([&] { return rig.session->AwaitingAnswer(); }));
    // What the main window does when the port is closed.
    rig.port.ClosePort();
    if (rig.session->IsDownloadActive())
        rig.session->ToggleDownload();
    EXPECT_FALSE(rig.view.activeLook.load());
    ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(Error(1)); }));
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    EXPECT_EQ(rig.view.Messages().size(), 2u);
}

TEST(DownloadTransfer, PortClosedWithoutResetKeepsRetryingUntilCancelled)
{
    Rig rig;
    TempImage image(8192);
    rig.StartAndTakeFirstFrame(image, 4096);
    rig.port.ClosePort();
    rig.TimeOutTheBlock();
    ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(Timeout(1)); }));
    EXPECT_EQ(rig.session->State(), DownloadState::LoaderHandshake);
    EXPECT_EQ(rig.session->OnTimer(), 0);
    rig.session->OnDownloadButton("", "");
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
}

TEST(DownloadTransfer, PageGoingAwayMidTransferStopsItsThreads)
{
    auto rig = std::make_unique<Rig>();
    TempImage image(8192);
    rig->Run();
    rig->session->OnDownloadButton(image.Path(), "");
    rig->AnswerLoaderHandshake();
    rig->TakeFrame(4096);
    // The worker waits for the block's answer on its clock, which never
    // runs out: only the stop ends that wait.
    ASSERT_TRUE(rig->clock.awaitWaiting(1, kLong));
    // The teardown joins the dispatcher, the worker and the timer. It runs on
    // a thread of its own, which owns the rig: a stop that never ends fails
    // here and leaves that thread behind.
    auto stopped = std::make_shared<std::atomic<bool>>(false);
    std::thread teardown([rig = std::move(rig), stopped]() mutable {
        rig.reset();
        stopped->store(true);
    });
    const bool inTime = WaitUntil([&] { return stopped->load(); }, kLong);
    EXPECT_TRUE(inTime) << "the page's threads did not stop within " << kLong.count() << " s";
    inTime ? teardown.join() : teardown.detach();
}

TEST(DownloadTransfer, BootProgramTypeSendsBUntilBootUpdateThenP)
{
    Rig rig;
    TempImage image(100);
    rig.Run();
    rig.session->OnDownloadButton(image.Path(), Gbk("引导程序"));
    EXPECT_EQ(rig.session->OnTimer(), 'B');
    EXPECT_EQ(rig.session->OnTimer(), 'B');
    rig.ReadUntil([](const std::string& s) { return s.size() >= 2; });
    EXPECT_EQ(rig.inbox, "BB");
    rig.pty.send(std::string("\0boot up", 8));
    rig.pty.send("date, waiting for P\r\n");
    ASSERT_TRUE(Eventually([&] { return rig.session->State() == DownloadState::LoaderHandshake; }));
    rig.inbox.clear();
    rig.AnswerLoaderHandshake();
    ExpectFrameOf(rig.TakeFrame(100), image.Bytes(), 0, 100, 0x03);
    rig.pty.send("\x05");
    ASSERT_TRUE(Eventually([&] { return rig.view.HasMessage(kSuccess); }));
}

} // namespace

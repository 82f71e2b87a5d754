// Whole downloads against the simulated boot loader over a pseudo-terminal:
// the images arrive byte for byte, the handshakes are the ones of the program
// type, and rejected or unanswered blocks, error reports, cancelling and a
// vanishing line end the way the technician expects.
#include "download/DownloadSession.h"
#include "sim/Simulator.h"
#include "tests/download/FakeDownloadView.h"
#include "tests/download/TempImage.h"
#include "tests/support/PtyPair.h"

#include "tests/download/LogLines.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {


sim::Options SimOptions()
{
    sim::Options o;
    o.autoPowerUp = true; // the handshake bytes switch the device on
    o.restartDelayMs = 50;
    return o;
}

constexpr auto kLong = 60s; // far beyond what a busy machine needs

bool Eventually(const std::function<bool()>& condition)
{
    return WaitUntil(condition, kLong);
}

// The simulator, the tool's port with its dispatcher, a page without a
// window and the session. The handshake ticks in real time (500 ms: it paces
// the exchange, no test races it); the answer waits run on a clock that only
// the test moves on, so a block times out exactly when a test advances it
// past the 5 s.
struct SimRig {
    explicit SimRig(const sim::Options& options = SimOptions()) : sim(options)
    {
        sim.SetObserver([this](sim::Traffic kind, const std::string& bytes) {
            std::lock_guard<std::mutex> lock(m);
            if (kind == sim::Traffic::Received)
                received += bytes;
            else if (kind == sim::Traffic::Sent)
                sent += bytes;
        });
        EXPECT_TRUE(sim.Start());
        EXPECT_TRUE(port.OpenPort(sim.PortPath(), 115200, 0, 8, 0));
        session = std::make_unique<DownloadSession>(view, port, clock, systemClock());
        dispatcher.SetDownloadReceiver(session.get());
        session->Init();
        dispatcher.Start();
    }
    ~SimRig()
    {
        dispatcher.Stop();
        session.reset();
        port.ClosePort();
        sim.Stop();
    }
    std::string Received() const
    {
        std::lock_guard<std::mutex> lock(m);
        return received;
    }
    std::string Sent() const
    {
        std::lock_guard<std::mutex> lock(m);
        return sent;
    }
    bool WaitIdle() { return Eventually([this] { return !session->IsDownloadActive(); }); }
    // Lets the block wait under way run out: once the worker waits for the
    // answer on the clock, the clock is moved past the answer time-out.
    void TimeOutTheBlock()
    {
        ASSERT_TRUE(Eventually([this] { return session->AwaitingAnswer(); }));
        ASSERT_TRUE(clock.awaitWaiting(1, kLong));
        clock.advance(DownloadSession::kAckTimeoutMs);
    }

    sim::Simulator sim;
    CSerial port;
    FakeDownloadView view;
    ManualClock clock;
    std::unique_ptr<DownloadSession> session;
    ReceiveDispatcher dispatcher{port};
    mutable std::mutex m;
    std::string received; // what the device read, in order
    std::string sent;     // what the device wrote, in order
};

std::vector<std::string> SuccessLog(int blocks)
{
    std::vector<std::string> lines{kBegin};
    for (int i = 1; i <= blocks; ++i)
        lines.push_back(Ok(i));
    lines.push_back(kSuccess);
    return lines;
}

std::vector<uint8_t> AsBytes(const std::string& s) { return {s.begin(), s.end()}; }

// ---------------------------------------------------------------- images

class DownloadSimImage : public ::testing::TestWithParam<size_t> {};

TEST_P(DownloadSimImage, ArrivesByteForByteInFramesOfTheRightShape)
{
    const size_t size = GetParam();
    const int blocks = static_cast<int>((size + 4095) / 4096);
    SimRig rig;
    TempImage image(size, static_cast<unsigned>(size));
    ASSERT_EQ(rig.session->OnDownloadButton(image.Path(), Gbk("应用程序")),
              DownloadSession::Toggle::Started);
    EXPECT_EQ(rig.view.progressRange.load(), blocks);
    ASSERT_TRUE(rig.WaitIdle());

    EXPECT_TRUE(rig.sim.ImageComplete());
    EXPECT_TRUE(rig.sim.ReceivedImage() == AsBytes(image.Bytes())) << "image differs";
    auto records = rig.sim.Blocks();
    ASSERT_EQ(records.size(), static_cast<size_t>(blocks));
    for (int i = 0; i < blocks; ++i) {
        const auto& r = records[i];
        const size_t expected = i + 1 < blocks ? 4096 : size - 4096 * (blocks - 1);
        EXPECT_EQ(r.number, i + 1);
        EXPECT_EQ(r.declaredLength, expected) << "block " << i + 1;
        EXPECT_EQ(r.dataLength, expected) << "block " << i + 1;
        EXPECT_EQ(r.endByte, i + 1 < blocks ? 0x17 : 0x03) << "block " << i + 1;
        EXPECT_EQ(r.answer, 0x05) << r.problem;
    }
    EXPECT_EQ(rig.sim.Loader().transfersStarted, 1);
    EXPECT_EQ(rig.view.Messages(), SuccessLog(blocks));
    EXPECT_EQ(static_cast<int>(rig.view.ProgressHistory().size()), blocks);
    EXPECT_EQ(rig.view.ProgressHistory().back(), blocks);
    EXPECT_FALSE(rig.view.activeLook.load());
    EXPECT_GE(rig.view.promptsClosed.load(), 1); // the loader's 'P' closed the prompt
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    // Application type: the boot-program handshake never went out.
    const std::string wire = rig.Received();
    EXPECT_EQ(wire.substr(0, wire.find('\x06')).find_first_not_of('P'), std::string::npos);
    EXPECT_EQ(rig.sim.Loader().bootRequests, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DownloadSimImage,
                         ::testing::Values(size_t{1}, size_t{4096}, size_t{4097}, size_t{8192},
                                           size_t{1048575}));

TEST(DownloadSim, ImagesOfNoneOrOneMebibyteAreRefusedAndNothingIsSent)
{
    SimRig rig;
    for (size_t size : {size_t{0}, size_t{1048576}}) {
        TempImage image(size);
        EXPECT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::BadLength);
        ASSERT_FALSE(rig.view.Boxes().empty());
        EXPECT_EQ(rig.view.Boxes().back().text, Gbk("请先选择文件"));
        EXPECT_EQ(rig.view.Boxes().back().caption, Gbk("文件长度错误"));
    }
    EXPECT_EQ(rig.view.Boxes().size(), 2u);
    EXPECT_FALSE(rig.session->IsDownloadActive());
    EXPECT_TRUE(rig.view.Messages().empty());
    EXPECT_EQ(rig.sim.PowerUps(), 0); // no handshake byte reached the device
}

// ---------------------------------------------------------------- handshakes

// The boot-program text: 'B' until "boot update" has arrived, then 'P' only.
void ExpectBootThenLoaderHandshake(const std::string& received)
{
    size_t firstP = received.find('P');
    ASSERT_NE(firstP, std::string::npos);
    EXPECT_GT(firstP, 0u);
    EXPECT_EQ(received.substr(0, firstP).find_first_not_of('B'), std::string::npos);
    size_t go = received.find('\x06', firstP);
    ASSERT_NE(go, std::string::npos);
    EXPECT_EQ(received.substr(firstP, go - firstP).find_first_not_of('P'), std::string::npos);
}

TEST(DownloadSim, BootProgramHandshakeWithBootUpdateSplitOverChunks)
{
    SimRig rig;
    sim::Faults f;
    f.splitAt = {4, 9}; // "\r\nbo" "ot up" "date, ..."
    f.chunkGapMs = 40;
    rig.sim.SetFaults(f);
    TempImage image(5000);
    rig.session->OnDownloadButton(image.Path(), Gbk("引导程序"));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.view.Messages(), SuccessLog(2));
    EXPECT_TRUE(rig.sim.ReceivedImage() == AsBytes(image.Bytes()));
    EXPECT_GE(rig.sim.Loader().bootUpdateReplies, 1);
    ExpectBootThenLoaderHandshake(rig.Received());
}

// Zero bytes and line noise in front of every text and of the loader's 'P'
// (in the same chunk): neither hides what the tool waits for.
TEST(DownloadSim, HandshakesBehindLineNoise)
{
    for (const char* type : {"引导程序", "应用程序"}) {
        SimRig rig;
        sim::Faults f;
        f.noise = true;
        rig.sim.SetFaults(f);
        TempImage image(5000);
        rig.session->OnDownloadButton(image.Path(), Gbk(type));
        ASSERT_TRUE(rig.WaitIdle()) << type;
        EXPECT_EQ(rig.view.Messages(), SuccessLog(2)) << type;
        EXPECT_TRUE(rig.sim.ReceivedImage() == AsBytes(image.Bytes())) << type;
        EXPECT_GE(rig.sim.Loader().loaderReplies, 1);
    }
}

// Two 'P's on their way before the first answer is handled: the loader
// answers both, and the second answer, arriving while the first block waits,
// is no answer to it.
TEST(DownloadSim, SecondHandshakeAnswerDuringTheFirstBlockIsNoError)
{
    SimRig rig;
    TempImage image(8192);
    rig.session->ToggleDownload(image.Path(), "");
    rig.port.Write("PP", 2); // two ticks of the timer, both on their way
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.view.Messages(), SuccessLog(2));
    EXPECT_GE(rig.sim.Loader().loaderReplies, 2);
    EXPECT_EQ(rig.sim.Loader().transfersStarted, 1);
    // On the wire every 'P' came before the 0x06.
    const std::string wire = rig.Received();
    EXPECT_EQ(wire.substr(0, wire.find('\x06')).find_first_not_of('P'), std::string::npos);
}

TEST(DownloadSim, ErrorReportsDuringTheHandshakeAreSilentlySkipped)
{
    SimRig rig;
    sim::Faults f;
    f.loaderErrors = 3;
    rig.sim.SetFaults(f);
    TempImage image(4097);
    rig.session->OnDownloadButton(image.Path(), "");
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.sim.Loader().errorReplies, 3);
    EXPECT_EQ(rig.view.Messages(), SuccessLog(2)); // nothing logged for them
    EXPECT_TRUE(rig.sim.ReceivedImage() == AsBytes(image.Bytes()));
}

// ---------------------------------------------------------------- retries

TEST(DownloadSim, RejectedBlockGoesBackToTheHandshakeAndBlockOne)
{
    SimRig rig;
    sim::Faults f;
    f.rejectBlock = 2;
    rig.sim.SetFaults(f);
    TempImage image(3 * 4096 + 10);
    rig.session->OnDownloadButton(image.Path(), "");
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.view.Messages(), (std::vector<std::string>{kBegin, Ok(1), Error(2), Ok(1), Ok(2),
                                                             Ok(3), Ok(4), kSuccess}));
    // The bar keeps block 1 until the first block of the new pass is accepted.
    EXPECT_EQ(rig.view.ProgressHistory(), (std::vector<int>{1, 1, 2, 3, 4}));
    EXPECT_EQ(rig.sim.Loader().transfersStarted, 2);
    EXPECT_TRUE(rig.sim.ReceivedImage() == AsBytes(image.Bytes()));

    // On the wire, after the rejection: 'P' handshake, 0x06, block 1 again.
    const std::string wire = rig.Received();
    const std::string block1 = std::string("\x02\x10\x00", 3) + image.Bytes().substr(0, 4096);
    size_t first = wire.find(block1);
    size_t again = wire.find(block1, first + 1);
    ASSERT_NE(again, std::string::npos) << "block 1 was not sent again";
    size_t block2 = first + block1.size() + 2;
    std::string between = wire.substr(block2 + 4101, again - block2 - 4101);
    ASSERT_GE(between.size(), 2u);
    EXPECT_EQ(between.back(), '\x06');
    EXPECT_EQ(between.substr(0, between.size() - 1).find_first_not_of('P'), std::string::npos);
}

TEST(DownloadSim, UnansweredBlockTimesOutAndStartsOver)
{
    SimRig rig;
    sim::Faults f;
    f.dropAckBlock = 1;
    rig.sim.SetFaults(f);
    TempImage image(8192);
    rig.session->OnDownloadButton(image.Path(), "");
    ASSERT_TRUE(Eventually([&] { return rig.sim.Blocks().size() == 1; }));
    rig.TimeOutTheBlock();
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.view.Messages(),
              (std::vector<std::string>{kBegin, Timeout(1), Ok(1), Ok(2), kSuccess}));
    EXPECT_EQ(rig.sim.Loader().transfersStarted, 2);
    EXPECT_TRUE(rig.sim.ReceivedImage() == AsBytes(image.Bytes()));
}

// ---------------------------------------------------------------- ending early

TEST(DownloadSim, CancelWhileWaitingForAnAnswer)
{
    SimRig rig;
    sim::Faults f;
    f.dropAckBlock = 2;
    rig.sim.SetFaults(f);
    TempImage image(3 * 4096);
    rig.session->OnDownloadButton(image.Path(), "");
    ASSERT_TRUE(Eventually([&] { return rig.sim.Blocks().size() == 2 && rig.session->AwaitingAnswer(); }));
    EXPECT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::Reset);
    EXPECT_FALSE(rig.view.activeLook.load());
    // Woken by the cancel (the clock never runs out): an error line.
    ASSERT_TRUE(Eventually([&] { return rig.view.Messages().size() == 3; }));
    EXPECT_EQ(rig.view.Messages().back(), Error(1));
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    // Asleep until the next start: no handshake tick, no answer wait.
    ASSERT_TRUE(Eventually([&] { return rig.session->WorkerParked(); }));
    const size_t before = rig.Received().size();
    EXPECT_FALSE(WaitUntil([&] { return rig.Received().size() != before; }, 1200ms))
        << "bytes sent after the cancel";
    EXPECT_EQ(rig.view.Messages().size(), 3u);
}

TEST(DownloadSim, PortClosedDuringTransfer)
{
    SimRig rig;
    rig.sim.SetBaud(115200); // a transfer long enough to close the port in it
    TempImage image(10 * 4096);
    rig.session->OnDownloadButton(image.Path(), "");
    ASSERT_TRUE(Eventually([&] { return rig.sim.Blocks().size() >= 2; }));
    // What the main window does when the user closes the port.
    rig.port.ClosePort();
    if (rig.session->IsDownloadActive())
        rig.session->ToggleDownload();
    EXPECT_FALSE(rig.view.activeLook.load());
    // The worker goes idle without the time-out: a block wait under way ends
    // in its error line, a reset between two blocks ends the loop silently.
    ASSERT_TRUE(Eventually([&] {
        return rig.session->State() == DownloadState::Idle && !rig.session->AwaitingAnswer();
    }));
    EXPECT_FALSE(rig.view.HasMessage(kSuccess));
    EXPECT_EQ(rig.view.CountMessage(Timeout(1)) + rig.view.CountMessage(Timeout(2)) +
                  rig.view.CountMessage(Timeout(3)),
              0);
}

TEST(DownloadSim, LineVanishingDuringTransfer)
{
    SimRig rig;
    rig.sim.SetBaud(115200);
    TempImage image(10 * 4096);
    rig.session->OnDownloadButton(image.Path(), "");
    ASSERT_TRUE(Eventually([&] { return rig.sim.Blocks().size() >= 2; }));
    rig.sim.CloseLine(); // the cable is pulled
    // The worker's wait ends in a timeout and it goes back to the handshake,
    // which a lost port does not send.
    ASSERT_TRUE(Eventually([&] { return rig.port.IsLost(); }));
    // A block may have been answered just before: move the clock on until
    // the wait for the block that gets no answer has run out (later waits
    // are idle pauses, which may run out as often as they like).
    ASSERT_TRUE(Eventually([&] {
        const auto messages = rig.view.Messages();
        if (messages.back().find("timeout error") != std::string::npos)
            return true;
        if (rig.session->AwaitingAnswer() && rig.clock.waiting() > 0)
            rig.clock.advance(DownloadSession::kAckTimeoutMs);
        return false;
    }));
    EXPECT_EQ(rig.session->State(), DownloadState::LoaderHandshake);
    EXPECT_TRUE(rig.session->IsDownloadActive());
    // The main window closes a lost port and resets the page.
    rig.port.ClosePort();
    rig.session->ToggleDownload();
    EXPECT_FALSE(rig.session->IsDownloadActive());
    EXPECT_EQ(rig.session->State(), DownloadState::Idle);
    EXPECT_FALSE(rig.view.activeLook.load());
}

// ---------------------------------------------------------------- results

// However a download ends, the session hands over how as a value, once.
TEST(DownloadSim, EndsAreReportedAsResults)
{
    using B = BlockRestart;
    struct Case {
        const char* name;
        int rejectBlock, dropAckBlock; // the simulator's faults
        std::function<void(SimRig&)> drive; // from the start to the end
        DownloadEnd end;
        int blocks;
        std::vector<BlockRestart> restarts;
    };
    const auto atBlock2 = [](SimRig& r) {
        ASSERT_TRUE(Eventually([&] { return r.sim.Blocks().size() == 2 && r.session->AwaitingAnswer(); }));
    };
    const Case cases[] = {
        {"clean", 0, 0, [](SimRig&) {}, DownloadEnd::Succeeded, 4, {}},
        {"rejected", 2, 0, [](SimRig&) {}, DownloadEnd::Succeeded, 4, {B{2, BlockFailure::Rejected}}},
        {"unanswered", 0, 2, [&](SimRig& r) { atBlock2(r); r.TimeOutTheBlock(); },
         DownloadEnd::Succeeded, 4, {B{2, BlockFailure::NoAnswer}}},
        {"cancelled", 0, 2, [&](SimRig& r) { atBlock2(r); r.session->OnDownloadButton({}, {}); },
         DownloadEnd::Cancelled, 1, {}},
        // The unanswered block restarts the image; a reset while the port is
        // still open but lost is no user's cancel.
        {"line vanished", 0, 2, [&](SimRig& r) {
             atBlock2(r);
             r.sim.CloseLine();
             ASSERT_TRUE(Eventually([&] { return r.port.IsLost(); }));
             r.TimeOutTheBlock();
             ASSERT_TRUE(Eventually([&] { return r.view.Failures().size() == 1; }));
             r.session->ToggleDownload();
         }, DownloadEnd::LineGone, 0, {B{2, BlockFailure::NoAnswer}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRig rig;
        rig.sim.UpdateFaults([&](sim::Faults& f) {
            f.rejectBlock = c.rejectBlock;
            f.dropAckBlock = c.dropAckBlock;
        });
        TempImage image(3 * 4096 + 10);
        ASSERT_EQ(rig.session->OnDownloadButton(image.Path(), ""), DownloadSession::Toggle::Started);
        c.drive(rig);
        ASSERT_TRUE(rig.WaitIdle());
        ASSERT_TRUE(Eventually([&] { return rig.session->WorkerParked(); }));
        const std::vector<DownloadResult> results = rig.view.Results();
        ASSERT_EQ(results.size(), 1u);
        const DownloadResult& r = results[0];
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.blocks, c.blocks);
        EXPECT_EQ(r.blockCount, 4);
        EXPECT_EQ(r.imageBytes, 3u * 4096 + 10);
        EXPECT_TRUE(r.loaderAnswered);
        EXPECT_EQ(r.restarts, c.restarts);
        EXPECT_EQ(rig.view.Failures(), c.restarts);
        ASSERT_TRUE(rig.session->LastResult());
        EXPECT_EQ(rig.session->LastResult()->end, c.end);
    }
}

// A start that is refused is no download: no end is reported, only kept.
TEST(DownloadSim, RefusedStartsAreKeptAsResults)
{
    SimRig rig;
    TempImage empty(0);
    const std::pair<std::string, DownloadEnd> cases[] = {
        {"", DownloadEnd::NoImage},
        {empty.Dir() + "/missing.bin", DownloadEnd::ImageUnreadable},
        {empty.Path(), DownloadEnd::BadLength},
    };
    for (const auto& [path, end] : cases) {
        EXPECT_NE(rig.session->OnDownloadButton(path, ""), DownloadSession::Toggle::Started);
        ASSERT_TRUE(rig.session->LastResult()) << path;
        EXPECT_EQ(rig.session->LastResult()->end, end) << path;
        EXPECT_EQ(rig.session->LastResult()->fileError != 0, end == DownloadEnd::ImageUnreadable) << path;
    }
    EXPECT_TRUE(rig.view.Results().empty());
}

} // namespace

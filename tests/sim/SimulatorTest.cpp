// The simulated controller on its pseudo-terminal, driven as the tool
// drives a real one: power-up, configuration mode, commands, the boot
// loader's transfer, and every misbehaviour it can be told to show.
#include "sim/BlockFrame.h"
#include "sim/ControllerModel.h"
#include "sim/Simulator.h"
#include "tests/support/PtyLine.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace pell::sim {
namespace {

using namespace std::chrono_literals;
using pell::test::PtyLine;
using pell::test::WaitUntil;
using Steady = std::chrono::steady_clock;

constexpr const char* kOk = "\r\nOK\r\n";
constexpr const char* kError = "\r\nERROR\r\n";

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool ReplyDone(const std::string& s)
{
    return EndsWith(s, kOk) || EndsWith(s, kError) || EndsWith(s, "\r\nleave\r\n");
}

// Waits far longer than a busy machine needs for a condition that must come.
constexpr auto kLong = 30s;
// Listening windows no test misses however busy the machine; tests that need
// a window to lapse shorten it (kLapse) and wait for the mode it leads to.
constexpr int kWindowMs = 600000;
constexpr int kLapseMs = 150;

bool Eventually(const std::function<bool()>& condition)
{
    return WaitUntil(condition, kLong);
}

Options Fast()
{
    Options o;
    o.loaderWindowMs = kWindowMs;
    o.configWindowMs = kWindowMs;
    o.restartDelayMs = 50;
    o.eraseMs = 50;
    return o;
}

Options Lapsing()
{
    Options o = Fast();
    o.loaderWindowMs = kLapseMs;
    o.configWindowMs = kLapseMs;
    return o;
}

std::string Image(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    return s;
}

class SimFixture : public ::testing::Test {
protected:
    void Begin(const Options& o = Fast())
    {
        sim = std::make_unique<Simulator>(o);
        ASSERT_TRUE(sim->Start());
        ASSERT_FALSE(sim->PortPath().empty());
        line = std::make_unique<PtyLine>(sim->PortPath());
        ASSERT_TRUE(line->ok());
    }

    void TearDown() override
    {
        line.reset();
        if (sim)
            sim->Stop();
    }

    void EnterConfiguration()
    {
        sim->PowerCycle();
        line->send("S");
        std::string got = line->readUntilContains("CONFIGURE PROGRAM");
        ASSERT_NE(got.find("CONFIGURE PROGRAM"), std::string::npos) << got;
        ASSERT_EQ(sim->CurrentMode(), Mode::Configuration);
        line->discardInput();
    }

    std::string Command(const std::string& text, std::chrono::milliseconds deadline = kLong)
    {
        line->send(text + "\r\n");
        return line->readUntil(ReplyDone, deadline);
    }

    // The tool's loader handshake: one 'P', once the loader no longer drops
    // what arrives after a refused frame, answered by exactly one 'P' (a
    // second 'P' in flight would be taken for the next block's answer).
    bool LoaderHandshake()
    {
        if (!Eventually([&] { return !sim->Discarding(); }))
            return false;
        line->send("P");
        return line->readExactly(1) == "P";
    }

    // Sends the image in frames after 0x06; returns the answer byte of each
    // frame (0 when none came).
    std::vector<int> Transfer(const std::string& image, std::chrono::milliseconds answerWait = kLong)
    {
        std::vector<int> answers;
        line->send(std::string(1, static_cast<char>(kTransferStart)));
        for (std::size_t at = 0; at < image.size(); at += kBlockMax) {
            std::size_t n = std::min(kBlockMax, image.size() - at);
            line->send(MakeBlockFrame(image.substr(at, n), at + n >= image.size()));
            std::string a = line->readExactly(1, answerWait);
            answers.push_back(a.empty() ? 0 : static_cast<uint8_t>(a[0]));
            if (a.empty() || static_cast<uint8_t>(a[0]) != kBlockAccepted)
                break;
        }
        return answers;
    }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<PtyLine> line;
};

// ---- power-up and modes ----

TEST_F(SimFixture, AnswersNoCommandUntilConfigurationMode)
{
    Begin(Lapsing());
    EXPECT_EQ(sim->CurrentMode(), Mode::Off);
    line->send("AT\r\n");
    EXPECT_EQ(line->readFor(300ms), "") << "a switched-off device says nothing";

    sim->PowerCycle();
    std::string boot = line->readUntilContains("System running");
    EXPECT_NE(boot.find("WC-3 well controller"), std::string::npos) << boot;
    EXPECT_EQ(boot.find("CONFIGURE PROGRAM"), std::string::npos);
    EXPECT_EQ(sim->CurrentMode(), Mode::Running);
    line->send("AT\r\n");
    line->send("AT+SHOW\r\n");
    EXPECT_EQ(line->readFor(300ms), "") << "a running device ignores AT commands";
    EXPECT_EQ(sim->CommandCount(), 0u);

    sim->SetWindows(kWindowMs, kWindowMs);
    EnterConfiguration();
    EXPECT_EQ(Command("AT"), kOk);
    EXPECT_EQ(sim->ReceivedCommands(), std::vector<std::string>{"AT"});
    EXPECT_EQ(sim->PowerUps(), 2);
}

TEST_F(SimFixture, SAfterTheBannerEntersConfigurationMode)
{
    Options o = Fast();
    o.loaderWindowMs = kLapseMs;
    Begin(o);
    sim->PowerCycle();
    std::string banner = line->readUntilContains("for setup");
    ASSERT_NE(banner.find("for setup"), std::string::npos);
    EXPECT_EQ(sim->CurrentMode(), Mode::AppWindow);
    line->send("S");
    EXPECT_NE(line->readUntilContains("CONFIGURE PROGRAM").find("CONFIGURE PROGRAM"), std::string::npos);
    EXPECT_EQ(sim->CurrentMode(), Mode::Configuration);
}

TEST_F(SimFixture, ToolWaitingWithSEvery50msMeetsAPowerUp)
{
    Begin();
    std::atomic<bool> seen{false};
    std::string got;
    std::thread tool([&] {
        auto end = Steady::now() + kLong;
        while (!seen && Steady::now() < end) {
            line->send("S");
            got += line->readUntil([](const std::string&) { return false; }, 50ms);
            if (got.find("CONFIGURE PROGRAM") != std::string::npos)
                seen = true;
        }
    });
    sim->PowerCycle();
    tool.join();
    EXPECT_TRUE(seen) << got;
    // 'S' bytes still on their way are not taken for a command.
    line->send("SS");
    EXPECT_EQ(Command("AT"), kOk);
    EXPECT_EQ(sim->ReceivedCommands(), std::vector<std::string>{"AT"});
}

TEST_F(SimFixture, AutoPowerUpOnTheToolsHandshakeBytes)
{
    Options o = Lapsing();
    o.autoPowerUp = true;
    Begin(o);
    line->send("S");
    EXPECT_NE(line->readUntilContains("CONFIGURE PROGRAM").find("CONFIGURE PROGRAM"), std::string::npos);
    EXPECT_EQ(sim->PowerUps(), 1);
    EXPECT_EQ(Command("AT"), kOk);

    // A few stray 'S' do nothing; a long run means the tool waits for a power-up.
    line->send(std::string(9, 'S'));
    EXPECT_EQ(Command("AT"), kOk);
    EXPECT_EQ(sim->PowerUps(), 1);
    line->send(std::string(10, 'S'));
    EXPECT_NE(line->readUntilContains("CONFIGURE PROGRAM").find("CONFIGURE PROGRAM"), std::string::npos);
    EXPECT_EQ(sim->PowerUps(), 2);

    // In configuration mode too, the download tool's 'P' reaches the boot loader.
    line->discardInput();
    line->send("P");
    EXPECT_EQ(line->readExactly(1), "P");
    EXPECT_EQ(sim->CurrentMode(), Mode::LoaderReady);
    EXPECT_EQ(sim->PowerUps(), 3);

    // So it does from normal running.
    sim->PowerCycle();
    ASSERT_TRUE(Eventually([&] { return sim->CurrentMode() == Mode::Running; }));
    line->discardInput();
    line->send("P");
    EXPECT_EQ(line->readExactly(1), "P");
    EXPECT_EQ(sim->CurrentMode(), Mode::LoaderReady);

    sim->PowerOff();
    line->send("B");
    EXPECT_NE(line->readUntilContains("boot update").find("boot update"), std::string::npos);
}

TEST_F(SimFixture, ResetRestartsTheDevice)
{
    Begin();
    EnterConfiguration();
    sim->SetWindows(kLapseMs, kLapseMs);
    EXPECT_EQ(Command("AT+RESET"), kOk);
    EXPECT_TRUE(Eventually([&] { return sim->PowerUps() == 2; }));
    EXPECT_NE(line->readUntilContains("System running").find("System running"), std::string::npos);
    line->send("AT\r\n");
    EXPECT_EQ(line->readFor(200ms), "");
}

TEST_F(SimFixture, PowerOffCutsAReplyShort)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) { f.replyDelayMs = 600000; });
    line->send("AT\r\n");
    ASSERT_TRUE(Eventually([&] { return sim->CommandCount() == 1; }));
    // The switch is carried out between two bytes, not after the reply: had
    // it waited, PowerOff would give up (10 s) with the device still on.
    sim->PowerOff();
    EXPECT_EQ(sim->CurrentMode(), Mode::Off);
    // The reply was given up with the switch and never comes.
    sim->UpdateFaults([](Faults& f) { f.replyDelayMs = 0; });
    EXPECT_EQ(line->readFor(300ms), "");
}

// ---- configuration mode over the line ----

TEST_F(SimFixture, ReportOverTheLine)
{
    Begin();
    EnterConfiguration();
    std::string reply = Command("AT+SHOW");
    EXPECT_GT(reply.size(), 1024u);
    EXPECT_EQ(reply, sim->Report() + kOk);
    EXPECT_NE(reply.find("Modem's ID number:"), std::string::npos);
}

TEST_F(SimFixture, SetCommandsAndFactoryOverTheLine)
{
    Begin();
    EnterConfiguration();
    EXPECT_EQ(Command("AT+IDNT=1111111111"), kOk);
    EXPECT_EQ(*sim->Param(0), "1111111111");
    // A bare LF ends a line too.
    line->send("AT+HRTTIME=90\n");
    EXPECT_EQ(line->readUntil(ReplyDone, kLong), kOk);
    EXPECT_EQ(*sim->Param(23), "90");
    std::string report = Command("AT+SHOW");
    EXPECT_NE(report.find("1111111111\r\n"), std::string::npos);
    EXPECT_NE(report.find("Heart time:"), std::string::npos);
    EXPECT_EQ(Command("AT+FACTORY"), kOk);
    EXPECT_EQ(sim->Param(0), Simulator::FactoryValue(0));
    EXPECT_EQ(sim->Param(23), Simulator::FactoryValue(23));
    EXPECT_EQ(Command("AT+NOSUCH=1"), kError);
    EXPECT_EQ(sim->ReceivedCommands().back(), "AT+NOSUCH=1");

    // Set through the accessor, seen by the tool.
    EXPECT_TRUE(sim->SetParam(19, "internet"));
    EXPECT_NE(Command("AT+SHOW").find("internet\r\n"), std::string::npos);
    EXPECT_FALSE(sim->SetParam(145, "x"));
}

TEST_F(SimFixture, VersionSignalAndMaintenance)
{
    Begin();
    EnterConfiguration();
    std::string ver = Command("AT+VER");
    EXPECT_TRUE(EndsWith(ver, kOk));
    EXPECT_GT(ver.size(), 10u);
    EXPECT_NE(Command("AT+CSQ").find("+CSQ:"), std::string::npos);
    ASSERT_FALSE(sim->Records().empty());
    EXPECT_EQ(Command("AT+INITDATAFLASH"), kOk);
    EXPECT_TRUE(sim->Records().empty());
    sim->SetCounterValue(0, "5");
    EXPECT_EQ(Command("AT+INITSENSOR"), kOk);
    EXPECT_EQ(sim->CounterValue(0), "0");
}

TEST_F(SimFixture, InitialValuesAndClockOverTheLine)
{
    Begin();
    EnterConfiguration();
    EXPECT_EQ(Command("AT+CNTRVAL01=123"), kOk);
    EXPECT_EQ(Command("AT+CNTRVAL01?"), "\r\nCNTRVAL01:123\r\n\r\nOK\r\n");
    EXPECT_EQ(Command("AT+COMVAL03=500"), kOk);
    EXPECT_EQ(sim->SerialValue(2), "500");
    sim->SetSerialValue(1, "7,8");
    EXPECT_EQ(Command("AT+COMVAL02?"), "\r\nCOMVAL02:7,8\r\n\r\nOK\r\n");

    EXPECT_EQ(Command("AT+EXCCLK=2026/12/08,13:05:09,2"), kOk);
    EXPECT_EQ(Command("AT+EXCCLK=\"2026/01/04,00:00:00\",0"), kOk);
    EXPECT_EQ(sim->ClockText(), "\"2026/01/04,00:00:00\",0");
    EXPECT_EQ(Command("AT+EXCCLK=2026/01/04 00:00:00"), kError);
    EXPECT_EQ(Command("AT+EXCCLK="), kError);
    EXPECT_EQ(sim->ClockSets(), 2);
}

TEST_F(SimFixture, RecordBatchesWithTheToolsContinuation)
{
    Options o = Fast();
    o.recordsPerBatch = 4;
    Begin(o);
    std::vector<CardRecord> records = Simulator::SampleRecords(2026, 3, 31, 10);
    sim->SetRecords(records);
    EnterConfiguration();
    line->send("AT+RDNFCRCRD=;2025/12/1,0:0:0;2026/3/31,23:55:55\r\n");
    std::string first = line->readUntil(
        [](const std::string& s) { return s.size() > 6 && ReplyDone(s); }, kLong);
    ASSERT_EQ(first.rfind(kOk, 0), 0u) << first;
    EXPECT_TRUE(EndsWith(first, "\r\nleave\r\n")) << first;
    EXPECT_NE(first.find("Record:4;"), std::string::npos);

    // The continuation as the tool writes it: the command with CR LF "OK" CR LF as its value.
    line->send("AT+RDNFCRCRD=\r\nOK\r\n\r\n");
    std::string second = line->readUntil(ReplyDone, kLong);
    EXPECT_EQ(second.rfind("Record:5;", 0), 0u) << second;
    EXPECT_TRUE(EndsWith(second, "\r\nleave\r\n"));
    line->send("AT+RDNFCRCRD=\r\nOK\r\n\r\n");
    std::string third = line->readUntil(ReplyDone, kLong);
    EXPECT_EQ(third.rfind("Record:9;", 0), 0u) << third;
    EXPECT_NE(third.find("Record:10;"), std::string::npos);
    EXPECT_TRUE(EndsWith(third, kOk));
    // The "OK" lines of the continuation are no commands: nothing more comes.
    EXPECT_EQ(line->readFor(200ms), "");
}

// ---- boot loader ----

TEST_F(SimFixture, ApplicationDownloadKeepsTheImageByteForByte)
{
    Begin();
    sim->PowerCycle();
    ASSERT_TRUE(LoaderHandshake());
    sim->SetWindows(kLapseMs, kLapseMs); // the restart after the transfer runs into the banner
    EXPECT_EQ(sim->CurrentMode(), Mode::LoaderReady);
    std::string image = Image(5000);
    std::vector<int> answers = Transfer(image);
    EXPECT_EQ(answers, (std::vector<int>{kBlockAccepted, kBlockAccepted}));
    EXPECT_TRUE(sim->ImageComplete());
    std::vector<uint8_t> got = sim->ReceivedImage();
    EXPECT_EQ(std::string(got.begin(), got.end()), image);
    std::vector<BlockRecord> blocks = sim->Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].dataLength, 4096u);
    EXPECT_EQ(blocks[0].endByte, kFrameMore);
    EXPECT_EQ(blocks[1].dataLength, 904u);
    EXPECT_EQ(blocks[1].endByte, kFrameLast);
    LoaderStats stats = sim->Loader();
    EXPECT_EQ(stats.startRequests, 1);
    EXPECT_EQ(stats.transfersCompleted, 1);
    EXPECT_EQ(stats.bootRequests, 0);
    // The new firmware starts by itself.
    EXPECT_TRUE(Eventually([&] { return sim->PowerUps() == 2; }));
    EXPECT_NE(line->readUntilContains("WC-3").find("WC-3"), std::string::npos);
    EXPECT_EQ(sim->ReceivedImage().size(), image.size()) << "kept after the restart";
}

TEST_F(SimFixture, BootProgramDownloadWithBootUpdate)
{
    Begin();
    sim->PowerCycle();
    line->send("B");
    std::string text = line->readUntilContains("waiting for P\r\n");
    ASSERT_NE(text.find("boot update"), std::string::npos) << text;
    EXPECT_EQ(sim->CurrentMode(), Mode::BootUpdate);
    ASSERT_TRUE(LoaderHandshake());
    std::string image = Image(kBlockMax);
    EXPECT_EQ(Transfer(image), std::vector<int>{kBlockAccepted});
    EXPECT_TRUE(sim->ImageComplete());
    EXPECT_GE(sim->Loader().bootRequests, 1);
    EXPECT_GE(sim->Loader().bootUpdateReplies, 1);
}

TEST_F(SimFixture, LoaderRejectsBrokenFramesAndStartsOverOnTheNextHandshake)
{
    Begin();
    sim->PowerCycle();
    ASSERT_TRUE(LoaderHandshake());
    line->send(std::string(1, static_cast<char>(kTransferStart)));
    ASSERT_TRUE(Eventually([&] { return sim->CurrentMode() == Mode::Transfer; }));

    std::string good = MakeBlockFrame(Image(100), false);
    std::string badXor = good;
    badXor[badXor.size() - 2] = static_cast<char>(badXor[badXor.size() - 2] ^ 0x5a);
    line->send(badXor);
    EXPECT_EQ(line->readExactly(1), std::string(1, static_cast<char>(kBlockRejected)));

    std::string badEnd = good;
    badEnd.back() = 0x04;
    line->send(badEnd);
    EXPECT_EQ(line->readExactly(1), std::string(1, static_cast<char>(kBlockRejected)));

    line->send(std::string("\x02\x00\x00", 3));
    EXPECT_EQ(line->readExactly(1), std::string(1, static_cast<char>(kBlockRejected)));
    // The refused frame's rest is noise to the loader; the tool starts over with 'P'.
    ASSERT_TRUE(LoaderHandshake());

    line->send(std::string(1, static_cast<char>(kTransferStart)));
    line->send(std::string("\x01garbage", 8));
    EXPECT_EQ(line->readExactly(1), std::string(1, static_cast<char>(kBlockRejected)));
    ASSERT_TRUE(LoaderHandshake());

    std::vector<BlockRecord> blocks = sim->Blocks();
    ASSERT_FALSE(blocks.empty());
    EXPECT_NE(blocks.back().problem.find("start byte 0x01"), std::string::npos);

    std::string image = Image(4097);
    EXPECT_EQ(Transfer(image), (std::vector<int>{kBlockAccepted, kBlockAccepted}));
    std::vector<uint8_t> got = sim->ReceivedImage();
    EXPECT_EQ(std::string(got.begin(), got.end()), image) << "only the last transfer is kept";
    blocks = sim->Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].dataLength, 1u);
}

TEST_F(SimFixture, CutFrameIsDroppedWithoutAnswer)
{
    Begin();
    sim->PowerCycle();
    ASSERT_TRUE(LoaderHandshake());
    line->send(std::string(1, static_cast<char>(kTransferStart)));
    line->send(MakeBlockFrame(Image(500), false).substr(0, 200));
    EXPECT_EQ(line->readFor(300ms), "");
    ASSERT_TRUE(Eventually([&] {
        auto b = sim->Blocks();
        return !b.empty() && b.back().problem == "frame cut off";
    }));
    ASSERT_TRUE(LoaderHandshake());
}

// ---- faults ----

TEST_F(SimFixture, SilentDeviceTakesCommandsButAnswersNothing)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) { f.silent = true; });
    line->send("AT+IDNT=2222222222\r\n");
    EXPECT_EQ(line->readFor(300ms), "");
    EXPECT_EQ(*sim->Param(0), "2222222222");
    sim->UpdateFaults([](Faults& f) { f.silent = false; });
    EXPECT_EQ(Command("AT"), kOk);
}

TEST_F(SimFixture, ErrorForChosenCommands)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) { f.errorFor = {"AT+IDNT", "AT+CNTRVAL01?"}; });
    EXPECT_EQ(Command("AT+IDNT=3333333333"), kError);
    EXPECT_EQ(sim->Param(0), Simulator::FactoryValue(0)) << "refused commands change nothing";
    EXPECT_EQ(Command("AT+CNTRVAL01?"), kError);
    EXPECT_EQ(Command("AT+CNTRVAL01=4"), kOk);
    EXPECT_EQ(Command("AT+PHON=1"), kOk);
}

TEST_F(SimFixture, SlowReplies)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) { f.replyDelayMs = 400; });
    auto t0 = Steady::now();
    EXPECT_EQ(Command("AT"), kOk);
    EXPECT_GE(Steady::now() - t0, 300ms);
}

TEST_F(SimFixture, RepliesInChunksArriveSeparately)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) {
        f.chunkSize = 8;
        f.chunkGapMs = 60;
        f.piecesTaken = true;
    });
    const auto sentAt = Steady::now();
    line->send("AT+VER\r\n");
    std::vector<PtyLine::Piece> pieces = line->readPieces(kOk, kLong);
    std::string all;
    std::size_t at = 0;
    for (const auto& p : pieces) {
        // Each piece is one write of the device, never cut: the reader sees
        // whole pieces (several of them together when it reads late).
        EXPECT_EQ(at % 8, 0u) << "a read ended inside a piece";
        at += p.bytes.size();
        all += p.bytes;
    }
    ASSERT_TRUE(EndsWith(all, kOk)) << all;
    // The gaps are there whatever the reader's timing: the last piece
    // cannot arrive before every gap in front of it has passed.
    const std::size_t chunks = (all.size() + 7) / 8;
    ASSERT_FALSE(pieces.empty());
    EXPECT_GE(pieces.back().at - sentAt, (chunks - 1) * 60ms);
}

TEST_F(SimFixture, RepliesCutAtChosenOffsets)
{
    Options o = Fast();
    o.faults.splitAt = {3};
    o.faults.chunkGapMs = 150;
    o.faults.piecesTaken = true;
    Begin(o);
    EnterConfiguration();
    const auto sentAt = Steady::now();
    line->send("AT\r\n");
    std::vector<PtyLine::Piece> pieces = line->readPieces(kOk, kLong);
    std::string all;
    for (const auto& p : pieces)
        all += p.bytes;
    EXPECT_EQ(all, "\r\nOK\r\n");
    // Cut after the third byte: a read that ends inside the reply ends
    // there (a late reader may take both pieces at once), and the gap
    // delays the rest whatever the reader's timing.
    if (pieces.size() > 1)
        EXPECT_EQ(pieces[0].bytes, "\r\nO");
    ASSERT_FALSE(pieces.empty());
    EXPECT_GE(pieces.back().at - sentAt, 150ms);
}

TEST_F(SimFixture, ConfigureTextCanArriveInPieces)
{
    Options o = Fast();
    o.autoPowerUp = true;
    o.faults.chunkSize = 5;
    o.faults.chunkGapMs = 10;
    Begin(o);
    line->send("S");
    std::string got = line->readUntilContains("CONFIGURE PROGRAM");
    EXPECT_NE(got.find("CONFIGURE PROGRAM"), std::string::npos);
}

TEST_F(SimFixture, NoiseBeforeReplies)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) { f.noise = true; });
    std::string r = Command("AT");
    ASSERT_GT(r.size(), 6u);
    EXPECT_EQ(r[0], '\0');
    EXPECT_EQ(r.substr(0, sim->GetFaults().noiseBytes.size()), sim->GetFaults().noiseBytes);
    EXPECT_TRUE(EndsWith(r, kOk));
}

TEST_F(SimFixture, RejectedBlockOnceThenTheTransferSucceeds)
{
    Options o = Fast();
    o.faults.rejectBlock = 2;
    Begin(o);
    sim->PowerCycle();
    ASSERT_TRUE(LoaderHandshake());
    std::string image = Image(3 * kBlockMax);
    EXPECT_EQ(Transfer(image), (std::vector<int>{kBlockAccepted, kBlockRejected}));
    EXPECT_EQ(sim->GetFaults().rejectBlock, 0) << "fires once";
    EXPECT_FALSE(sim->ImageComplete());
    ASSERT_TRUE(LoaderHandshake());
    EXPECT_EQ(Transfer(image), (std::vector<int>{kBlockAccepted, kBlockAccepted, kBlockAccepted}));
    std::vector<uint8_t> got = sim->ReceivedImage();
    EXPECT_EQ(std::string(got.begin(), got.end()), image);
    EXPECT_EQ(sim->Loader().transfersStarted, 2);
}

TEST_F(SimFixture, DroppedAnswerOnceThenTheTransferSucceeds)
{
    Begin();
    sim->PowerCycle();
    ASSERT_TRUE(LoaderHandshake());
    sim->UpdateFaults([](Faults& f) { f.dropAckBlock = 1; });
    std::string image = Image(2 * kBlockMax);
    line->send(std::string(1, static_cast<char>(kTransferStart)));
    line->send(MakeBlockFrame(image.substr(0, kBlockMax), false));
    // The loader took the block and decided to leave it unanswered.
    ASSERT_TRUE(Eventually([&] { return sim->Blocks().size() == 1; }));
    EXPECT_EQ(sim->Blocks()[0].answer, 0);
    EXPECT_EQ(sim->Blocks()[0].problem, "answer dropped by fault");
    EXPECT_EQ(sim->GetFaults().dropAckBlock, 0) << "fires once";
    EXPECT_EQ(line->readFor(100ms), "");
    ASSERT_TRUE(LoaderHandshake());
    EXPECT_EQ(Transfer(image), (std::vector<int>{kBlockAccepted, kBlockAccepted}));
    EXPECT_TRUE(sim->ImageComplete());
}

TEST_F(SimFixture, LoaderHandshakeErrors)
{
    Options o = Fast();
    o.faults.loaderErrors = 2;
    Begin(o);
    sim->PowerCycle();
    line->send("P");
    std::string first = line->readUntilContains("\r\n");
    EXPECT_EQ(first.rfind("err_", 0), 0u) << first;
    line->send("P");
    EXPECT_EQ(line->readUntilContains("\r\n").rfind("err_", 0), 0u);
    line->send("P");
    EXPECT_EQ(line->readExactly(1), "P");
    LoaderStats s = sim->Loader();
    EXPECT_EQ(s.errorReplies, 2);
    EXPECT_EQ(s.loaderReplies, 1);
    EXPECT_EQ(s.loaderRequests, 3);
}

TEST_F(SimFixture, LineClosedPartWayThroughAReply)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) { f.closeAfterReplyBytes = 5; });
    line->send("AT+VER\r\n");
    // A hang-up drops what the far end has not read yet, as on a real line:
    // at most the first five bytes arrive, never more.
    const std::string got = line->readExactly(5);
    EXPECT_LE(got.size(), 5u);
    EXPECT_EQ(got, std::string(ControllerModel::VersionText()).substr(0, got.size()));
    EXPECT_TRUE(line->waitHangUp(kLong));
    EXPECT_FALSE(sim->LineOpen());
}

TEST_F(SimFixture, CloseLineWhileAReplyIsPending)
{
    Begin();
    EnterConfiguration();
    sim->UpdateFaults([](Faults& f) { f.replyDelayMs = 600000; });
    line->send("AT\r\n");
    ASSERT_TRUE(Eventually([&] { return sim->CommandCount() == 1; }));
    sim->CloseLine();
    EXPECT_FALSE(sim->LineOpen());
    // Long before the reply would be due.
    EXPECT_TRUE(line->waitHangUp(kLong));
    // The device thread goes on without a line until stopped.
    EXPECT_TRUE(sim->IsRunning());
}

TEST_F(SimFixture, RestartGivesANewLineAndKeepsTheStore)
{
    Begin();
    ASSERT_TRUE(sim->SetParam(1, "555"));
    std::string first = sim->PortPath();
    sim->Stop();
    EXPECT_FALSE(sim->IsRunning());
    ASSERT_TRUE(sim->Start());
    line = std::make_unique<PtyLine>(sim->PortPath());
    ASSERT_TRUE(line->ok());
    EnterConfiguration();
    EXPECT_NE(Command("AT+SHOW").find("555\r\n"), std::string::npos);
}

// ---- pacing ----

TEST_F(SimFixture, PacedOutputTakesAboutTheLineTime)
{
    Begin();
    EnterConfiguration();
    const int baud = 57600;
    sim->SetBaud(baud);
    auto t0 = Steady::now();
    std::string reply = Command("AT+SHOW");
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0);
    ASSERT_TRUE(EndsWith(reply, kOk));
    auto expected = std::chrono::milliseconds(static_cast<int64_t>(reply.size()) * 10 * 1000 / baud);
    EXPECT_GE(took, expected * 6 / 10) << reply.size() << " bytes";
}

TEST_F(SimFixture, PacedInputTakesAboutTheLineTime)
{
    Begin();
    sim->PowerCycle();
    ASSERT_TRUE(LoaderHandshake());
    const int baud = 38400;
    sim->SetBaud(baud);
    std::string frame = MakeBlockFrame(Image(kBlockMax), true);
    line->send(std::string(1, static_cast<char>(kTransferStart)));
    auto t0 = Steady::now();
    line->send(frame);
    std::string answer = line->readExactly(1);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0);
    ASSERT_EQ(answer, std::string(1, static_cast<char>(kBlockAccepted)));
    auto expected = std::chrono::milliseconds(static_cast<int64_t>(frame.size()) * 10 * 1000 / baud);
    EXPECT_GE(took, expected * 6 / 10);
}

// ---- threads ----

TEST_F(SimFixture, FaultsAndStoresChangeSafelyWhileTheDeviceTalks)
{
    Begin();
    EnterConfiguration();
    std::atomic<bool> stop{false};
    std::thread meddler([&] {
        int i = 0;
        while (!stop) {
            sim->UpdateFaults([&](Faults& f) {
                f.chunkSize = (i % 3 == 0) ? 7 : 0;
                f.chunkGapMs = 1;
                f.noise = i % 2 == 0;
            });
            sim->SetParam(6, std::to_string(i % 17));
            (void)sim->ReceivedCommands();
            (void)sim->Report();
            (void)sim->GetFaults();
            ++i;
            std::this_thread::yield();
        }
    });
    for (int k = 0; k < 20; ++k) {
        std::string r = Command("AT+VOLUMELVL=" + std::to_string(k % 17));
        EXPECT_TRUE(EndsWith(r, kOk)) << k << ": " << r;
    }
    stop = true;
    meddler.join();
    EXPECT_EQ(sim->CommandCount(), 20u);
}

// The raw traffic source: a polled meter's request again and again (the
// device may be off), and a flood of numbered lines at a line rate.
TEST_F(SimFixture, RawTrafficPollsAndFloods)
{
    Begin();
    const std::string frame("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8);
    sim->StartPolling(frame, 5);
    const std::string three = line->readExactly(frame.size() * 3);
    EXPECT_EQ(three, frame + frame + frame);
    sim->StopPolling();
    EXPECT_FALSE(sim->Polling());
    ASSERT_TRUE(Eventually([&] { return sim->PollsSent() >= 3; }));
    line->discardInput();

    sim->StartFlood(100, 115200);
    ASSERT_TRUE(Eventually([&] { return !sim->Flooding(); }));
    const uint64_t sent = sim->FloodBytes();
    ASSERT_GT(sent, 0u);
    const std::string got = line->readExactly(static_cast<std::size_t>(sent));
    ASSERT_EQ(got.size(), sent);
    EXPECT_EQ(got.substr(0, 15), "FLOOD 00000000 ");
    EXPECT_EQ(got.substr(62, 2), "\r\n");
    EXPECT_LE(sent, 2000u); // 100 ms at 11,520 bytes/s, with room for a slow start
}

} // namespace
} // namespace pell::sim

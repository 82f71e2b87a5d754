// Job 13 on a line: a scripted controller for the replies the controller
// may give (edge cases of the record reply, a controller that keeps saying
// "leave"), and the simulated controller for whole queries (two batches and
// their CSV file, the continuation on the wire, a batch whose records come
// after the pause, a save before any query, the export that fails). Reply
// time-outs and the wait for the rest of a batch run on a clock the test
// advances.
#include "config/ConfigController.h"
#include "config/RecordsJob.h"
#include "pages/HistoryRecords.h"
#include "sim/Simulator.h"
#include "tests/config/ConfigSimRig.h"
#include "tests/config/FakeConfigView.h"
#include "tests/support/EngineRig.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 60s; // far beyond what a busy machine needs
const std::string kQuery = "AT+RDNFCRCRD=;2026/1/4,0:0:0;2026/1/5,23:55:55\r\n";
const std::string kContinue = "AT+RDNFCRCRD=\r\nOK\r\n\r\n";

std::string readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string countLine(std::size_t n)
{
    return recordtext::kCountPrefix + std::to_string(n) + recordtext::kCountSuffix;
}

// ---- scripted controller ----

struct ScriptCase {
    const char* name;
    std::vector<std::string> first;            // pieces of the reply to the query
    std::vector<std::string> next;             // pieces of the reply to every continuation
    bool waitsForRest;                         // the job waits out the rest of the first batch
    const char* box;                           // the job's last box
    std::vector<RecordRow> rows;
    int continuations;
};

TEST(RecordsJobScripted, RepliesOfTheController)
{
    const std::string r1 = "Record:1;A1;2;3;4;5;6;7;2026-01-04 08:00:00\r\n";
    const RecordRow row1 = {"1", "A1", "2", "3", "4", "5", "6", "7", "2026-01-04 08:00:00"};
    const std::vector<ScriptCase> cases = {
        {"OK then OK: no rows, success", {"\r\nOK\r\n\r\nOK\r\n"}, {}, false, recordtext::kQueryOk, {}, 0},
        {"a bare OK: failure", {"\r\nOK\r\n"}, {}, true, recordtext::kQueryFailed, {}, 0},
        {"ERROR: failure, list empty", {"\r\nERROR\r\n"}, {}, false, recordtext::kQueryFailed, {}, 0},
        {"empty field keeps the later columns", {"\r\nOK\r\nRecord:1;;x;y\r\n\r\nOK\r\n"}, {}, false,
         recordtext::kQueryOk, {{"1", "", "x", "y"}}, 0},
        {"records in pieces", {"\r\nOK\r\n", r1.substr(0, 20), r1.substr(20) + "Record:2;b\r\n\r\nOK\r\n"}, {},
         false, recordtext::kQueryOk, {row1, {"2", "b"}}, 0},
        {"text between records: rows read so far stay", {"\r\nOK\r\n" + r1 + "junk\r\n\r\nOK\r\n"}, {}, false,
         recordtext::kQueryFailed, {row1}, 0},
        {"leave, then the last batch", {"\r\nOK\r\n" + r1 + "\r\nleave\r\n"}, {"Record:2;b\r\n\r\nOK\r\n"},
         false, recordtext::kQueryOk, {row1, {"2", "b"}}, 1},
        {"leave forever: stops after a batch without a record", {"\r\nOK\r\n" + r1 + "\r\nleave\r\n"},
         {"\r\nleave\r\n"}, false, recordtext::kQueryFailed, {row1}, 1},
        {"leave with no record at all", {"\r\nOK\r\n\r\nleave\r\n"}, {"Record:2;b\r\n\r\nOK\r\n"}, false,
         recordtext::kQueryFailed, {}, 0},
        {"record cut off: the continuation is sent", {"\r\nOK\r\n" + r1 + "Record:2;b"}, {";c\r\n\r\nOK\r\n"},
         true, recordtext::kQueryFailed, {row1}, 1},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh line, engine and records for each case.
        std::vector<std::string> lines;
        {
            PtyPair casePty;
            ManualClock caseClock;
            ScaledClock pauseClock{1000.0}; // the 1000 ms pause after a reply -> 1 ms
            EngineRig caseRig{caseClock, &pauseClock};
            ScriptedController caseController{casePty, caseRig.page};
            FakeConfigView caseView{caseRig.engine.Values()};
            auto caseRecords = std::make_shared<HistoryRecords>();
            ASSERT_TRUE(caseRig.Attach(casePty.slavePath()));
            caseView.SetRecords(caseRecords);
            std::vector<std::size_t> handed;
            std::mutex handedMutex;
            caseRecords->SetListeners(
                [&](std::vector<RecordRow> rows, std::size_t) {
                    std::lock_guard<std::mutex> lock(handedMutex);
                    handed.push_back(rows.size());
                },
                nullptr);
            caseController.Start([&c](const std::string& line) {
                if (line.rfind("AT+RDNFCRCRD=;", 0) == 0)
                    return c.first;
                if (line == "AT+RDNFCRCRD=\r\n")
                    return c.next;
                return std::vector<std::string>{};
            });
            ASSERT_TRUE(caseRecords->StartQuery("2026/1/4", "2026/1/5"));
            std::atomic<bool> done{false};
            std::thread job([&] {
                JobContext ctx(caseView, caseRig.engine);
                ctx.request = caseRecords->request.Get();
                ReadHistoryRecords(ctx);
                done = true;
            });
            if (c.waitsForRest) {
                EXPECT_TRUE(caseClock.awaitWait(2));
                caseClock.advance(4000);
            }
            const bool ended = WaitUntil([&] { return done.load(); }, kDeadline);
            if (!ended) {
                caseRig.engine.CancelWait();
                caseClock.advance(1000000);
            }
            job.join();
            ASSERT_TRUE(ended);
            caseController.Stop();
            caseRig.Detach();
            caseView.SetRecords(nullptr);

            ASSERT_FALSE(caseView.Messages().empty());
            EXPECT_EQ(caseView.Messages().back(), c.box);
            EXPECT_EQ(caseView.Log().back(), countLine(c.rows.size()));
            EXPECT_EQ(caseRecords->RecordCount(), c.rows.size());
            std::string text = recordtext::kHeader;
            for (const RecordRow& row : c.rows) {
                for (std::size_t i = 0; i < row.size(); ++i)
                    text += (i ? ";" : "") + row[i];
                text += "\r\n";
            }
            EXPECT_EQ(caseRecords->RecordText(), text);
            // Once per batch that brought records.
            std::size_t total = 0;
            for (std::size_t n : handed) {
                EXPECT_GT(n, 0u);
                total += n;
            }
            EXPECT_EQ(total, c.rows.size());
            lines = caseController.Lines();
        }
        ASSERT_GE(lines.size(), 1u);
        EXPECT_EQ(lines[0], kQuery);
        // The continuation: the command line, "OK" and the closing CR LF.
        EXPECT_EQ(lines.size(), 1u + 3u * static_cast<std::size_t>(c.continuations));
        for (std::size_t i = 1; i + 2 < lines.size(); i += 3)
            EXPECT_EQ(lines[i] + lines[i + 1] + lines[i + 2], kContinue);
    }
}

// ---- simulated controller, through the configuration worker ----

class RecordsWithSimulator : public ::testing::Test {
protected:
    std::unique_ptr<sim::Simulator> device;
    ManualClock waitClock;
    ScaledClock pauseClock{1000.0}; // the 1000 ms pause after a reply -> 1 ms
    ManualClock pauseManual;        // or the pause when the test steps it
    std::unique_ptr<EngineRig> rig;
    std::unique_ptr<FakeConfigView> view; // on the rig's engine
    std::shared_ptr<HistoryRecords> records = std::make_shared<HistoryRecords>();
    std::unique_ptr<ConfigController> controller;
    std::mutex trafficMutex;
    std::string received;
    std::filesystem::path dir;

    // `steppedPause`: the pause after a reply runs on pauseManual.
    void start(bool steppedPause, int recordsPerBatch = 10)
    {
        sim::Options options = ConfigDeviceOptions();
        options.recordsPerBatch = recordsPerBatch;
        device = std::make_unique<sim::Simulator>(options);
        device->SetObserver([this](sim::Traffic kind, const std::string& bytes) {
            if (kind == sim::Traffic::Received) {
                std::lock_guard<std::mutex> lock(trafficMutex);
                received += bytes;
            }
        });
        ASSERT_TRUE(device->Start());
        const Clock* pause = steppedPause ? static_cast<const Clock*>(&pauseManual) : &pauseClock;
        rig = std::make_unique<EngineRig>(waitClock, pause);
        view = std::make_unique<FakeConfigView>(rig->engine.Values());
        controller = std::make_unique<ConfigController>(*view, rig->port, rig->engine,
                                                        [this](RequestSlot slot) -> RequestText* {
                                                            return slot == RequestSlot::Records ? &records->request
                                                                                                : nullptr;
                                                        });
        records->request.SetObserver(&controller->Worker().RequestWatcher());
        ASSERT_TRUE(rig->port.OpenPort(device->PortPath(), 115200, NOPARITY, 8, ONESTOPBIT));
        rig->dispatcher.SetConfigReceiver(controller.get());
        rig->dispatcher.Start();
        view->SetRecords(records);
        // "重新加载", power-up and job 1 to its end, so the controller's
        // banner is behind us; the test stands in for timer 111 and, with a
        // stepped pause, moves each pause of job 1 on.
        controller->Start();
        controller->OnReloadButton();
        device->PowerOn();
        ASSERT_TRUE(WaitUntil([&] {
            controller->OnTimerTick();
            if (pauseManual.waiting() > 0)
                pauseManual.advance(CommandEngine::kPauseMs);
            return controller->Worker().JobsRun() >= 1 && controller->JobState() == kJobIdle;
        }, kDeadline));
        ASSERT_EQ(device->CurrentMode(), sim::Mode::Configuration);
        ASSERT_TRUE(view->Messages().empty());
        std::string dirPattern = (std::filesystem::temp_directory_path() / "records-sim-XXXXXX").string();
        dir = ::mkdtemp(dirPattern.data());
    }

    void TearDown() override
    {
        if (rig)
            rig->dispatcher.Stop();
        if (controller)
            controller->Stop();
        records->request.SetObserver(nullptr);
        if (rig)
            rig->port.ClosePort();
        if (device)
            device->Stop();
        if (view)
            view->SetRecords(nullptr);
        std::error_code ec;
        if (!dir.empty()) {
            std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
            std::filesystem::remove_all(dir, ec);
        }
    }

    std::string receivedBytes()
    {
        std::lock_guard<std::mutex> lock(trafficMutex);
        return received;
    }

    bool waitQueryEnd()
    {
        return WaitUntil([&] { return !records->QueryRunning() && controller->JobState() == kJobIdle; }, kDeadline);
    }

    static std::vector<sim::CardRecord> threeRecords()
    {
        std::vector<sim::CardRecord> out;
        const char* cards[] = {"C1", "C,2", "C\"3\""};
        for (int i = 0; i < 3; ++i) {
            sim::CardRecord r;
            r.card = cards[i];
            r.water = std::to_string(i + 1) + ".5";
            r.electricity = "2";
            r.duration = "30";
            r.price = "1.2";
            r.remainingWater = "";
            r.remainingMoney = "88";
            r.year = 2026, r.month = 1, r.day = 4, r.hour = 8 + i;
            out.push_back(r);
        }
        return out;
    }
};

TEST_F(RecordsWithSimulator, TwoBatchQueryGivesTheRowsAndTheCsvBytes)
{
    start(false, 2);
    device->SetRecords(threeRecords());
    std::vector<std::size_t> handed;
    std::mutex handedMutex;
    records->SetListeners(
        [&](std::vector<RecordRow> rows, std::size_t) {
            std::lock_guard<std::mutex> lock(handedMutex);
            handed.push_back(rows.size());
        },
        nullptr);
    const std::string file = (dir / "pell.csv").string();
    // A save before any query starts one that writes the file at its end.
    ASSERT_FALSE(records->HasRecordText());
    ASSERT_TRUE(records->StartQuery("2026/1/4", "2026/1/5", file));
    ASSERT_TRUE(waitQueryEnd());

    EXPECT_EQ(view->Messages(), std::vector<std::string>{recordtext::kQueryOk});
    EXPECT_EQ(view->Log().back(), countLine(3));
    {
        std::lock_guard<std::mutex> lock(handedMutex);
        EXPECT_EQ(handed, (std::vector<std::size_t>{2, 1})) << "the list is filled once per batch";
    }
    EXPECT_EQ(receivedBytes().substr(receivedBytes().find("AT+RDNFCRCRD")),
              kQuery + kContinue) << "the query, then the continuation with \"\\r\\nOK\\r\\n\" as its value";
    EXPECT_EQ(rig->engine.Values().Get(kIdRecords), "\r\nOK\r\n");

    const std::string expected =
        "\xD0\xF2\xBA\xC5,\xBF\xA8ID,\xB5\xB1\xC7\xB0\xD3\xC3\xCB\xAE\xC1\xBF,"
        "\xB5\xB1\xC7\xB0\xD3\xC3\xB5\xE7\xC1\xBF,\xC8\xA1\xCB\xAE\xCA\xB1\xB3\xA4,"
        "\xC8\xA1\xCB\xAE\xB5\xA5\xBC\xDB,\xCA\xA3\xD3\xE0\xCB\xAE\xC1\xBF,"
        "\xCA\xA3\xD3\xE0\xBD\xF0\xB6\xEE,\xC6\xF0\xCA\xBC\xC8\xD5\xC6\xDA\r\n"
        "1,C1,1.5,2,30,1.2,,88,2026-01-04 08:00:00\r\n"
        "2,C 2,2.5,2,30,1.2,,88,2026-01-04 09:00:00\r\n"
        "3,\"C\"\"3\"\"\",3.5,2,30,1.2,,88,2026-01-04 10:00:00\r\n";
    EXPECT_EQ(readFile(file), expected);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "no temporary file stays";
}

TEST_F(RecordsWithSimulator, RecordsThatComeAfterThePauseAreReadWhole)
{
    // Both the replies' time-outs and the pause on the test's clock: the
    // records are released only once the job has ended its pause and waits
    // for the rest of the batch.
    start(true);
    device->SetRecords(threeRecords());
    device->UpdateFaults([](sim::Faults& f) {
        f.splitAt = {6}; // right after the leading OK
        f.gapsUntilReleased = true;
    });
    const int waits = waitClock.waitsBegun();
    const int pauses = pauseManual.waitsBegun();
    ASSERT_TRUE(records->StartQuery("2026/1/4", "2026/1/5"));
    ASSERT_TRUE(pauseManual.awaitWait(pauses + 1)); // the reply's wait ended at the OK
    EXPECT_EQ(records->RecordCount(), 0u);
    pauseManual.advance(CommandEngine::kPauseMs);
    ASSERT_TRUE(waitClock.awaitWait(waits + 2)); // the wait for the rest of the batch
    device->ReleaseGap();
    ASSERT_TRUE(pauseManual.awaitWait(pauses + 2)); // the pause after the late end
    pauseManual.advance(CommandEngine::kPauseMs);
    ASSERT_TRUE(waitQueryEnd());
    EXPECT_EQ(view->Messages(), std::vector<std::string>{recordtext::kQueryOk});
    EXPECT_EQ(records->RecordCount(), 3u);
}

TEST_F(RecordsWithSimulator, FailedQueryKeepsItsRecordsAndAFailedExportIsReported)
{
    start(false);
    device->SetRecords(threeRecords());
    // Every reply to the query is refused: the list stays empty, the record
    // text holds the header, and saving then writes just that.
    device->UpdateFaults([](sim::Faults& f) { f.errorFor = {"AT+RDNFCRCRD"}; });
    ASSERT_TRUE(records->StartQuery("2026/1/4", "2026/1/5"));
    ASSERT_TRUE(waitQueryEnd());
    EXPECT_EQ(view->Messages(), std::vector<std::string>{recordtext::kQueryFailed});
    std::string message;
    const std::string file = (dir / "after-failure.csv").string();
    ASSERT_TRUE(records->WriteRecordFile(file, file, message));
    EXPECT_EQ(readFile(file), RecordCsv(recordtext::kHeader));

    // A query that succeeds but whose export cannot be written says so,
    // naming the path, and still reports the records it read.
    device->UpdateFaults([](sim::Faults& f) { f.errorFor.clear(); });
    const std::string bad = (dir / "missing" / "x.csv").string();
    ASSERT_TRUE(records->StartQuery("2026/1/4", "2026/1/5", bad, "D:\\missing\\x.csv"));
    ASSERT_TRUE(waitQueryEnd());
    const std::vector<std::string> boxes = view->Messages();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1].rfind(recordtext::kSaveFailed, 0), 0u);
    EXPECT_NE(boxes[1].find("D:\\missing\\x.csv"), std::string::npos);
    EXPECT_NE(boxes[1].find("No such file"), std::string::npos) << boxes[1];
    EXPECT_EQ(boxes[2], recordtext::kQueryOk);
    EXPECT_FALSE(std::filesystem::exists(bad));
}

} // namespace

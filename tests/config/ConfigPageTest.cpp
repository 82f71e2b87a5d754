// The configuration page in the main window, offscreen, against the
// simulated controller: reload, the 'S' stream, power-up and job 1 up to
// the basic settings page; a save of one edit; the port closed during a
// job; the buttons' messages; the log edit; shutting down during a job.
// Reply time-outs run on a clock the test advances: an answer is never
// late, however busy the machine.
#include "app/CPellToolDlg.h"
#include "ui/Gbk.h"
#include "ui/UiThread.h"
#include "common/LogLine.h"
#include "config/CPellCfgDlg.h"
#include "config/ConfigTexts.h"
#include "pages/BasicPageTexts.h"
#include "pages/CPellCfgCntDlg.h"
#include "pages/CPellCfgDevDlg.h"
#include "config/ConfigFile.h"
#include "config/ReportParser.h"
#include "pages/PageMap.h"
#include "pages/CPellCfgRcdDlg.h"
#include "pages/PageRouter.h"
#include "pages/ParamPage.h"
#include "sim/Simulator.h"
#include "tests/support/PtyPair.h"
#include "tests/support/QtWait.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include "tests/config/ConfigSimRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;
using namespace std::chrono_literals;
using pell::test::FileSizeLimit;
using pell::test::TempDir;

namespace {

constexpr auto kDeadline = 60s; // far beyond what a busy machine needs

struct Message {
    QString text, caption;
};
std::mutex g_messageMutex;
std::vector<Message> g_messages;

void recordMessage(const QString& text, const QString& caption)
{
    std::lock_guard<std::mutex> lock(g_messageMutex);
    g_messages.push_back({text, caption});
}

std::vector<Message> messages()
{
    std::lock_guard<std::mutex> lock(g_messageMutex);
    return g_messages;
}




class ConfigPage : public ::testing::Test {
protected:
    sim::Simulator device{ConfigDeviceOptions()};
    ScaledClock pauseClock{1000.0}; // the 1000 ms pause after a reply -> 1 ms
    ManualClock waitClock;
    CSerial port; // outlives the engine and the window
    std::unique_ptr<CommandEngine> engine;
    std::unique_ptr<CPellToolDlg> window;
    CPellCfgDlg* page = nullptr;
    CPellCfgDevDlg* basic = nullptr;
    std::mutex trafficMutex;
    std::string received;

    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> lock(g_messageMutex);
            g_messages.clear();
        }
        SetMessageHook(recordMessage);
        device.SetObserver([this](sim::Traffic kind, const std::string& bytes) {
            if (kind == sim::Traffic::Received) {
                std::lock_guard<std::mutex> lock(trafficMutex);
                received += bytes;
            }
        });
        ASSERT_TRUE(device.Start());
    }

    void open()
    {
        engine = std::make_unique<CommandEngine>(port, waitClock, &pauseClock);
        const std::string path = device.PortPath();
        window = std::make_unique<CPellToolDlg>(PageServices{port, *engine, systemClock()},
                                                [path] { return std::vector<std::string>{path}; });
        ASSERT_TRUE(window->OnInitDialog());
        page = qobject_cast<CPellCfgDlg*>(window->Page(132));
        basic = qobject_cast<CPellCfgDevDlg*>(window->Page(133));
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(port.IsOpen());
    }

    void TearDown() override
    {
        window.reset();
        SetMessageHook(nullptr);
        port.ClosePort();
        device.Stop();
    }

    std::size_t sCount()
    {
        std::lock_guard<std::mutex> lock(trafficMutex);
        return static_cast<std::size_t>(std::count(received.begin(), received.end(), 'S'));
    }

    QString logShown() const { return page->LogEdit()->toPlainText(); }
    // What the log edit would show if the whole text were put into it.
    QString logWhole() const
    {
        QPlainTextEdit whole;
        whole.setPlainText(FromGbk(page->Log().Text()));
        return whole.toPlainText();
    }

    bool idleAfter(int jobs)
    {
        return WaitProcessing([&] {
            return page->Controller().Worker().JobsRun() >= jobs && page->JobState() == kJobIdle &&
                   page->Button(1031)->isEnabled();
        }, kDeadline);
    }

    // Runs `f` (on this thread) and says whether it returned while the test
    // clock stood still; if it did not within the deadline, the clock is
    // moved on so that the test ends instead of hanging.
    bool returnsWithoutTheClock(const std::function<void()>& f)
    {
        std::atomic<bool> done{false};
        std::atomic<bool> released{false};
        std::thread watchdog([&] {
            if (!WaitUntil([&] { return done.load(); }, kDeadline)) {
                released.store(true);
                waitClock.advance(1000000);
            }
        });
        f();
        done.store(true);
        watchdog.join();
        return !released.load();
    }

    void expectControls(int mode)
    {
        const bool idle = mode == kControlsIdle;
        EXPECT_EQ(window->Tree()->isEnabled(), idle);
        EXPECT_EQ(page->Button(1030)->isEnabled(), mode != kControlsBusy);
        if (mode != kControlsBusy) {
            EXPECT_EQ(page->Button(1030)->text(), idle ? QStringLiteral("重新加载") : QStringLiteral("取消加载"));
        }
        for (int id : CPellCfgDlg::kSwitchedControls)
            EXPECT_EQ(page->Control(id)->isEnabled(), idle) << id;
    }

    void readBack()
    {
        const int jobs = page->Controller().Worker().JobsRun();
        page->Button(1030)->click();
        device.PowerOn();
        ASSERT_TRUE(idleAfter(jobs + 1));
        ASSERT_TRUE(page->Log().Text().find(configtext::kLoadOk) != std::string::npos);
    }

    std::vector<std::string> save()
    {
        device.ClearCommandLog();
        const int jobs = page->Controller().Worker().JobsRun();
        page->Button(1031)->click();
        EXPECT_TRUE(idleAfter(jobs + 1));
        return device.ReceivedCommands();
    }
};

} // namespace

TEST_F(ConfigPage, ReloadPowerUpAndJobOneFillTheBasicPage)
{
    open();
    ASSERT_NE(basic, nullptr) << "the basic settings page is built";
    EXPECT_TRUE(page->TimerActive());
    EXPECT_EQ(logShown(), logWhole());
    EXPECT_TRUE(logShown().startsWith(QStringLiteral("******配置工具软件版本：V1.4******")));
    expectControls(kControlsIdle);

    page->Button(1030)->click();
    EXPECT_EQ(page->JobState(), kJobWaiting);
    expectControls(kControlsWaiting);
    EXPECT_TRUE(logShown().endsWith(QStringLiteral("正在等待设备上电后进入配置状态...\n")) ||
                logShown().endsWith(QStringLiteral("正在等待设备上电后进入配置状态...")))
        << logShown().right(60).toStdString();

    // Timer 111 writes 'S' every 50 ms while the device is off.
    const int64_t from = monotonicMs();
    ASSERT_TRUE(WaitProcessing([&] { return sCount() >= 6; }, kDeadline));
    EXPECT_GE(monotonicMs() - from, 200) << "about one 'S' per 50 ms, not a burst";

    device.PowerOn();
    ASSERT_TRUE(idleAfter(1));
    expectControls(kControlsIdle);

    // The log lines of the wait and of job 1, in order.
    const std::string log = page->Log().Text();
    std::size_t at = 0;
    for (const char* line : {configtext::kWaiting, configtext::kConfigModeEntered, configtext::kLoadingParams,
                             ">:AT\r\n", ">:AT+SHOW\r\n", "Modem's ID number:", configtext::kLoadOk}) {
        std::size_t next = log.find(line, at);
        ASSERT_NE(next, std::string::npos) << line;
        at = next;
    }
    EXPECT_EQ(logShown(), logWhole()) << "lines added at the end show what the whole text shows";

    // The basic settings page shows the device's values.
    auto* idEdit = basic->ControlAs<QLineEdit>(1039);
    ASSERT_NE(idEdit, nullptr);
    EXPECT_EQ(ToGbk(idEdit->text()), device.Param(0).value());
    for (int id : {0, 1, 2, 3, 4, 5, 6, 127, 128, 129}) {
        std::string shown;
        EXPECT_TRUE(page->Router().GetPageValue(id, shown)) << id;
        EXPECT_EQ(shown, device.Param(id).value()) << id;
    }
    auto* lock = basic->ControlAs<QComboBox>(1043);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(ToGbk(lock->currentText()), device.Param(127) == "1" ? basicpage::kYes : basicpage::kNo);
    // The device reports "Debug Level:" 0: the box shows its label, not
    // the empty text it started with.
    ASSERT_EQ(device.Param(3), "0");
    EXPECT_EQ(ToGbk(basic->ControlAs<QComboBox>(1042)->currentText()), basicpage::kNoLog);
}

// The pages' model compares what they hold with the table of the engine
// the configuration worker sends with.
TEST_F(ConfigPage, ThePagesCompareWithTheEnginesValues)
{
    open();
    const ParameterModel* model = page->Router().Model();
    ASSERT_NE(model, nullptr);
    engine->Values().Set(23, "1234");
    EXPECT_EQ(model->Controller(23), "1234");
    EXPECT_EQ(&page->Controller().Engine().Values(), &engine->Values());
}

TEST_F(ConfigPage, PastedLineBreakGoesOutAsOneCommandAndNothingElse)
{
    open();
    readBack();
    basic->ControlAs<QLineEdit>(1039)->setText(QStringLiteral("CMNET\r\nAT+FACTORY\r\n"));
    EXPECT_EQ(save(), std::vector<std::string>{"AT+IDNT=CMNET"});
    EXPECT_EQ(device.Param(0), "CMNET");
    EXPECT_EQ(page->Log().Text().find(">:AT+FACTORY"), std::string::npos);
    EXPECT_TRUE(save().empty());
}

TEST_F(ConfigPage, SaveBeforeAnyReadBackSendsNothingAndSaysWhy)
{
    open();
    basic->ControlAs<QLineEdit>(1039)->setText(QStringLiteral("4201239999"));
    EXPECT_TRUE(save().empty());
    EXPECT_TRUE(logShown().contains(QStringLiteral("设备参数未载入，请先载入设备参数或从配置文件配置...")));
}

TEST_F(ConfigPage, OneEditOneCommandAndASecondSaveSendsNothing)
{
    open();
    readBack();
    EXPECT_TRUE(save().empty()) << "no edits: nothing goes out, not even for pages not built";

    basic->ControlAs<QLineEdit>(1039)->setText(QStringLiteral("4201239999"));
    EXPECT_EQ(save(), std::vector<std::string>{"AT+IDNT=4201239999"});
    EXPECT_EQ(device.Param(0), "4201239999");
    EXPECT_TRUE(page->Log().Text().size() > 0);
    const std::string log = page->Log().Text();
    const std::string tail = std::string(">:AT+IDNT=4201239999\r\n");
    const std::size_t at = log.rfind(tail);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(log.find(configtext::kSetOk, at), std::string::npos);
    EXPECT_EQ(logShown(), logWhole());

    EXPECT_TRUE(save().empty());

    // A label combo box typed to a text that is no label holds no value:
    // the save passes it over instead of sending something else.
    basic->ControlAs<QComboBox>(1044)->setEditText(QStringLiteral("也许"));
    EXPECT_TRUE(save().empty());
}

// Every parameter from 0 to 144 that has a control: each control is set to
// a state of its own (edits a text of their id, lists an item chosen by the
// id), the controller takes those values, and a read-back must bring each
// one back to its own control. Two parameters sharing a control, or one
// whose control is missing from its page, show up here (ids 1045, 1028 and
// 1029 are on several pages: each is found on its own). Then a save sends
// nothing, and one change per page sends exactly its command.
TEST_F(ConfigPage, EveryParameterRoundTripsThroughItsPageAndOneChangeSendsOneCommand)
{
    open();
    PageRouter& router = page->Router();
    const std::vector<int> templates{133, 134, 141, 142, 143, 144, 145, 147, 138, 139};
    auto controlOf = [&](int id) -> QWidget* {
        for (int t : templates)
            if (ParamPage* p = router.Page(t); p && p->HasValueControl(id))
                return p->Control(FindPageControl(id)->controlId);
        return nullptr;
    };
    auto setDistinct = [](QWidget* control, int id, int shift) {
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            edit->setText(QString::number(100 + id + shift));
        } else if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->count() > 0) {
            combo->setCurrentIndex((id * 7 + shift) % combo->count());
        }
    };

    std::map<int, std::string> given;
    for (int id = 0; id <= 144; ++id) {
        QWidget* control = controlOf(id);
        if (!control)
            continue;
        setDistinct(control, id, 0);
        std::string value;
        ASSERT_TRUE(router.GetPageValue(id, value)) << id;
        ASSERT_TRUE(device.SetParam(id, value)) << id;
        given[id] = value;
    }
    EXPECT_EQ(given.size(), 145u - ParamsWithoutControl().size()) << "every id but the ones no page shows";

    // The pages forget, then read back what the controller now holds.
    for (const auto& [id, value] : given)
        setDistinct(controlOf(id), id, 1);
    readBack();
    for (const auto& [id, value] : given) {
        std::string shown;
        EXPECT_TRUE(router.GetPageValue(id, shown)) << id;
        EXPECT_EQ(shown, value) << "parameter " << id;
    }
    EXPECT_TRUE(save().empty());

    // One change per page: exactly its command goes out.
    for (int t : templates) {
        ParamPage* p = router.Page(t);
        ASSERT_NE(p, nullptr) << t;
        int id = 0;
        while (id <= 144 && !p->HasValueControl(id))
            ++id;
        ASSERT_LE(id, 144) << t;
        setDistinct(controlOf(id), id, 1);
        std::string value;
        ASSERT_TRUE(router.GetPageValue(id, value)) << id;
        ASSERT_NE(value, given[id]) << id;
        EXPECT_EQ(save(), std::vector<std::string>{FindAtRow(id)->command + value}) << "page " << t;
    }
}

// The worker reads and shows page values in one call into the UI thread.
// There a control that already shows its value is left alone (what the
// user typed keeps its undo history); once the page is shut down nothing
// crosses and the worker is not held.
TEST_F(ConfigPage, PageValuesCrossOnceAndLeaveMatchingControlsAlone)
{
    open();
    ASSERT_NE(basic, nullptr);
    auto* idEdit = basic->ControlAs<QLineEdit>(1039);  // parameter 0
    auto* hostEdit = basic->ControlAs<QLineEdit>(1041); // parameter 1
    ASSERT_TRUE(idEdit && hostEdit);
    idEdit->clear();
    idEdit->insert(QStringLiteral("4201239999")); // as typed: undoable
    hostEdit->setText(QStringLiteral("old"));
    ASSERT_TRUE(idEdit->isUndoAvailable());

    // From the worker's side: parameter 7 has no control.
    auto fromWorker = [&](bool serveUi, PageReadings& readings, bool& shown) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            readings = page->GetPageValues({0, 7, 1});
            shown = page->SetPageValues({{0, "4201239999"}, {1, "new"}, {7, "x"}});
            done.store(true);
        });
        const bool returned = serveUi ? WaitProcessing([&] { return done.load(); }, kDeadline)
                                      : WaitUntil([&] { return done.load(); }, kDeadline);
        if (!returned)
            WaitProcessing([&] { return done.load(); }, kDeadline); // let it end
        worker.join();
        return returned;
    };
    PageReadings readings;
    bool shown = false;
    ASSERT_TRUE(fromWorker(true, readings, shown));
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[0], std::optional<std::string>("4201239999"));
    EXPECT_EQ(readings[1], std::nullopt);
    EXPECT_EQ(readings[2], std::optional<std::string>("old"));
    EXPECT_TRUE(shown);
    EXPECT_EQ(idEdit->text(), QStringLiteral("4201239999"));
    EXPECT_TRUE(idEdit->isUndoAvailable()) << "the control that showed the value was not set again";
    EXPECT_EQ(hostEdit->text(), QStringLiteral("new"));

    page->StopConfigPage();
    hostEdit->setText(QStringLiteral("old"));
    ASSERT_TRUE(fromWorker(false, readings, shown)) << "a shut-down page does not hold the worker";
    EXPECT_TRUE(readings.empty());
    EXPECT_FALSE(shown);
    EXPECT_EQ(hostEdit->text(), QStringLiteral("old"));
}

TEST_F(ConfigPage, PortClosedDuringAJobSetsThePageIdleAtOnce)
{
    open();
    readBack();
    device.UpdateFaults([](sim::Faults& f) { f.silent = true; });
    basic->ControlAs<QLineEdit>(1039)->setText(QStringLiteral("1"));
    basic->ControlAs<QLineEdit>(1041)->setText(QStringLiteral("2"));
    device.ClearCommandLog();
    const int jobs = page->Controller().Worker().JobsRun();
    page->Button(1031)->click();
    ASSERT_TRUE(WaitProcessing([&] { return device.CommandCount() >= 1; }, kDeadline));
    expectControls(kControlsBusy);

    window->OnBnClickedPortButton(); // close
    ASSERT_FALSE(port.IsOpen());
    EXPECT_EQ(page->JobState(), kJobIdle);
    expectControls(kControlsIdle);

    // The closed line ends the wait of the command on it at once and the
    // job ends there, saying so: the clock never moves.
    ASSERT_TRUE(idleAfter(jobs + 1));
    const std::string log = page->Log().Text();
    std::size_t failures = 0;
    for (std::size_t at = log.find(configtext::kSetFailed); at != std::string::npos;
         at = log.find(configtext::kSetFailed, at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u);
    EXPECT_NE(log.find(configtext::kLineGone), std::string::npos);
    EXPECT_EQ(device.CommandCount(), 1u);
    expectControls(kControlsIdle);
}

TEST_F(ConfigPage, ButtonsTellWhatIsMissing)
{
    open();
    window->OnBnClickedPortButton(); // close
    page->Button(1031)->click();
    page->Button(1030)->click();
    page->Button(1041)->click();
    page->Button(1045)->click();
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(shown[static_cast<std::size_t>(i)].text, QStringLiteral("请先打开串口"));
        EXPECT_EQ(shown[static_cast<std::size_t>(i)].caption, QStringLiteral("提示"));
    }
    EXPECT_EQ(shown[3].text, QStringLiteral("请先选择文件"));
    EXPECT_EQ(page->JobState(), kJobIdle);

    // Busy: the clear buttons refuse, the others stay silent.
    window->OnBnClickedPortButton(); // open
    ASSERT_TRUE(port.IsOpen());
    page->Button(1030)->click();
    ASSERT_EQ(page->JobState(), kJobWaiting);
    page->OnBnClickedSaveParams();
    page->OnBnClickedClearCache();
    ASSERT_EQ(messages().size(), 5u);
    EXPECT_EQ(messages().back().text, QStringLiteral("设置失败\r\n\r\n"));
    EXPECT_EQ(page->JobState(), kJobWaiting);
    page->Button(1030)->click();
    EXPECT_EQ(page->JobState(), kJobIdle);
    expectControls(kControlsIdle);
}

TEST_F(ConfigPage, LogFromEveryThreadAppendsWhatTheWholeTextShows)
{
    open();
    std::thread other([&] {
        for (int i = 0; i < 300; ++i)
            page->AppendLog("worker line " + std::to_string(i) + "\r\n");
    });
    for (int i = 0; i < 300; ++i) {
        page->AppendLog("ui line " + std::to_string(i) + "\r\n");
        page->AppendLog("");
    }
    other.join();
    ASSERT_TRUE(WaitProcessing([&] { return logShown() == logWhole(); }, kDeadline));
    EXPECT_EQ(logShown().count(QChar('\n')), 601);

    page->Button(1033)->click();
    EXPECT_EQ(logShown(), QString());
    page->AppendLog("after clear\r\n");
    EXPECT_TRUE(logShown().startsWith(QStringLiteral("<Time:")));
    EXPECT_TRUE(logShown().contains(QStringLiteral(">:after clear")));

    // Past the limit the edit starts over with the next line.
    const std::string big(600000, 'x');
    page->AppendLog(big + "\r\n");
    page->AppendLog(big + "\r\n");
    EXPECT_GE(page->Log().Size(), kLogLimit);
    page->AppendLog("fresh\r\n");
    EXPECT_LT(page->Log().Size(), 100u);
    EXPECT_EQ(logShown(), logWhole());
    EXPECT_TRUE(logShown().endsWith(QStringLiteral(">:fresh\n")) || logShown().endsWith(QStringLiteral(">:fresh")));
}

TEST_F(ConfigPage, ClosingTheWindowDuringAJobEndsIt)
{
    open();
    readBack();
    device.UpdateFaults([](sim::Faults& f) { f.silent = true; });
    device.ClearCommandLog();
    page->Button(1032)->click();
    ASSERT_TRUE(WaitProcessing([&] { return device.CommandCount() >= 1; }, kDeadline));
    ASSERT_TRUE(waitClock.awaitWaiting(1));
    // The clock stands still: only the shutdown can end the reply wait.
    EXPECT_TRUE(returnsWithoutTheClock([&] { window.reset(); }));
}

TEST_F(ConfigPage, APageClosedWhileItsWorkerWaitsForItReleasesTheWorker)
{
    // A page on its own, no main window: its worker asks the UI thread to
    // show a file's values while this (the UI) thread does not serve events.
    engine = std::make_unique<CommandEngine>(port, waitClock, &pauseClock);
    auto alone = std::make_unique<CPellCfgDlg>(nullptr, PageServices{port, *engine, systemClock()});
    std::atomic<bool> started{false};
    alone->Controller().Worker().SetJobStarted([&](int, const std::string&) { started.store(true); });
    alone->InitConfigPage();
    ASSERT_TRUE(port.OpenPort(device.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT));
    // The file's values are shown on the pages before they go out: the job
    // waits for this thread from here on.
    alone->Controller().Worker().SetValuesGiven(true);
    ASSERT_TRUE(alone->Controller().OnConfigureFromFile([](ParamTable& values) {
        values.Set(2, "13900000000");
        return true;
    }));
    ASSERT_TRUE(WaitUntil([&] { return started.load(); }, kDeadline));
    EXPECT_EQ(alone->Controller().Worker().JobsRun(), 0);
    EXPECT_TRUE(returnsWithoutTheClock([&] { alone.reset(); }));
}

// The parameter pages made for a configuration page are its own: they
// show its values and go with it; a page whose router went first is left
// standing, unrouted.
TEST_F(ConfigPage, ItsParameterPagesAreItsOwnAndGoWithIt)
{
    engine = std::make_unique<CommandEngine>(port, waitClock, &pauseClock);
    auto first = std::make_unique<CPellCfgDlg>(nullptr, PageServices{port, *engine, systemClock()});
    auto second = std::make_unique<CPellCfgDlg>(nullptr, PageServices{port, *engine, systemClock()});
    QPointer<CPellCfgDevDlg> basic = new CPellCfgDevDlg(first->Router());
    QPointer<CPellCfgCntDlg> counter = new CPellCfgCntDlg(first->Router());
    EXPECT_TRUE(first->Router().SetPageValue(0, "4201230001"));
    EXPECT_EQ(first->Router().Request(RequestSlot::Clock), &basic->m_strClockRequest);
    EXPECT_FALSE(second->Router().HasControl(0));
    EXPECT_EQ(second->Router().Request(RequestSlot::Clock), nullptr);

    first.reset();
    EXPECT_TRUE(basic.isNull());
    EXPECT_TRUE(counter.isNull());

    std::optional<PageRouter> router(std::in_place);
    auto orphan = std::make_unique<CPellCfgDevDlg>(*router);
    router.reset();
    orphan->ControlAs<QLineEdit>(1039)->setText(QStringLiteral("4201230002"));
    orphan.reset();
}


// says so and names them, a save sends nothing for them, and the file
// saved from the table leaves them out and the box names them.
TEST_F(ConfigPage, AReportThatLacksParametersIsToldAndItsGapsAreNeitherSentNorSaved)
{
    open();
    device.UpdateFaults([](sim::Faults& f) { f.dropReportLines = 2; });
    const std::string report = device.ReportWithFaults();
    const ReportReading reading = ReadReport(report.data(), report.size());
    ASSERT_FALSE(reading.missing.empty());
    // Whatever the table held for them before differs from what their
    // pages show: still nothing may go out for them.
    for (int id : reading.missing)
        engine->Values().Set(id, "stale");
    const int jobs = page->Controller().Worker().JobsRun();
    page->Button(1030)->click();
    device.PowerOn();
    ASSERT_TRUE(idleAfter(jobs + 1));
    const std::string log = page->Log().Text();
    EXPECT_EQ(log.find(configtext::kLoadOk), std::string::npos) << "not a plain success";
    EXPECT_NE(log.find(configtext::kLoadPartial), std::string::npos);
    const std::string lacked = ParamLabel(reading.missing.front());
    EXPECT_NE(log.find(configtext::kReportLacks + lacked), std::string::npos);
    EXPECT_TRUE(save().empty()) << "what the report lacked is not sent";

    TempDir dir;
    const QString saved = QString::fromStdString(dir.File("gaps.cfg"));
    page->SetSaveFileChooser([&](QWidget*) { return saved; });
    const std::size_t boxes = messages().size();
    page->Button(1039)->click();
    ASSERT_EQ(messages().size(), boxes + 1);
    EXPECT_TRUE(messages().back().text.startsWith(QStringLiteral("保存成功\r\n以下参数未保存")))
        << messages().back().text.toStdString();
    EXPECT_TRUE(messages().back().text.contains(FromGbk(lacked)));
    const std::string text = dir.Read("gaps.cfg");
    EXPECT_EQ(("\r\n" + text).find("\r\n" + lacked + "  "), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 155 - static_cast<long>(reading.missing.size()));
    device.UpdateFaults([](sim::Faults& f) { f.dropReportLines = 0; });
}

// Saving and loading configuration files through the two buttons: the
// dialogs' answers come from the test.
TEST_F(ConfigPage, FileButtonsSaveWholeOrNotAtAllAndLoadBackSendingNothing)
{
    open();
    readBack();
    TempDir dir;
    const QString saved = QString::fromStdString(dir.File("zurb.cfg"));
    page->SetSaveFileChooser([&](QWidget*) { return saved; });
    page->Button(1039)->click();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages().back().text, QStringLiteral("保存成功"));
    const std::string text = dir.Read("zurb.cfg");
    EXPECT_EQ(text, FormatConfigText(engine->Values()));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 155);

    // A cancelled dialog, and a write that fails halfway (a full disk):
    // the file stays as it was, and no "保存成功".
    page->SetSaveFileChooser([](QWidget*) { return QString(); });
    page->Button(1039)->click();
    EXPECT_EQ(messages().size(), 1u);
    page->SetSaveFileChooser([&](QWidget*) { return saved; });
    engine->Values().Set(23, "1234"); // the table differs from the file now
    {
        FileSizeLimit diskFull(1000);
        page->Button(1039)->click();
    }
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_TRUE(messages().back().text.startsWith(QStringLiteral("保存失败：") + saved + QStringLiteral(": ")))
        << messages().back().text.toStdString();
    EXPECT_EQ(dir.Read("zurb.cfg"), text);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"zurb.cfg"});

    // Loading the file of the read-back: job 18 runs and sends nothing.
    engine->Values().Set(23, device.Param(23).value_or(""));
    auto configure = [&](const std::string& name) {
        static_cast<QLineEdit*>(page->Control(1038))->setText(QString::fromStdString(dir.File(name)));
        device.ClearCommandLog();
        const int jobs = page->Controller().Worker().JobsRun();
        const std::size_t boxes = messages().size();
        page->Button(1045)->click();
        if (messages().size() == boxes) {
            EXPECT_TRUE(idleAfter(jobs + 1)) << name;
        }
        return device.ReceivedCommands();
    };
    const std::size_t logBefore = page->Log().Text().size();
    EXPECT_TRUE(configure("zurb.cfg").empty());
    EXPECT_EQ(page->Log().Text().size(), logBefore) << "nothing to log";

    // Which files are read at all.
    std::string full = "Heart time:  66\r\n";
    full.resize(80969, ' ');
    ASSERT_TRUE(dir.Write("empty.cfg", ""));
    ASSERT_TRUE(dir.Write("largest.cfg", full));
    ASSERT_TRUE(dir.Write("too-large.cfg", full + " "));
    struct Case {
        const char* file;
        std::vector<std::string> commands;
        QString message; // empty: none
    } cases[] = {
        {"empty.cfg", {}, QStringLiteral("请先选择文件")},
        {"too-large.cfg", {}, QStringLiteral("请先选择文件")},
        {"largest.cfg", {"AT+HRTTIME=66"}, QString()},
        {"missing.cfg", {}, QStringLiteral("读取配置文件失败：") + QString::fromStdString(dir.File("missing.cfg")) +
                                QStringLiteral(": No such file or directory")},
    };
    for (const Case& c : cases) {
        const std::size_t boxes = messages().size();
        EXPECT_EQ(configure(c.file), c.commands) << c.file;
        if (c.message.isEmpty()) {
            EXPECT_EQ(messages().size(), boxes) << c.file;
        } else {
            ASSERT_EQ(messages().size(), boxes + 1) << c.file;
            EXPECT_EQ(messages().back().text, c.message) << c.file;
        }
    }
}

// The counter page's buttons through the worker: a read fills the edit, a
// set from it sends one line; the questions before the maintenance jobs.
TEST_F(ConfigPage, CounterButtonsAndMaintenanceQuestions)
{
    open();
    readBack();
    auto* counters = qobject_cast<CPellCfgCntDlg*>(window->Page(CPellCfgCntDlg::kTemplateId));
    ASSERT_NE(counters, nullptr);
    device.SetCounterValue(1, "42");
    device.ClearCommandLog();
    const int reads = page->Controller().Worker().JobsRun();
    counters->ReadButton(1)->click();
    ASSERT_TRUE(idleAfter(reads + 1));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages().back().text, QStringLiteral("获取计数器值成功"));
    EXPECT_EQ(counters->InitialValue(1)->text(), QStringLiteral("42\r\n\r\n"));
    counters->SetButton(1)->click();
    ASSERT_TRUE(idleAfter(reads + 2));
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages().back().text, QStringLiteral("设置计数器值成功"));
    EXPECT_EQ(device.ReceivedCommands(), (std::vector<std::string>{"AT+CNTRVAL02?", "AT+CNTRVAL02=42"}));

    static std::vector<QString> asked;
    static bool answer = false;
    asked.clear();
    SetQuestionHook([](const QString& text, const QString& caption) {
        EXPECT_EQ(caption, QStringLiteral("提示"));
        asked.push_back(text);
        return answer;
    });
    device.ClearCommandLog();
    page->Button(1036)->click();
    page->Button(1040)->click();
    page->Button(1041)->click();
    page->Button(1042)->click();
    EXPECT_EQ(asked.size(), 4u);
    EXPECT_EQ(page->JobState(), kJobIdle);
    answer = true;
    const int jobs = page->Controller().Worker().JobsRun();
    page->Button(1041)->click();
    ASSERT_TRUE(WaitProcessing([&] { return messages().size() == 3; }, kDeadline));
    EXPECT_EQ(messages().back().text, QStringLiteral("清除仪表成功"));
    ASSERT_TRUE(idleAfter(jobs + 1));
    SetQuestionHook(nullptr);
    EXPECT_EQ(asked.size(), 5u);
    EXPECT_EQ(asked.back(), QStringLiteral("确定要清除仪表吗？设备中的仪表数据将被清除。"));
    EXPECT_EQ(device.ReceivedCommands(), std::vector<std::string>{"AT+INITSENSOR"});
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The records page in the main window: a query of the picker dates runs as
// job 13 on the configuration worker, its rows reach the list, its boxes
// come through the configuration page, and the buttons refuse until it ends.
TEST_F(ConfigPage, RecordQueryFromTheRecordsPageFillsItsList)
{
    open();
    readBack();
    auto* records = qobject_cast<CPellCfgRcdDlg*>(window->Page(CPellCfgRcdDlg::kTemplateId));
    ASSERT_NE(records, nullptr);
    const std::vector<sim::CardRecord> stored = sim::Simulator::SampleRecords(2026, 1, 31, 25);
    device.SetRecords(stored);
    records->StartDate()->setDate(QDate(2025, 1, 1));
    records->EndDate()->setDate(QDate(2026, 1, 31));
    const int jobs = page->Controller().Worker().JobsRun();
    records->QueryButton()->click();
    EXPECT_FALSE(records->QueryButton()->isEnabled());
    EXPECT_FALSE(records->SaveButton()->isEnabled());
    ASSERT_TRUE(WaitProcessing([&] {
        return page->Controller().Worker().JobsRun() > jobs && records->QueryButton()->isEnabled();
    }, kDeadline));
    EXPECT_TRUE(records->SaveButton()->isEnabled());
    ASSERT_FALSE(messages().empty());
    EXPECT_EQ(messages().back().text, QStringLiteral("获取历史记录成功"));
    EXPECT_EQ(records->List()->topLevelItemCount(), static_cast<int>(stored.size()));
    EXPECT_EQ(records->CountLabel()->text(), QStringLiteral("已收到 %1 条").arg(stored.size()));
    const std::vector<std::string> commands = device.ReceivedCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::string("AT+RDNFCRCRD=")), 2)
        << "25 records in batches of 10: two continuations";
    EXPECT_NE(std::find(commands.begin(), commands.end(), "AT+RDNFCRCRD=;2025/1/1,0:0:0;2026/1/31,23:55:55"),
              commands.end());
}

// The download page offscreen: its layout and texts, the start's message
// boxes, and whole downloads from the main window against the simulated
// boot loader, with the power-cycle prompt closing by itself.
#include "app/CPellToolDlg.h"
#include "ui/UiThread.h"
#include "config/CPellCfgDlg.h"
#include "download/CPellDownDlg.h"
#include "pages/CPellCfgDevDlg.h"
#include "sim/Simulator.h"
#include "tests/download/TempImage.h"
#include "tests/support/PtyPair.h"
#include "tests/support/QtWait.h"
#include "tests/support/ToolServices.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 60s; // far beyond what a busy machine needs

struct Box {
    QString text, caption;
};
std::vector<Box> g_boxes;
void recordBox(const QString& text, const QString& caption)
{
    g_boxes.push_back({text, caption});
}


class DownloadPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_boxes.clear();
        SetMessageHook(recordBox);
    }
    void TearDown() override
    {
        SetMessageHook(nullptr);
    }
};

QPushButton* Button(QWidget* page, int id) { return qobject_cast<QPushButton*>(static_cast<DialogPage*>(page)->Control(id)); }

// The page as the main window shows it, running a simulated controller.
struct WindowRig {
    explicit WindowRig(const sim::Options& options = Defaults()) : sim(options)
    {
        EXPECT_TRUE(sim.Start());
        window = std::make_unique<CPellToolDlg>(tool.Page(), [this] { return std::vector<std::string>{sim.PortPath()}; });
        EXPECT_TRUE(window->OnInitDialog());
        page = dynamic_cast<CPellDownDlg*>(window->Page(129));
        EXPECT_NE(page, nullptr);
    }
    ~WindowRig()
    {
        window.reset();
        sim.Stop();
    }
    static sim::Options Defaults()
    {
        sim::Options o;
        o.autoPowerUp = true;
        o.baud = 115200; // blocks take 0.36 s each: the running look can be watched
        return o;
    }
    QWidget* Control(int id) const { return page->Control(id); }
    QString LogText() const { return qobject_cast<QPlainTextEdit*>(Control(1017))->toPlainText(); }
    // Presses "下载" and returns once the power-cycle prompt has closed;
    // true when it was open and the boot loader's answer closed it.
    bool StartAndWaitForPrompt()
    {
        bool sawPrompt = false;
        bool closedByTest = false;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] { sawPrompt = sawPrompt || page->IsPromptOpen(); });
        watch.start();
        QTimer safety; // a prompt that does not close by itself fails the test, not hangs it
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout, [&] {
            if (auto* box = page->findChild<QMessageBox*>(QStringLiteral("powerCyclePrompt"))) {
                closedByTest = true;
                box->done(QMessageBox::Ok);
            }
        });
        safety.start(15000);
        Button(page, 1015)->click(); // returns when the prompt closes
        // Closed by the loader's 'P', not by the end of the download.
        return sawPrompt && !closedByTest && !page->IsPromptOpen() && page->IsDownloadActive();
    }

    sim::Simulator sim;
    ToolServices tool; // its port closes when the rig goes
    std::unique_ptr<CPellToolDlg> window;
    CPellDownDlg* page = nullptr;
};

} // namespace

TEST_F(DownloadPage, LaidOutFromItsTemplateWithItsTexts)
{
    CSerial port;
    CPellDownDlg page(nullptr, port, systemClock());
    page.InitDownloadPage();
    auto* combo = qobject_cast<QComboBox*>(page.Control(1012));
    ASSERT_NE(combo, nullptr);
    EXPECT_TRUE(combo->isEditable());
    ASSERT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("应用程序"));
    auto* label = qobject_cast<QLabel*>(page.Controls().LabelWithText(QStringLiteral("程序类型:")));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->buddy(), combo);
    EXPECT_EQ(Button(&page, 1015)->text(), QStringLiteral("下载"));
    EXPECT_EQ(Button(&page, 1014)->text(), QStringLiteral("加载"));
    EXPECT_EQ(Button(&page, 1018)->text(), QStringLiteral("清除日志"));
    EXPECT_TRUE(page.Control(1016)->isHidden());
    EXPECT_TRUE(page.RateLabel()->isHidden());
    EXPECT_EQ(page.Control(1017)->geometry(), page.Units().rect(148, 7, 265, 257));
    EXPECT_EQ(page.Control(1016)->geometry(), page.Units().rect(147, 273, 267, 14));
    auto* log = qobject_cast<QPlainTextEdit*>(page.Control(1017));
    EXPECT_EQ(log->toPlainText(), QStringLiteral("******下载工具软件版本：V1.2.1******\n"));

    page.OnBnClickedClearLog();
    QCoreApplication::processEvents();
    EXPECT_TRUE(log->toPlainText().isEmpty());
    EXPECT_TRUE(page.Session().LogText().empty());

    page.SetFileChooser([](QWidget*) { return QStringLiteral("/tmp/固件.bin"); });
    Button(&page, 1014)->click();
    EXPECT_EQ(qobject_cast<QLineEdit*>(page.Control(1013))->text(), QStringLiteral("/tmp/固件.bin"));
    page.SetFileChooser([](QWidget*) { return QString(); }); // cancelled: the path stays
    Button(&page, 1014)->click();
    EXPECT_EQ(qobject_cast<QLineEdit*>(page.Control(1013))->text(), QStringLiteral("/tmp/固件.bin"));
}

TEST_F(DownloadPage, StartRefusalsShowTheirBoxes)
{
    PtyPair pty;
    CSerial port;
    CPellDownDlg page(nullptr, port, systemClock());
    page.InitDownloadPage();
    auto* path = qobject_cast<QLineEdit*>(page.Control(1013));
    TempImage empty(0);

    Button(&page, 1015)->click();
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, QStringLiteral("请先打开串口"));
    EXPECT_EQ(g_boxes[0].caption, QStringLiteral("提示"));

    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, 0, 8, 0));
    Button(&page, 1015)->click();
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[1].text, QStringLiteral("请先选择文件"));
    EXPECT_EQ(g_boxes[1].caption, QStringLiteral("提示"));

    path->setText(QString::fromStdString(empty.Path()));
    Button(&page, 1015)->click();
    ASSERT_EQ(g_boxes.size(), 3u);
    EXPECT_EQ(g_boxes[2].text, QStringLiteral("请先选择文件"));
    EXPECT_EQ(g_boxes[2].caption, QStringLiteral("文件长度错误"));

    path->setText(QString::fromStdString(empty.Dir()) + QStringLiteral("/没有.bin"));
    Button(&page, 1015)->click();
    ASSERT_EQ(g_boxes.size(), 4u);
    EXPECT_TRUE(g_boxes[3].text.contains(QStringLiteral("/没有.bin"))) << g_boxes[3].text.toStdString();

    QCoreApplication::processEvents();
    EXPECT_EQ(Button(&page, 1015)->text(), QStringLiteral("下载"));
    EXPECT_TRUE(page.Control(1013)->isEnabled());
    EXPECT_FALSE(page.IsDownloadActive());
    EXPECT_EQ(pty.receive(0ms), "");
}

TEST_F(DownloadPage, BootProgramDownloadFromTheMainWindow)
{
    WindowRig rig;
    TempImage image(3 * 4096 - 100);
    qobject_cast<QLineEdit*>(rig.Control(1013))->setText(QString::fromStdString(image.Path()));
    qobject_cast<QComboBox*>(rig.Control(1012))->setEditText(QStringLiteral("引导程序"));

    EXPECT_TRUE(rig.StartAndWaitForPrompt()) << "the boot loader's 'P' did not close the prompt";
    ASSERT_TRUE(WaitProcessing([&] { return !rig.page->RateLabel()->isHidden(); }));
    EXPECT_EQ(Button(rig.page, 1015)->text(), QStringLiteral("取消"));
    EXPECT_FALSE(rig.Control(1012)->isEnabled());
    EXPECT_FALSE(rig.Control(1013)->isEnabled());
    EXPECT_FALSE(rig.Control(1014)->isEnabled());
    auto* bar = qobject_cast<QProgressBar*>(rig.Control(1016));
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->maximum(), 3);
    EXPECT_GE(bar->value(), 1);
    EXPECT_TRUE(rig.page->RateLabel()->text().contains(QStringLiteral("KB/s")));

    ASSERT_TRUE(WaitProcessing([&] { return Button(rig.page, 1015)->text() == QStringLiteral("下载"); }));
    EXPECT_TRUE(rig.Control(1012)->isEnabled());
    EXPECT_TRUE(rig.Control(1013)->isEnabled());
    EXPECT_TRUE(rig.Control(1014)->isEnabled());
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(rig.page->RateLabel()->isHidden());
    EXPECT_GE(rig.sim.Loader().bootRequests, 1);
    EXPECT_TRUE(rig.sim.ImageComplete());
    EXPECT_TRUE(rig.sim.ReceivedImage() == std::vector<uint8_t>(image.Bytes().begin(), image.Bytes().end()));

    const QStringList lines = rig.LogText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << rig.LogText().toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("******下载工具软件版本：V1.2.1******"));
    const char* const messages[] = {"begin download  now ", "download 1 block ok", "download 2 block ok",
                                    "download 3 block ok", "download success ok"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(lines[i + 1].startsWith(QStringLiteral("<Time:")));
        EXPECT_EQ(lines[i + 1].mid(27), QString::fromLatin1(messages[i]));
    }
}

TEST_F(DownloadPage, CancelWhileABlockWaitsForItsAnswer)
{
    sim::Options o = WindowRig::Defaults();
    o.faults.dropAckBlock = 1;
    WindowRig rig(o);
    TempImage image(8192);
    qobject_cast<QLineEdit*>(rig.Control(1013))->setText(QString::fromStdString(image.Path()));
    EXPECT_TRUE(rig.StartAndWaitForPrompt());
    ASSERT_TRUE(WaitProcessing([&] { return rig.sim.Blocks().size() == 1 && rig.page->Session().AwaitingAnswer(); }));
    Button(rig.page, 1015)->click(); // "取消"
    // A cancel that did not wake the worker would end its wait by the time-out
    // line instead.
    ASSERT_TRUE(WaitProcessing([&] {
        return rig.LogText().contains(QStringLiteral("download 1 block error")) ||
               rig.LogText().contains(QStringLiteral("timeout"));
    }, kDeadline));
    EXPECT_EQ(Button(rig.page, 1015)->text(), QStringLiteral("下载"));
    EXPECT_TRUE(rig.Control(1013)->isEnabled());
    EXPECT_TRUE(rig.Control(1016)->isHidden());
    EXPECT_FALSE(rig.page->IsDownloadActive());
    EXPECT_FALSE(rig.LogText().contains(QStringLiteral("timeout")));
}

TEST_F(DownloadPage, ClosingThePortDuringATransferResetsThePage)
{
    WindowRig rig;
    TempImage image(10 * 4096);
    qobject_cast<QLineEdit*>(rig.Control(1013))->setText(QString::fromStdString(image.Path()));
    EXPECT_TRUE(rig.StartAndWaitForPrompt());
    ASSERT_TRUE(WaitProcessing([&] { return rig.sim.Blocks().size() >= 2; }));
    qobject_cast<QPushButton*>(rig.window->Control(1005))->click(); // "关闭串口"
    EXPECT_FALSE(rig.tool.port.IsOpen());
    EXPECT_FALSE(rig.page->IsDownloadActive());
    ASSERT_TRUE(WaitProcessing([&] { return Button(rig.page, 1015)->text() == QStringLiteral("下载"); }));
    EXPECT_TRUE(rig.Control(1016)->isHidden());
    // The worker goes idle at once: a block wait under way ends in its error
    // line without waiting out the answer time-out; a reset that came between
    // two blocks ends the loop without a line.
    ASSERT_TRUE(WaitProcessing([&] {
        return rig.page->Session().State() == DownloadState::Idle && !rig.page->Session().AwaitingAnswer();
    }, kDeadline));
    EXPECT_FALSE(rig.LogText().contains(QStringLiteral("timeout")));
}

TEST_F(DownloadPage, MainWindowClosingMidTransferDoesNotHang)
{
    auto rig = std::make_unique<WindowRig>();
    TempImage image(10 * 4096);
    qobject_cast<QLineEdit*>(rig->Control(1013))->setText(QString::fromStdString(image.Path()));
    EXPECT_TRUE(rig->StartAndWaitForPrompt());
    ASSERT_TRUE(WaitProcessing([&] { return rig->sim.Blocks().size() >= 1; }));
    // The session waits on the real clock: what is bounded here is a hang,
    // not a speed.
    auto started = std::chrono::steady_clock::now();
    rig.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, kDeadline);
}

TEST_F(DownloadPage, OneConversationAtATimeWithTheConfigurationPage)
{
    WindowRig rig;
    auto* config = qobject_cast<CPellCfgDlg*>(rig.window->Page(132));
    ASSERT_NE(config, nullptr);
    TempImage image(200 * 4096); // over a minute on the line: it runs until cancelled
    qobject_cast<QLineEdit*>(rig.Control(1013))->setText(QString::fromStdString(image.Path()));

    // The configuration page waits for configuration mode: no download.
    config->Button(1030)->click();
    ASSERT_EQ(config->JobState(), 0);
    Button(rig.page, 1015)->click();
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, QStringLiteral("参数配置正在进行，请等待参数配置结束后再下载"));
    EXPECT_EQ(g_boxes[0].caption, QStringLiteral("提示"));
    EXPECT_FALSE(rig.page->IsDownloadActive());
    EXPECT_FALSE(rig.LogText().contains(QStringLiteral("begin download")));
    config->Button(1030)->click(); // cancel the wait

    // A download holds the line: the configuration page starts nothing.
    EXPECT_TRUE(rig.StartAndWaitForPrompt());
    ASSERT_TRUE(rig.page->IsDownloadActive());
    const std::string refused = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xB3\xCC\xD0\xF2"; // "正在下载程序"
    auto refusals = [&] {
        const std::string log = config->Log().Text();
        std::size_t n = 0;
        for (std::size_t at = log.find(refused); at != std::string::npos; at = log.find(refused, at + 1))
            ++n;
        return n;
    };
    config->OnBnClickedSaveParams();
    config->OnBnClickedReload();
    EXPECT_EQ(config->JobState(), 2);
    EXPECT_EQ(refusals(), 2u);
    // A page request is dropped with the same line.
    auto* basic = qobject_cast<CPellCfgDevDlg*>(rig.window->Page(133));
    ASSERT_NE(basic, nullptr);
    basic->m_strClockRequest.Set("2026/12/08,13:05:09,2");
    ASSERT_TRUE(WaitProcessing([&] { return basic->m_strClockRequest.Empty(); }, kDeadline));
    ASSERT_TRUE(WaitProcessing([&] { return refusals() == 3u; }, kDeadline));
    EXPECT_EQ(config->Controller().Worker().JobsRun(), 0);
    EXPECT_TRUE(rig.page->IsDownloadActive());
    Button(rig.page, 1015)->click(); // "取消"
    EXPECT_FALSE(rig.page->IsDownloadActive());
}

TEST(DownloadPageRate, ShowsKilobytesPerSecondAndMinutesLeft)
{
    TransferRate r;
    r.bytesPerSecond = 11264;
    r.secondsLeft = 90.4;
    EXPECT_EQ(CPellDownDlg::RateText(r), QStringLiteral("11.0 KB/s  剩余 1:30"));
    r.bytesPerSecond = 150 * 1024;
    r.secondsLeft = 0;
    EXPECT_EQ(CPellDownDlg::RateText(r), QStringLiteral("150 KB/s  剩余 0:00"));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

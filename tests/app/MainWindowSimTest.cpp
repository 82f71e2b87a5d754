// The main window shown offscreen against the simulated controller: what
// closes it while a download or a job runs, a start without any port, and a
// line that vanishes.
#include "app/CPellToolDlg.h"
#include "config/CPellCfgDlg.h"
#include "config/ConfigTexts.h"
#include "debug/CDebug.h"
#include "download/CPellDownDlg.h"
#include "sim/Simulator.h"
#include "tests/download/TempImage.h"
#include "tests/support/QtWait.h"
#include "tests/support/ToolServices.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

QStringList g_boxes, g_questions; // "text|caption"
bool g_answer = false;
void recordBox(const QString& text, const QString& caption) { g_boxes << text + '|' + caption; }
bool answer(const QString& text, const QString& caption)
{
    g_questions << text + '|' + caption;
    return g_answer;
}

struct MainWindowSim : ::testing::Test {
    void SetUp() override
    {
        sim::Options o;
        o.autoPowerUp = true;
        o.baud = 115200; // 0.36 s a block: a download can be caught running
        sim = std::make_unique<sim::Simulator>(o);
        ASSERT_TRUE(sim->Start());
        g_boxes.clear(), g_questions.clear();
        SetMessageHook(recordBox);
        SetQuestionHook(answer);
    }
    void TearDown() override
    {
        w.reset();
        SetMessageHook(nullptr);
        SetQuestionHook(nullptr);
    }
    void open(bool listed)
    {
        w = std::make_unique<CPellToolDlg>(tool.Page(), [this, listed] {
            return listed ? std::vector{sim->PortPath()} : std::vector<std::string>{};
        });
        EXPECT_EQ(w->OnInitDialog(), listed);
        w->show();
        down = dynamic_cast<CPellDownDlg*>(w->Page(129));
    }
    // Returns once the boot loader's 'P' has closed the power-cycle prompt
    // (or a safety timer has, which fails the test later instead of hanging).
    void startDownload(const TempImage& image)
    {
        down->ControlAs<QLineEdit>(1013)->setText(QString::fromStdString(image.Path()));
        QTimer::singleShot(15000, down, [this] {
            if (auto* box = down->findChild<QMessageBox*>(QStringLiteral("powerCyclePrompt")))
                box->done(QMessageBox::Ok);
        });
        down->ControlAs<QPushButton>(1015)->click();
        ASSERT_TRUE(WaitProcessing([&] { return sim->Blocks().size() >= 1; }));
    }
    std::unique_ptr<sim::Simulator> sim;
    ToolServices tool; // outlives the window
    std::unique_ptr<CPellToolDlg> w;
    CPellDownDlg* down = nullptr;
};

const QString kDownloadQuestion = QStringLiteral("正在下载程序，确定要退出吗？|提示");

} // namespace

void PrintTo(const QString& s, std::ostream* os) { *os << s.toStdString(); } // readable failures

TEST_F(MainWindowSim, EscAndARefusedCloseLeaveADownloadRunningToItsEnd)
{
    open(true);
    TempImage image(8 * 4096);
    startDownload(image);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(down->Control(1015), &esc); // passed up to the window
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(g_questions.isEmpty());
    EXPECT_FALSE(w->close());
    EXPECT_EQ(g_questions, QStringList{kDownloadQuestion});
    ASSERT_TRUE(WaitProcessing([&] { return sim->ImageComplete() && !down->IsDownloadActive(); }));
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->close()); // idle: no question
    EXPECT_EQ(g_questions.size(), 1);
}

TEST_F(MainWindowSim, ConfirmedCloseEndsTheConversationAndJoinsEverything)
{
    for (bool downloading : {true, false}) {
        SCOPED_TRACE(downloading);
        g_questions.clear();
        g_answer = true;
        open(true);
        TempImage image(64 * 4096); // 23 s on the line
        if (downloading)
            startDownload(image);
        else
            dynamic_cast<CPellCfgDlg*>(w->Page(132))->Button(1030)->click(); // waits, then job 1
        EXPECT_TRUE(w->close());
        EXPECT_EQ(g_questions, QStringList{downloading ? kDownloadQuestion
                                                       : QStringLiteral("正在与设备通信，确定要退出吗？|提示")});
        w.reset(); // stops and joins every thread
        EXPECT_FALSE(tool.port.IsOpen());
        EXPECT_FALSE(sim->ImageComplete());
    }
}

TEST_F(MainWindowSim, StartedWithoutAPortWorksOnceOneIsTyped)
{
    open(false);
    EXPECT_EQ(g_boxes, QStringList{QStringLiteral("没发现串口，程序不能正常执行，请检查串口，退出！|Halden TOOL V3.5")});
    auto* portButton = qobject_cast<QPushButton*>(w->Control(1005));
    EXPECT_EQ(portButton->text(), QStringLiteral("打开串口"));
    qobject_cast<QComboBox*>(w->Control(1002))->setEditText(QString::fromStdString(sim->PortPath()));
    portButton->click();
    ASSERT_TRUE(tool.port.IsOpen());

    auto* terminal = dynamic_cast<CDebug*>(w->Page(135));
    terminal->ToggleReceive();
    sim->StartPolling("poll\r\n", 50);
    EXPECT_TRUE(WaitProcessing([&] { return terminal->Terminal().BytesReceived() > 0; }));
    sim->StopPolling();
    terminal->ToggleReceive();

    TempImage image(4096);
    startDownload(image); // the loader answered 'P'
    ASSERT_TRUE(WaitProcessing([&] { return sim->ImageComplete() && !down->IsDownloadActive(); }));

    auto* config = dynamic_cast<CPellCfgDlg*>(w->Page(132));
    config->Button(1030)->click(); // 'S' until configuration mode, then the read-back
    EXPECT_TRUE(WaitProcessing([&] { return config->Log().Text().find(configtext::kLoadOk) != std::string::npos; }));
    EXPECT_EQ(g_boxes.size(), 1);
}

TEST_F(MainWindowSim, VanishedLineIsToldOnce)
{
    open(true);
    sim->CloseLine();
    ASSERT_TRUE(WaitProcessing([&] { return !g_boxes.isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(g_boxes, QStringList{QStringLiteral("串口已断开|提示")});
    EXPECT_FALSE(tool.port.IsOpen());
    EXPECT_EQ(qobject_cast<QPushButton*>(w->Control(1005))->text(), QStringLiteral("打开串口"));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

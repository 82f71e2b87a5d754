// The main window offscreen: start-up, page switching, the port toggle.
#include "app/CPellToolDlg.h"
#include "app/PageRegistry.h"
#include "ui/UiThread.h"
#include "serial/CSerial.h"
#include "tests/support/PtyPair.h"
#include "tests/support/QtWait.h"
#include "tests/support/ToolServices.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

QStringList g_messages;
void recordMessage(const QString& text, const QString&)
{
    g_messages << text;
}

// Waits for a condition while the UI thread keeps processing events.

QTreeWidgetItem* itemWithText(QTreeWidget* tree, const QString& text)
{
    auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

int visiblePages(const CPellToolDlg& w)
{
    int n = 0;
    for (const PageEntry& p : PageRegistry())
        n += w.Page(p.templateId)->isVisibleTo(const_cast<CPellToolDlg*>(&w)) ? 1 : 0;
    return n;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_messages.clear();
        SetMessageHook(recordMessage);
    }
    void TearDown() override
    {
        SetMessageHook(nullptr);
        tool.port.ClosePort();
    }

    ToolServices tool;
};

} // namespace

TEST_F(MainWindow, StartsWithTheFirstPortOpenAndTheDownloadPageShown)
{
    PtyPair pty;
    CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath(), "/dev/halden-missing"}; });
    ASSERT_TRUE(w.OnInitDialog());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Halden TOOL V3.5"));
    EXPECT_TRUE(tool.port.IsOpen());
    EXPECT_EQ(tool.port.DevicePath(), pty.slavePath());
    EXPECT_TRUE(g_messages.isEmpty());

    auto* combo = qobject_cast<QComboBox*>(w.Control(1002));
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentText().toStdString(), pty.slavePath());
    EXPECT_EQ(qobject_cast<QComboBox*>(w.Control(1003))->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(qobject_cast<QComboBox*>(w.Control(1003))->count(), 12);
    EXPECT_EQ(qobject_cast<QComboBox*>(w.Control(1006))->currentText(), QStringLiteral("8"));
    EXPECT_EQ(qobject_cast<QComboBox*>(w.Control(1008))->currentText(), QStringLiteral("1"));
    EXPECT_EQ(qobject_cast<QComboBox*>(w.Control(1004))->currentText(), QStringLiteral("None"));
    EXPECT_EQ(qobject_cast<QPushButton*>(w.Control(1005))->text(), QStringLiteral("关闭串口"));
    for (int id : {1002, 1003, 1004, 1006, 1008})
        EXPECT_FALSE(w.Control(id)->isEnabled()) << id;
    EXPECT_EQ(qobject_cast<QLineEdit*>(w.Control(1107))->text(), QStringLiteral("下载工具"));
    EXPECT_EQ(visiblePages(w), 1);
    EXPECT_TRUE(w.Page(129)->isVisibleTo(&w));
    EXPECT_TRUE(w.Dispatcher().IsRunning());
}

TEST_F(MainWindow, TreeShowsExactlyOnePageAndTheTitleFollows)
{
    PtyPair pty;
    CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath()}; });
    ASSERT_TRUE(w.OnInitDialog());
    QTreeWidget* tree = w.Tree();
    EXPECT_EQ(tree->topLevelItemCount(), 3);
    QTreeWidgetItem* config = itemWithText(tree, QStringLiteral("参数配置"));
    ASSERT_NE(config, nullptr);
    EXPECT_TRUE(config->isExpanded());
    EXPECT_EQ(config->childCount(), 9);
    EXPECT_EQ(itemWithText(tree, QStringLiteral("短信设置")), nullptr);
    EXPECT_EQ(itemWithText(tree, QStringLiteral("MODBUS设置")), nullptr);

    const std::pair<const char*, int> items[] = {
        {"参数配置", 132}, {"基本设置", 133}, {"网络设置", 134}, {"水电设置", 141},
        {"输入接口设置", 142}, {"继电器设置", 143}, {"计数器设置", 144}, {"串口设置", 145},
        {"存储设置", 147}, {"历史记录", 149}, {"调试工具", 135}, {"下载工具", 129},
        {"参数配置", 132}};
    for (const auto& [text, id] : items) {
        QTreeWidgetItem* item = itemWithText(tree, QString::fromUtf8(text));
        ASSERT_NE(item, nullptr) << text;
        tree->setCurrentItem(item);
        EXPECT_EQ(qobject_cast<QLineEdit*>(w.Control(1107))->text(), QString::fromUtf8(text));
        EXPECT_EQ(visiblePages(w), 1) << text;
        EXPECT_TRUE(w.Page(id)->isVisibleTo(&w)) << text;
    }
    // The SMS and Modbus pages exist but are never shown.
    EXPECT_NE(w.Page(138), nullptr);
    EXPECT_NE(w.Page(139), nullptr);
    EXPECT_FALSE(w.Page(138)->isVisibleTo(&w));
    EXPECT_FALSE(w.Page(139)->isVisibleTo(&w));
}

TEST_F(MainWindow, ToggleFollowsThePortsRealState)
{
    PtyPair pty;
    CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath()}; });
    ASSERT_TRUE(w.OnInitDialog());
    auto* button = qobject_cast<QPushButton*>(w.Control(1005));

    button->click(); // close
    EXPECT_FALSE(tool.port.IsOpen());
    EXPECT_EQ(button->text(), QStringLiteral("打开串口"));
    for (int id : {1002, 1003, 1004, 1006, 1008})
        EXPECT_TRUE(w.Control(id)->isEnabled()) << id;

    // A typed baud rate that is not a number: the driver refuses, the port
    // was opened and stays open for the user to close.
    auto* baud = qobject_cast<QComboBox*>(w.Control(1003));
    baud->setEditText(QStringLiteral("abc"));
    button->click();
    ASSERT_EQ(g_messages.size(), 1);
    EXPECT_EQ(g_messages[0], QStringLiteral(">>> 请先以正确参数打开串口..."));
    EXPECT_TRUE(tool.port.IsOpen());
    EXPECT_EQ(button->text(), QStringLiteral("关闭串口"));
    button->click();
    EXPECT_FALSE(tool.port.IsOpen());

    // One and a half stop bits: not on this platform, same behaviour.
    baud->setEditText(QStringLiteral("9600"));
    qobject_cast<QComboBox*>(w.Control(1008))->setEditText(QStringLiteral("1.5"));
    button->click();
    EXPECT_EQ(g_messages.size(), 2);
    EXPECT_TRUE(tool.port.IsOpen());
    button->click();

    // A port that does not exist: nothing opens, the combos stay enabled.
    qobject_cast<QComboBox*>(w.Control(1008))->setEditText(QStringLiteral("2"));
    qobject_cast<QComboBox*>(w.Control(1002))->setEditText(QStringLiteral("/dev/halden-missing"));
    button->click();
    EXPECT_EQ(g_messages.size(), 3);
    EXPECT_FALSE(tool.port.IsOpen());
    EXPECT_EQ(button->text(), QStringLiteral("打开串口"));
    EXPECT_TRUE(w.Control(1002)->isEnabled());

    // Back to the pty with 9600 8N2.
    qobject_cast<QComboBox*>(w.Control(1002))->setEditText(QString::fromStdString(pty.slavePath()));
    button->click();
    EXPECT_TRUE(tool.port.IsOpen());
    EXPECT_EQ(g_messages.size(), 3);
}

// What an accessibility client reads: a button or box its caption as it is
// now; an edit or list the label that names it, on every page.
TEST_F(MainWindow, AccessibleNamesFollowTheCaptionsShown)
{
    PtyPair pty;
    CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath()}; });
    ASSERT_TRUE(w.OnInitDialog());
    auto nameOf = [](QWidget* x) {
        return QAccessible::queryAccessibleInterface(x)->text(QAccessible::Name);
    };
    // The name of the label that labels the control, as a reader finds it.
    auto labelOf = [](QWidget* x) {
        const auto labels = QAccessible::queryAccessibleInterface(x)->relations(QAccessible::Label);
        return labels.size() == 1 ? labels[0].first->text(QAccessible::Name) : QString();
    };
    auto* port = qobject_cast<QPushButton*>(w.Control(1005));
    port->click();
    ASSERT_EQ(port->text(), QStringLiteral("打开串口"));
    EXPECT_EQ(nameOf(port), port->text());

    const QList<QWidget*> all = w.findChildren<QWidget*>();
    int named = 0;
    QLabel* changed = nullptr;
    for (QWidget* x : all) {
        if (auto* button = qobject_cast<QAbstractButton*>(x); button && !button->text().isEmpty()) {
            EXPECT_EQ(nameOf(button), button->text()) << x->objectName().toStdString();
            ++named;
        } else if (auto* label = qobject_cast<QLabel*>(x); label && label->buddy()) {
            EXPECT_EQ(labelOf(label->buddy()), label->text()) << label->buddy()->objectName().toStdString();
            if (qobject_cast<QLineEdit*>(label->buddy()))
                EXPECT_EQ(nameOf(label->buddy()), label->text());
            changed = label;
            ++named;
        }
    }
    EXPECT_GT(named, 150);

    ASSERT_NE(changed, nullptr);
    changed->setText(QStringLiteral("新名字"));
    EXPECT_EQ(labelOf(changed->buddy()), QStringLiteral("新名字"));
}

TEST_F(MainWindow, NoPortFoundShowsTheMessageAndStartsTheRest)
{
    CPellToolDlg w(tool.Page(), [] { return std::vector<std::string>{}; });
    EXPECT_FALSE(w.OnInitDialog());
    ASSERT_EQ(g_messages.size(), 1);
    EXPECT_EQ(g_messages[0], QStringLiteral("没发现串口，程序不能正常执行，请检查串口，退出！"));
    EXPECT_FALSE(tool.port.IsOpen());
    EXPECT_TRUE(w.Dispatcher().IsRunning()); // for a port typed in later
    EXPECT_EQ(qobject_cast<QPushButton*>(w.Control(1005))->text(), QStringLiteral("打开串口"));
    // The window still shows its tree and pages.
    EXPECT_EQ(w.Tree()->topLevelItemCount(), 3);
    EXPECT_EQ(visiblePages(w), 1);
}

TEST_F(MainWindow, OpenFailureNamesWhyThePortDidNotOpen)
{
    PtyPair pty;
    CSerial otherProgram; // holds the pty as another program would
    ASSERT_TRUE(otherProgram.OpenPort(pty.slavePath(), 115200, 0, 8, 0));
    const QString busy = QString::fromStdString(pty.slavePath());
    const std::pair<QString, QString> cases[] = {
        {busy, QStringLiteral("\n串口 %1 正被其他程序使用：请先关闭占用它的程序，然后再打开。").arg(busy)},
        {QStringLiteral("halden-missing"),
         QStringLiteral("\n没有找到串口 /dev/halden-missing：请检查串口名称，以及串口线或 USB 转串口线是否插好。")},
        {QStringLiteral("/tmp"), QStringLiteral("\n/tmp 不是串口：请选择串口设备。")}};
    CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath()}; });
    w.OnInitDialog();
    for (const auto& [port, detail] : cases) {
        qobject_cast<QComboBox*>(w.Control(1002))->setEditText(port);
        g_messages.clear();
        w.OnBnClickedPortButton();
        EXPECT_EQ(g_messages, QStringList{QStringLiteral(">>> 请先以正确参数打开串口...") + detail});
    }
}

TEST_F(MainWindow, VanishedDeviceClosesThePort)
{
    auto pty = std::make_unique<PtyPair>();
    CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{pty->slavePath()}; });
    ASSERT_TRUE(w.OnInitDialog());
    ASSERT_TRUE(tool.port.IsOpen());
    pty.reset(); // the far end goes away
    auto* button = qobject_cast<QPushButton*>(w.Control(1005));
    ASSERT_TRUE(WaitProcessing([&] { return !tool.port.IsOpen(); }));
    EXPECT_EQ(button->text(), QStringLiteral("打开串口"));
    EXPECT_TRUE(w.Control(1002)->isEnabled());
}

TEST_F(MainWindow, ClosingStopsEveryThreadWithThePortOpenOrClosed)
{
    for (bool closeFirst : {false, true}) {
        PtyPair pty;
        auto w = std::make_unique<CPellToolDlg>(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath()}; });
        ASSERT_TRUE(w->OnInitDialog());
        if (closeFirst)
            w->OnBnClickedPortButton();
        pty.send("noise that nobody takes");
        w.reset();
        EXPECT_FALSE(tool.port.IsOpen());
    }
}

TEST_F(MainWindow, WorkerCallsToTheUiAreReleasedAtShutdown)
{
    PtyPair pty;
    auto w = std::make_unique<CPellToolDlg>(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath()}; });
    ASSERT_TRUE(w->OnInitDialog());
    // Shared with the workers, which a failed release would leave behind.
    struct Calls {
        std::atomic<int> ran{0};
        std::atomic<int> done{0};
        std::atomic<bool> result{true};
    };
    auto calls = std::make_shared<Calls>();
    // A worker that asks the UI thread to run code and waits: it gets its
    // answer while the UI thread processes events ...
    std::thread worker([calls] {
        RunOnUiThread([calls] { calls->ran.fetch_add(1); });
        calls->done.fetch_add(1);
    });
    ASSERT_TRUE(WaitProcessing([&] { return calls->done.load() == 1; }));
    worker.join();
    EXPECT_EQ(calls->ran.load(), 1);
    // ... and a worker still waiting when the window goes away is released.
    std::thread late([calls] {
        calls->result = RunOnUiThread([calls] { calls->ran.fetch_add(1); });
        calls->done.fetch_add(1);
    });
    // Its call is queued and it waits; this thread processes no event, so
    // the call cannot run before the window goes.
    EXPECT_TRUE(WaitUntil([] { return WaitingUiCalls() == 1; }, std::chrono::seconds(15)))
        << "the worker's call never waited";
    EXPECT_EQ(calls->ran.load(), 1);
    w.reset(); // never processes the queued call
    const bool released = WaitUntil([&] { return calls->done.load() == 2; }, std::chrono::seconds(15));
    EXPECT_TRUE(released) << "the worker waiting for the UI was not released at shutdown";
    released ? late.join() : late.detach();
    EXPECT_FALSE(calls->result.load());
    EXPECT_EQ(WaitingUiCalls(), 0);
    EXPECT_EQ(calls->ran.load(), 1);
    QCoreApplication::processEvents(); // the abandoned call does not run later either
    EXPECT_EQ(calls->ran.load(), 1);
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

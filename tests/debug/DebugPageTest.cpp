// The debug terminal page offscreen: its controls wired to the terminal,
// received bytes shown through the refresh, and its message boxes.
#include "app/CPellToolDlg.h"
#include "debug/CDebug.h"
#include "debug/TerminalTexts.h"
#include "tests/debug/FakeTerminalPort.h"
#include "tests/support/QtWait.h"
#ifndef _WIN32
#include "tests/support/PtyPair.h"
#include "tests/support/ToolServices.h"
#endif
#include "ui/Gbk.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 60s;

std::vector<QString> g_boxes;
void recordBox(const QString& text, const QString&)
{
    g_boxes.push_back(text);
}

// Chunks handed over as the dispatch thread does: from another thread.
void dispatch(DebugTerminal& t, const std::vector<std::string>& chunks)
{
    std::thread([&] {
        for (const auto& c : chunks) {
            t.OnTerminalData(static_cast<int>(c.size()), c.data());
            t.NotifyReceiveUpdate();
        }
    }).join();
}

} // namespace

TEST(DebugPage, ControlsDriveTheTerminal)
{
    g_boxes.clear();
    SetMessageHook(recordBox);
    FakeTerminalPort port;
    CDebug page(nullptr, port);
    page.Terminal().SetAnswerDelay(0);
    page.InitTerminal();
    auto* display = page.ControlAs<QPlainTextEdit>(1067);
    auto* receive = page.ControlAs<QPushButton>(1068);
    auto* received = page.ControlAs<QLineEdit>(1079);
    auto* sendText = page.ControlAs<QLineEdit>(1028);
    EXPECT_EQ(page.ControlAs<QLineEdit>(1073)->text(), "100");
    EXPECT_EQ(page.ControlAs<QLineEdit>(1078)->text(), "S:0");
    EXPECT_EQ(received->text(), "R:0");

    // Receiving: text form, a double-byte character split over two chunks.
    receive->click();
    EXPECT_EQ(receive->text(), QStringLiteral("关闭接收"));
    ASSERT_TRUE(page.IsReceiving());
    dispatch(page.Terminal(), {std::string("A\0B\r\n", 5), "\xB0", "\xA1"});
    ASSERT_TRUE(WaitProcessing([&] { return received->text() == "R:7"; }, kDeadline));
    EXPECT_EQ(display->toPlainText(), QStringLiteral("A#B\n啊"));

    // Hex form redraws everything, then appends.
    page.ControlAs<QCheckBox>(1071)->click();
    EXPECT_EQ(display->toPlainText(), "41 00 42 0D 0A B0 A1 ");
    dispatch(page.Terminal(), {"\x7F"});
    ASSERT_TRUE(WaitProcessing([&] { return received->text() == "R:8"; }, kDeadline));
    EXPECT_EQ(display->toPlainText(), "41 00 42 0D 0A B0 A1 7F ");

    // Clearing twice leaves the display empty and both counts at 0.
    page.ControlAs<QPushButton>(1070)->click();
    page.ControlAs<QPushButton>(1070)->click();
    EXPECT_EQ(display->toPlainText(), "");
    EXPECT_EQ(received->text(), "R:0");
    EXPECT_EQ(page.ControlAs<QLineEdit>(1078)->text(), "S:0");

    // Typed text: a character GBK lacks would go out as '?', so it is named.
    sendText->setText(QStringLiteral("ok\U0001F600"));
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes.back(), FromGbk(terminaltext::kInvalidCharacter));
    sendText->clear();
    g_boxes.clear();

    // Typed hex: a bad character is refused with its box.
    page.ControlAs<QCheckBox>(1074)->click();
    EXPECT_FALSE(page.ControlAs<QCheckBox>(1075)->isEnabled());
    sendText->setText("0x01");
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes.back(), FromGbk(terminaltext::kInvalidCharacter));
    sendText->setText("41 42");
    page.ControlAs<QPushButton>(1076)->click();
    ASSERT_TRUE(WaitProcessing([&] { return page.ControlAs<QLineEdit>(1078)->text() == "S:2"; }, kDeadline));
    EXPECT_EQ(port.Written(), "AB");

    // The answer table: loaded from a file, "自动回复" ticked, bad rows told once.
    QTemporaryDir dir;
    const QString csv = dir.filePath("answers.csv");
    std::ofstream(csv.toStdString()) << "\xEF\xBB\xBF" "01 03,01 03 02 00 05,3,1\r\n02,zz\r\n";
    page.SetOpenChooser([&](QWidget*) { return csv; });
    page.ControlAs<QPushButton>(1077)->click();
    EXPECT_TRUE(page.ControlAs<QCheckBox>(1080)->isChecked());
    EXPECT_EQ(page.ControlAs<QLineEdit>(1029)->text(), csv);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_TRUE(g_boxes.back().startsWith(FromGbk(terminaltext::kBadRowsHeading)));
    dispatch(page.Terminal(), {"\x01\x03\x00"});
    ASSERT_TRUE(WaitProcessing([&] { return sendText->text() == "01 03 02 00 05"; }, kDeadline));
    ASSERT_TRUE(WaitUntil([&] { return port.Written() == std::string("AB\x01\x03\x02\x00\x05", 7); }, kDeadline));

    // With the port closed: the send says so, receiving cannot start.
    receive->click();
    EXPECT_FALSE(page.IsReceiving());
    port.open.store(false);
    page.ControlAs<QPushButton>(1076)->click();
    receive->click();
    ASSERT_EQ(g_boxes.size(), 4u);
    EXPECT_EQ(g_boxes[2], FromGbk(terminaltext::kOpenPortFirst));
    EXPECT_EQ(g_boxes[3], FromGbk(terminaltext::kOpenPortFirst));
    EXPECT_EQ(receive->text(), QStringLiteral("开启接收"));
    SetMessageHook(nullptr);
}

#ifndef _WIN32 // the far end of the line is a pseudo-terminal
// In the main window: bytes from the line reach the display through the
// dispatcher while receiving is on, the tree is disabled meanwhile, and
// closing the port switches receiving off and enables the tree again.
TEST(DebugPage, MainWindowDispatchesToItAndClosingThePortStopsIt)
{
    g_boxes.clear();
    SetMessageHook(recordBox);
    PtyPair pty;
    ToolServices tool;
    {
        CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{pty.slavePath()}; });
        ASSERT_TRUE(w.OnInitDialog());
        auto* page = dynamic_cast<CDebug*>(w.Page(135));
        ASSERT_NE(page, nullptr);
        auto* receive = page->ControlAs<QPushButton>(1068);
        receive->click();
        ASSERT_TRUE(page->IsReceiving());
        EXPECT_FALSE(w.Tree()->isEnabled());

        pty.send("hello\r\n");
        ASSERT_TRUE(WaitProcessing(
            [&] { return page->ControlAs<QPlainTextEdit>(1067)->toPlainText() == "hello\n"; }, kDeadline));
        EXPECT_EQ(page->ControlAs<QLineEdit>(1079)->text(), "R:7");

        qobject_cast<QPushButton*>(w.Control(1005))->click(); // close the port
        EXPECT_FALSE(page->IsReceiving());
        EXPECT_TRUE(w.Tree()->isEnabled());
        EXPECT_EQ(receive->text(), QStringLiteral("开启接收"));
    }
    EXPECT_TRUE(g_boxes.empty());
    SetMessageHook(nullptr);
}
#endif

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

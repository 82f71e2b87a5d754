// The window on Windows: the registry's COM ports reach the port combo, and
// a COM port opens and closes through the Win32 backend. HALDEN_TEST_PORT
// names a COM port with the simulated controller behind it (see
// scripts/test-windows); without it the port tests are skipped.
#include "app/CPellToolDlg.h"
#include "serial/CSerial.h"
#include "serial/PortList.h"
#include "ui/DialogPage.h"
#include "tests/support/ToolServices.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

QStringList g_messages;
void recordMessage(const QString& text, const QString&)
{
    g_messages << text;
}

class WinMainWindow : public ::testing::Test {
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
    static QString testPort()
    {
        const char* port = std::getenv("HALDEN_TEST_PORT");
        return port ? QString::fromLatin1(port) : QString();
    }

    ToolServices tool;
};

TEST_F(WinMainWindow, TheRegistrysPortsReachThePortCombo)
{
    const std::vector<std::string> listed = ListSerialPorts();
    CPellToolDlg w(tool.Page(), [] { return ListSerialPorts(); }); // the registry's list
    w.OnInitDialog();
    auto* combo = qobject_cast<QComboBox*>(w.Control(1002));
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QStringList expected;
    for (const std::string& port : listed)
        expected << QString::fromStdString(port);
    EXPECT_EQ(shown, expected);
    const QRegularExpression comName(QStringLiteral("^COM[1-9][0-9]*$"));
    for (const QString& port : shown)
        EXPECT_TRUE(comName.match(port).hasMatch()) << port.toStdString();
    if (!testPort().isEmpty())
        EXPECT_TRUE(shown.contains(testPort()));
}

TEST_F(WinMainWindow, AComPortOpensClosesAndAMissingOneIsNamed)
{
    if (testPort().isEmpty())
        GTEST_SKIP() << "HALDEN_TEST_PORT names no COM port";
    const std::string port = testPort().toStdString();
    CPellToolDlg w(tool.Page(), [&] { return std::vector<std::string>{port}; });
    ASSERT_TRUE(w.OnInitDialog());
    EXPECT_TRUE(tool.port.IsOpen());
    EXPECT_TRUE(g_messages.isEmpty());
    auto* button = qobject_cast<QPushButton*>(w.Control(1005));
    EXPECT_EQ(button->text(), QStringLiteral("关闭串口"));
    w.OnBnClickedPortButton();
    EXPECT_FALSE(tool.port.IsOpen());
    EXPECT_EQ(button->text(), QStringLiteral("打开串口"));
    w.OnBnClickedPortButton();
    EXPECT_TRUE(tool.port.IsOpen());
    w.OnBnClickedPortButton();

    qobject_cast<QComboBox*>(w.Control(1002))->setEditText(QStringLiteral("COM99"));
    g_messages.clear();
    w.OnBnClickedPortButton();
    EXPECT_FALSE(tool.port.IsOpen());
    EXPECT_EQ(g_messages, QStringList{QStringLiteral(">>> 请先以正确参数打开串口...\n没有找到串口 COM99："
                                                     "请检查串口名称，以及串口线或 USB 转串口线是否插好。")});
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

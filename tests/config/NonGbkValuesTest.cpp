// Values that are not valid GBK, read back from the simulated controller
// into the main window's pages: a save nobody edited for sends nothing.
#include "app/CPellToolDlg.h"
#include "config/CPellCfgDlg.h"
#include "serial/CSerial.h"
#include "tests/config/ConfigSimRig.h"
#include "tests/support/QtWait.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

TEST(NonGbkValues, ReadBackThenSaveSendsNothing)
{
    SetMessageHook([](const QString&, const QString&) {});
    sim::Simulator device{ConfigDeviceOptions()};
    // Edits (0, 2, 12), a free-text list (97) and "01" on a number list (30).
    const std::pair<int, std::string> given[] = {
        {0, "\xD6\xD0\xD6\xD0\xD6"}, {2, "X\xFE" "0Y"}, {12, "\xA1"}, {97, "X\xFE" "0Y"}, {30, "01"}};
    for (const auto& [id, value] : given)
        ASSERT_TRUE(device.SetParam(id, value)) << id;
    ASSERT_TRUE(device.Start());
    ScaledClock pauseClock{1000.0};
    ManualClock waitClock; // never advanced: the simulator always answers
    CSerial port;
    CommandEngine engine(port, waitClock, &pauseClock);
    const std::string path = device.PortPath();
    auto window = std::make_unique<CPellToolDlg>(PageServices{port, engine, systemClock()},
                                                 [path] { return std::vector<std::string>{path}; });
    ASSERT_TRUE(window->OnInitDialog());
    auto* page = qobject_cast<CPellCfgDlg*>(window->Page(132));
    ASSERT_NE(page, nullptr);
    auto idleAfter = [&](int jobs) {
        return WaitProcessing([&] {
            return page->Controller().Worker().JobsRun() >= jobs && page->JobState() == kJobIdle &&
                   page->Button(1031)->isEnabled();
        }, 60s);
    };

    page->Button(1030)->click(); // "重新加载", then power-up: job 1
    device.PowerOn();
    ASSERT_TRUE(idleAfter(1));
    auto sentAfterShow = [&](int jobs) {
        page->Button(1031)->click(); // "保存参数": job 2
        EXPECT_TRUE(idleAfter(jobs));
        const std::vector<std::string> commands = device.ReceivedCommands();
        const auto show = std::find(commands.rbegin(), commands.rend(), "AT+SHOW");
        EXPECT_NE(show, commands.rend());
        return std::vector<std::string>(show.base(), commands.end());
    };
    EXPECT_EQ(sentAfterShow(2), std::vector<std::string>{});
    for (const auto& [id, value] : given)
        EXPECT_EQ(device.Param(id), value) << id;
    // The save does compare: an edit goes out, and only the edit.
    auto* idEdit = window->Page(133)->findChild<QLineEdit*>(QStringLiteral("ctl1039"));
    ASSERT_NE(idEdit, nullptr);
    idEdit->setText(QStringLiteral("42"));
    EXPECT_EQ(sentAfterShow(3), std::vector<std::string>{"AT+IDNT=42"});

    window.reset();
    SetMessageHook(nullptr);
    port.ClosePort();
    device.Stop();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

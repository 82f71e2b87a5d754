// The page logs' view: line ends, emptying, and the last line in sight.
#include "ui/Gbk.h"
#include "ui/LogView.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pell;
using namespace pell::ui;

namespace {

// What the edit shows when the whole text is put into it at once.
QString ShownWhole(const std::string& gbk)
{
    QPlainTextEdit edit;
    edit.setPlainText(FromGbk(gbk));
    return edit.toPlainText();
}

TEST(LogView, EveryLineEndIsOneBreakAsInTheWholeText)
{
    struct Case {
        const char* what;
        std::vector<std::string> additions;
        QString shown;
    };
    const Case cases[] = {
        {"CR LF", {"a\r\nb\r\n"}, QStringLiteral("a\nb\n")},
        {"lone CR", {"50%\r100%\r\n"}, QStringLiteral("50%\n100%\n")},
        {"lone LF", {"a\nb"}, QStringLiteral("a\nb")},
        {"CR CR LF", {"a\r\r\nb"}, QStringLiteral("a\n\nb")},
        {"LF CR", {"a\n\rb"}, QStringLiteral("a\n\nb")},
        {"CR LF split between two additions", {"a\r", "\nb\r\n"}, QStringLiteral("a\nb\n")},
        {"CR at the end, other text after", {"a\r", "b"}, QStringLiteral("a\nb")},
        {"GBK text", {ToGbk(QStringLiteral("载入设备参数成功 ...\r\n"))},
         QStringLiteral("载入设备参数成功 ...\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QPlainTextEdit edit;
        LogView view(&edit);
        std::string whole;
        for (const std::string& added : c.additions) {
            view.Show({false, added});
            whole += added;
        }
        EXPECT_EQ(edit.toPlainText(), c.shown);
        EXPECT_EQ(edit.toPlainText(), ShownWhole(whole)) << "lines added show what the whole text shows";

        // The same text put in whole by the view.
        LogView(&edit).ShowWhole(whole);
        EXPECT_EQ(edit.toPlainText(), c.shown);
    }
}

TEST(LogView, EmptiedLogStartsTheEditAfresh)
{
    QPlainTextEdit edit;
    LogView view(&edit);
    view.ShowWhole("banner\r\n");
    view.Show({false, "a\r"});
    view.Show({true, "\nb\r\n"});
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("\nb\n")) << "the new log's first LF is a break of its own";

    view.Clear();
    EXPECT_EQ(edit.toPlainText(), QString());
    view.Show({false, "c\r\n"});
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("c\n"));
    view.Show({true, ""});
    EXPECT_EQ(edit.toPlainText(), QString()) << "emptied, nothing added";
}

TEST(LogView, KeepsTheLastLineInSight)
{
    QPlainTextEdit edit;
    edit.resize(200, 100);
    edit.show();
    LogView view(&edit);
    view.ShowWhole("banner\r\n");
    for (int i = 0; i < 200; ++i)
        view.Show({false, "line " + std::to_string(i) + "\r\n"});
    QScrollBar* bar = edit.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    // The technician scrolled up; the next line brings the end back.
    bar->setValue(0);
    view.Show({false, "next\r\n"});
    EXPECT_EQ(bar->value(), bar->maximum());

    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "whole " + std::to_string(i) + "\r\n";
    bar->setValue(0);
    view.ShowWhole(many);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(LogView, WithoutAnEditShowsNothing)
{
    LogView view(nullptr);
    view.ShowWhole("a\r\n");
    view.Show({true, "b\r\n"});
    view.Clear();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

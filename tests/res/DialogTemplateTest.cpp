#include "res/DialogTemplate.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace pell;

TEST(DialogTemplate, ParsesControlsItemsAndQuotedTexts)
{
    const char* text = "# comment\n"
                       "dialog 102 481 300 font \"MS Shell Dlg\" 9 caption \"Halden TOOL V3.5\"\n"
                       "static -1 12 182 28 8 \"串口号：\"\n"
                       "combo 1002 41 179 48 69\n"
                       "items 1002 \"a b\" \"say \\\"hi\\\"\"\n"
                       "edit 1107 10 1 80 12 \"\" readonly\n";
    DialogTemplate t;
    std::string error;
    ASSERT_TRUE(ParseDialogTemplate(text, t, error)) << error;
    EXPECT_EQ(t.id, 102);
    EXPECT_EQ(t.width, 481);
    EXPECT_EQ(t.fontPoints, 9);
    EXPECT_EQ(t.caption, "Halden TOOL V3.5");
    ASSERT_EQ(t.controls.size(), 3u);
    EXPECT_EQ(t.controls[0].text, "串口号：");
    EXPECT_EQ(t.controls[0].id, -1);
    EXPECT_EQ(t.items[1002], (std::vector<std::string>{"a b", "say \"hi\""}));
    ASSERT_NE(t.find(1107), nullptr);
    EXPECT_TRUE(t.find(1107)->hasFlag("readonly"));
    EXPECT_EQ(t.find(1107)->height, 12);
}

TEST(DialogTemplate, RejectsMalformedLinesNamingTheLine)
{
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"static -1 1 2 3 4\n", "line 1: the dialog line must come first"},
        {"dialog 1 2\n", "line 1: dialog needs an id, a width and a height"},
        {"dialog 1 2 3\nwidget 5 1 1 1 1\n", "line 2: unknown control kind widget"},
        {"dialog 1 2 3\nedit 5 1 1 1\n", "line 2: edit needs an id and x, y, width, height"},
        {"dialog 1 2 3\nedit 5 1 1 1 1 \"open\n", "line 2: unterminated text"},
        {"dialog 1 2 3\nedit 5 1 1 1 1\nedit 5 2 2 2 2\n", "line 3: control id 5 used twice"},
        {"dialog 1 2 3\nitems x \"a\"\n", "line 2: items needs a control id"},
        {"", "no dialog line"},
    };
    for (const auto& c : cases) {
        DialogTemplate t;
        std::string error;
        EXPECT_FALSE(ParseDialogTemplate(c.text, t, error)) << c.text;
        EXPECT_EQ(error, c.message) << c.text;
    }
}

TEST(DialogTemplate, EveryShippedTemplateParses)
{
    for (int id : {100, 102, 129, 132, 133, 134, 135, 138, 139, 141, 142, 143, 144, 145, 147, 149}) {
        std::ifstream f(std::string(PELL_SOURCE_DIR) + "/res/dialogs/" + std::to_string(id) + ".dlg");
        ASSERT_TRUE(f) << id;
        std::stringstream ss;
        ss << f.rdbuf();
        DialogTemplate t;
        std::string error;
        EXPECT_TRUE(ParseDialogTemplate(ss.str(), t, error)) << id << ": " << error;
        EXPECT_EQ(t.id, id);
    }
}

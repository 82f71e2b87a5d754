// The storage page offscreen: template, every parameter through the router,
// the erase choice by the digit rule.
#include "pages/CPellCfgSaveDlg.h"
#include "tests/pages/PageTestSupport.h"

#include <memory>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

class StoragePage : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = std::make_unique<CPellCfgSaveDlg>();
        PageRouter::Instance().InitPages();
    }
    std::unique_ptr<CPellCfgSaveDlg> page;
};

TEST_F(StoragePage, TemplateHoldsLabelledControlsAndStartsEmpty)
{
    EXPECT_EQ(page->TemplateId(), 147);
    ExpectLabels(*page, {
        {1134, "计数器0存储长度："}, {1135, "计数器1存储长度："}, {1136, "计数器2存储长度："},
        {1137, "计数器3存储长度："}, {1139, "RS232-0存储长度："}, {1140, "RS232-1存储长度："},
        {1141, "RS485-0存储长度："}, {1142, "RS485-1存储长度："}, {1174, "刷卡记录存储长度："},
        {1173, "檫除记录："},
    });
    EXPECT_TRUE(HasGroup(*page, QStringLiteral("存储配置")));
    // Counters in the left column, ports in the right one, top to bottom.
    for (int k = 0; k < 4; ++k) {
        EXPECT_LT(page->Control(1134 + k)->x(), page->Control(1139 + k)->x());
        EXPECT_EQ(page->Control(1134 + k)->y(), page->Control(1139 + k)->y());
        if (k > 0) {
            EXPECT_GT(page->Control(1134 + k)->y(), page->Control(1133 + k)->y());
        }
    }
    EXPECT_GT(page->Control(1174)->y(), page->Control(1137)->y());
    ExpectItems(*page, 1173, {"不擦除", "擦除"});
    ExpectUnselected(*page, 1173);
    EXPECT_EQ(PageValue(126), std::nullopt); // nothing selected: no value
    for (int id : ParamsOfPage(147))
        EXPECT_TRUE(PageRouter::Instance().HasControl(id)) << id;
}

TEST_F(StoragePage, ValuesShowByTheirRule)
{
    ExpectValueCases(*page, {
        {117, "100", "100", "100"},
        {118, "200", "200", "200"},
        {119, "300", "300", "300"},
        {120, "400", "400", "400"},
        {121, "500", "500", "500"},
        {122, "600", "600", "600"}, // Serial3: the RS485-0 row (1141)
        {123, "700", "700", "700"},
        {124, "800", "800", "800"},
        {125, "9000", "9000", "9000"},
        {126, "1", "擦除", "1"},
        {126, "0", "不擦除", "0"},
        {126, "15", "擦除", "1"}, // only the first character counts
        {126, "2", "", std::nullopt},
        {126, "", "", std::nullopt},
    });
    EXPECT_EQ(page->ControlAs<QLineEdit>(1141)->text(), QStringLiteral("600"));
}

} // namespace

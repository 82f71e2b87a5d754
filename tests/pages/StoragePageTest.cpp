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
        page = std::make_unique<CPellCfgSaveDlg>(router);
        router.InitPages();
    }
    PageRouter router; // outlives the pages made for it
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
    ExpectItems(*page, 1173, {"不擦除", "擦除"});
    ExpectUnselected(*page, 1173);
    EXPECT_EQ(PageValue(router, 126), std::nullopt); // nothing selected: no value
}

TEST_F(StoragePage, ValuesShowByTheirRule)
{
    ExpectValueCases(router, *page, {
        {117, "100", "100", "100"},
        {122, "600", "600", "600"}, // Serial3: the RS485-0 row (1141)
        {125, "9000", "9000", "9000"},
        {126, "1", "擦除", "1"},
        {126, "0", "不擦除", "0"},
        {126, "15", "擦除", "15"}, // only the first character selects
        {126, "2", "", "2"},
        {126, "", "", ""},
    });
    EXPECT_EQ(page->ControlAs<QLineEdit>(1141)->text(), QStringLiteral("600"));
}

} // namespace

// The counter page offscreen: template, every parameter through the router,
// and the initial-value buttons' request texts.
#include "pages/CPellCfgCntDlg.h"
#include "tests/pages/PageTestSupport.h"

#include <QPushButton>

#include <memory>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

class CounterPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = std::make_unique<CPellCfgCntDlg>(router);
        router.InitPages();
    }
    PageRouter router; // outlives the pages made for it
    std::unique_ptr<CPellCfgCntDlg> page;
};

TEST_F(CounterPage, TemplateHoldsFourLabelledGroupsAndStartsEmpty)
{
    EXPECT_EQ(page->TemplateId(), 144);
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        const std::string c = std::to_string(n);
        EXPECT_TRUE(HasGroup(*page, QString::fromStdString("计数器" + c + "接口配置")));
        ExpectLabels(*page, {
            {CPellCfgCntDlg::kModeIds[n], "计数器" + c + "方式："},
            {1138 + n, "系数："},
            {CPellCfgCntDlg::kInitialValueIds[n], "初值(x,y)："},
            {1124 + n, "存储时间(分钟)："},
            {CPellCfgCntDlg::kUseIds[n], "用途："},
        });
        EXPECT_EQ(page->SetButton(n)->text(), QStringLiteral("设置初值"));
        EXPECT_EQ(page->ReadButton(n)->text(), QStringLiteral("读取初值"));
        ExpectItems(*page, CPellCfgCntDlg::kModeIds[n], {"不计数", "上升沿", "下降沿", "双沿"});
        ExpectItems(*page, CPellCfgCntDlg::kUseIds[n], {"预留", "水表", "电表"});
        ExpectUnselected(*page, CPellCfgCntDlg::kModeIds[n]);
        ExpectUnselected(*page, CPellCfgCntDlg::kUseIds[n]);
        EXPECT_TRUE(page->m_strCounterRequest[n].Empty());
    }
}

TEST_F(CounterPage, ValuesShowByTheirRule)
{
    ExpectValueCases(router, *page, {
        {81, "1", "上升沿", "1"},
        {82, "0.01", "0.01", "0.01"},
        {83, "15", "15", "15"},
        {84, "1", "水表", "1"},
        {85, "3", "双沿", "3"},
        {96, "2", "电表", "2"},
        {81, "31", "双沿", "31"}, // the first character selects; untouched, back as given
        {81, "4", "", "4"}, // beyond the list: no selection
        {84, "3", "", "3"},
        {85, "", "", ""},
        {85, "-1", "", "-1"},
    });
}

TEST_F(CounterPage, ButtonsWriteAndReplaceTheCounterRequest)
{
    const RequestSlot slotOf[] = {RequestSlot::Counter0, RequestSlot::Counter1, RequestSlot::Counter2,
                                 RequestSlot::Counter3};
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(router.Request(slotOf[n]), &page->m_strCounterRequest[n]) << n;
    EXPECT_EQ(page->Request(RequestSlot::Serial0), nullptr);

    struct Step {
        int counter;
        bool set;
        QString edit;
        std::string request;
    };
    const Step steps[] = {
        {2, true, QStringLiteral("100,5"), "=100,5"},
        {0, true, QString(), "="},              // an empty edit: "=" alone
        {3, false, QStringLiteral("9"), "?"},
        {3, true, QStringLiteral("7,1"), "=7,1"}, // replaces the pending read
        {1, true, QStringLiteral("12\r\nAT+RESET"), "=12"}, // cut at the line break
        {2, false, QString(), "?"},             // replaces the pending set
    };
    for (const auto& s : steps) {
        page->InitialValue(s.counter)->setText(s.edit);
        (s.set ? page->SetButton(s.counter) : page->ReadButton(s.counter))->click();
        EXPECT_EQ(page->m_strCounterRequest[s.counter].Get(), s.request) << s.counter;
    }
}

} // namespace

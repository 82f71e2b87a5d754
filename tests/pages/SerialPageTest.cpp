// The serial meter page offscreen: template, every parameter through the
// router, and the initial-value buttons' request texts.
#include "pages/CPellCfgUartDlg.h"
#include "tests/pages/PageTestSupport.h"

#include <QPushButton>

#include <memory>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

class SerialPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = std::make_unique<CPellCfgUartDlg>(router);
        router.InitPages();
    }
    PageRouter router; // outlives the pages made for it
    std::unique_ptr<CPellCfgUartDlg> page;
};

TEST_F(SerialPage, TemplateHoldsFourLabelledGroupsAndStartsEmpty)
{
    EXPECT_EQ(page->TemplateId(), 145);
    const char* names[] = {"RS232-0", "RS232-1", "RS485-0", "RS485-1"};
    const int polling[] = {1167, 1168, 1171, 1169};
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(HasGroup(*page, QString::fromUtf8(names[n]) + QStringLiteral("接口配置")));
        ExpectLabels(*page, {
            {CPellCfgUartDlg::kSpeedIds[n], "波特率："},
            {CPellCfgUartDlg::kFormatIds[n], "数据位："},
            {polling[n], "采集间隔："},
            {1159 + n, "存储时间(分钟)："},
            {CPellCfgUartDlg::kMeterTypeIds[n], "用途："},
            {CPellCfgUartDlg::kInitialValueIds[n], "初值(x,y)："},
        });
        EXPECT_EQ(page->SetButton(n)->text(), QStringLiteral("设置"));
        EXPECT_EQ(page->ReadButton(n)->text(), QStringLiteral("读取"));
        ExpectItems(*page, CPellCfgUartDlg::kSpeedIds[n],
                    {"300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
                     "57600", "115200"});
        ExpectItems(*page, CPellCfgUartDlg::kFormatIds[n], {"8N1", "8E1", "8O1", "7O1", "7E1", "7N1"});
        ExpectItems(*page, CPellCfgUartDlg::kMeterTypeIds[n],
                    {"预留", "TDS100", "T188", "MK_301", "SX0201", "YG19", "DJSB", "DSH", "HTYDDB",
                     "WHTGSB", "RHXTSB", "JKSBMB", "JKSB188", "XJHTDB", "W803E", "DSS77", "PellLDE",
                     "HTYDDC", "DTSU666"});
        for (int id : {CPellCfgUartDlg::kSpeedIds[n], CPellCfgUartDlg::kFormatIds[n],
                       CPellCfgUartDlg::kMeterTypeIds[n]})
            ExpectUnselected(*page, id);
        EXPECT_TRUE(page->m_strSerialRequest[n].Empty());
    }
}

TEST_F(SerialPage, ValuesShowByTheirRule)
{
    ExpectValueCases(router, *page, {
        {97, "9600", "9600", "9600"},
        {97, "4000", "4000", "4000"}, // not in the list: shown and returned all the same
        {100, "15", "15", "15"},
        {103, "8E1", "8E1", "8E1"},
        {109, "5", "5", "5"}, // RS485-0 polls through 1171
        {114, "7", "7", "7"}, // RS485-1 polls through 1169
        {116, "18", "DTSU666", "18"},
        {116, "19", "", "19"}, // beyond the list: no selection
        {116, "-1", "", "-1"},
        {116, "x", "预留", "x"}, // no digits: item 0
        {111, " 3abc", "MK_301", " 3abc"},
    });
}

TEST_F(SerialPage, ButtonsWriteAndReplaceTheSerialRequest)
{
    const RequestSlot slotOf[] = {RequestSlot::Serial0, RequestSlot::Serial1, RequestSlot::Serial2,
                                 RequestSlot::Serial3};
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(router.Request(slotOf[n]), &page->m_strSerialRequest[n]) << n;
    EXPECT_EQ(page->Request(RequestSlot::Counter0), nullptr);
    // The read buttons count down: 1182 reads RS485-1.
    EXPECT_EQ(page->Control(1182), page->ReadButton(3));
    EXPECT_EQ(page->Control(1185), page->ReadButton(0));

    struct Step {
        int port;
        bool set;
        QString edit;
        std::string request;
    };
    const Step steps[] = {
        {3, false, QString(), "?"},
        {0, true, QStringLiteral("1234,5"), "=1234,5"},
        {1, true, QString(), "="},
        {0, false, QString(), "?"},               // replaces the pending set
        {2, true, QStringLiteral("8\nAT+RESET"), "=8"}, // cut at the line break
    };
    for (const auto& s : steps) {
        page->InitialValue(s.port)->setText(s.edit);
        (s.set ? page->SetButton(s.port) : page->ReadButton(s.port))->click();
        EXPECT_EQ(page->m_strSerialRequest[s.port].Get(), s.request) << s.port;
    }
}

} // namespace

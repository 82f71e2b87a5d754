// The SMS and Modbus pages offscreen (never shown, but carrying values):
// templates, the lists they fill themselves, every parameter through the
// router, and a value text that is no label yielding no value.
#include "pages/CPellCfgModbusDlg.h"
#include "pages/CPellCfgSmsDlg.h"
#include "tests/pages/PageTestSupport.h"
#include "tests/pages/PageValues.h"

#include <memory>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

class SmsModbusPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        sms = std::make_unique<CPellCfgSmsDlg>(router);
        modbus = std::make_unique<CPellCfgModbusDlg>(router);
        router.InitPages();
    }
    PageRouter router; // outlives the pages made for it
    std::unique_ptr<CPellCfgSmsDlg> sms;
    std::unique_ptr<CPellCfgModbusDlg> modbus;
};

TEST_F(SmsModbusPages, TemplatesHoldLabelledControlsAndListsStartUnselected)
{
    EXPECT_EQ(sms->TemplateId(), 138);
    ExpectLabels(*sms, {
        {1079, "短信发送号码1："}, {1081, "短信发送号码2："}, {1082, "短信发送号码3："},
        {1083, "短信发送号码4："}, {1084, "短信发送格式:"}, {1085, "短信备份功能:"},
        {1086, "短信接收转到串口:"},
    });
    EXPECT_TRUE(HasGroup(*sms, QStringLiteral("短信发送号码配置(每组最多有5个号码，号码之间用逗号隔开)")));
    ExpectItems(*sms, 1084, {"普通短信", "HEX短信"});
    ExpectItems(*sms, 1085, {"开启", "禁止"});
    ExpectItems(*sms, 1086, {"开启", "关闭"});

    EXPECT_EQ(modbus->TemplateId(), 139);
    ExpectLabels(*modbus, {
        {1094, "MODBUS工作模式:"}, {1028, "MODBUS从设备地址<1-247>:"}, {1096, "模拟量1工作模式:"},
        {1097, "模拟量2工作模式:"}, {1098, "数字量1工作模式:"}, {1099, "数字量2工作模式:"},
        {1100, "数字量3工作模式:"},
    });
    EXPECT_TRUE(HasGroup(*modbus, QStringLiteral("ModBus设置")));
    EXPECT_TRUE(HasGroup(*modbus, QStringLiteral("接口设置")));
    ExpectItems(*modbus, 1094, {"不启用MODBUS", "网络RTU功能", "串口RTU功能"});
    for (int id : {1096, 1097})
        ExpectItems(*modbus, id, {"不启用", "一次性采集"});
    for (int id : {1098, 1099, 1100})
        ExpectItems(*modbus, id, {"不启用", "输入", "输出"});

    // Filled in code, yet no item selected and no text: before a read-back
    // the write finds no value to send.
    for (int id : {1084, 1085, 1086})
        ExpectUnselected(*sms, id);
    for (int id : {1094, 1096, 1097, 1098, 1099, 1100})
        ExpectUnselected(*modbus, id);
    for (int id : {135, 136, 137, 138, 140, 141, 142, 143, 144})
        EXPECT_EQ(PageValue(router, id), std::nullopt) << id;
}

TEST_F(SmsModbusPages, ValuesShowByTheirLabelsAndOtherTextsYieldNoValue)
{
    ExpectValueCases(router, *sms, {
        {131, "13800000001,13800000002", "13800000001,13800000002", "13800000001,13800000002"},
        {135, "0", "普通短信", "0"},
        {135, "1", "HEX短信", "1"},
        {136, "1", "开启", "1"},
        {136, "0", "禁止", "0"},
        {137, "0", "关闭", "0"},
        {137, "1", "开启", "1"},
        // A value that is no label empties the box; untouched, it goes back
        // as given instead of clearing the controller's setting.
        {135, "2", "", "2"},
        {136, "01", "", "01"}, // the whole text counts
        {137, "1 ", "", "1 "},
        {137, "", "", ""},
    });
    ExpectValueCases(router, *modbus, {
        {138, "0", "不启用MODBUS", "0"},
        {138, "1", "网络RTU功能", "1"},
        {138, "2", "串口RTU功能", "2"},
        {139, "17", "17", "17"},
        {139, "300", "300", "300"}, // outside 1..247: passed as it is
        {140, "1", "一次性采集", "1"},
        {143, "1", "输入", "1"},
        {144, "1", "输入", "1"},
        {144, "2", "输出", "2"},
        {140, "2", "", "2"}, // the analog lists have no 2
        {138, "3", "", "3"},
        {142, "10", "", "10"},
    });
    // A label shows without selecting an item; a typed text that is no label
    // yields no value.
    SetPageValue(router, 138, "1");
    EXPECT_EQ(modbus->Combo(0)->currentIndex(), -1);
    sms->Format()->setEditText(QStringLiteral("1"));
    EXPECT_EQ(PageValue(router, 135), std::nullopt);
    modbus->Combo(3)->setEditText(QStringLiteral("输入 "));
    EXPECT_EQ(PageValue(router, 142), std::nullopt);
    // A label picked from the list reads back as its code.
    sms->Backup()->setCurrentIndex(0);
    EXPECT_EQ(PageValue(router, 136), "1");
    sms->Format()->setCurrentIndex(1);
    EXPECT_EQ(PageValue(router, 135), "1");
}

TEST(SmsModbusPageLists, FillingKeepsATextShownBeforeAndRunsOnce)
{
    PageRouter router;
    CPellCfgSmsDlg page(router);
    ASSERT_TRUE(SetPageValue(router, 136, "0"));
    page.FillComboItems();
    page.FillComboItems();
    EXPECT_EQ(page.Backup()->count(), 2);
    EXPECT_EQ(page.Backup()->currentIndex(), -1);
    EXPECT_EQ(page.Backup()->currentText(), QStringLiteral("禁止"));
    EXPECT_EQ(PageValue(router, 136), "0");
}

} // namespace

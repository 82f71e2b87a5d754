// The network, water and electricity, digital input and relay pages
// offscreen: templates, start-up states, every parameter through the
// router, the value rules at their boundaries and the work-mode labels.
#include "ui/DialogPage.h"
#include "app/PageRegistry.h"
#include "pages/CPellCfgDiDlg.h"
#include "pages/CPellCfgGprsDlg.h"
#include "pages/CPellCfgRelayDlg.h"
#include "pages/CPellCfgWtrDlg.h"
#include "pages/PageMap.h"
#include "pages/PageRouter.h"
#include "tests/pages/PageValues.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

using namespace pell;
using namespace pell::ui;

namespace {

const QStringList kChannels = {"无", "计数器0", "计数器1", "计数器2", "计数器3", "RS232-0", "RS232-1",
                               "RS485-0", "RS485-1", "DI0", "DI1", "DI2", "DI3"};
const QStringList kTrip = {"不开启", "开启"};
const QStringList kAlarm = {"不报警", "低电平报警", "高电平报警", "上升沿报警", "下降沿报警", "双沿报警"};
const QStringList kDiUse = {"预留", "主控检测", "电磁锁检测", "水泵电流检测"};
const QStringList kRelayDefault = {"断开", "吸合"};
const QStringList kRelayUse = {"预留", "主控", "电磁锁"};
const QStringList kWorkMode = {"TCP", "UDP"}, kMainType = {"空开", "接触器"}, kMainRelay = {"常开", "常闭"};

struct Labelled {
    int templateId;
    int controlId;
    const char* label; // nullptr: shares the row of the control before it
};

const Labelled kLabels[] = {
    {134, 1064, "GPRS工作模式:"}, {134, 1042, "主中心地址+端口："}, {134, 1043, nullptr},
    {134, 1044, "备中心地址+端口："}, {134, 1045, nullptr}, {134, 1054, "主中心域名服务器地址："},
    {134, 1055, "备中心域名服务器地址："}, {134, 1028, "无线网络APN："}, {134, 1029, "APN用户名："},
    {134, 1030, "APN密码："}, {134, 1031, "APN拨号中心号码："}, {134, 1061, "心跳时间(单位秒)："},
    {134, 1062, "时段报(单位分钟)："}, {134, 1063, "增量报(单位吨)："},
    {141, 1094, "水量通道1："}, {141, 1097, "水量通道2："}, {141, 1099, "水量通道3："},
    {141, 1101, "水量通道4："}, {141, 1103, "水量通道5："}, {141, 1105, "水量通道6："},
    {141, 1111, "剩余水量报警阀值(吨)："}, {141, 1112, "无水检测时间(分钟)："},
    {141, 1095, "电量通道:"}, {141, 1108, "备份通道:"}, {141, 1080, "电量转水量系数(Kg->0.1度)："},
    {141, 1089, "无电检测时间按(秒种)："}, {141, 1090, "电量系数(此值要除以2000)："},
    {141, 1091, "电压系数(此值要除以1000)："}, {141, 1092, "时间转水量系数(Kg->秒)："},
    {141, 1109, "电表过滤电流(单位安)："}, {141, 1118, "相电流脱口："}, {141, 1081, "相电流上限阀值："},
    {141, 1082, "相电流下限阀值："}, {141, 1083, "电流平衡脱口值："}, {141, 1123, "相电压脱口："},
    {141, 1084, "相电压上限阀值："}, {141, 1085, "相电压下限阀值："}, {141, 1086, "电压平衡脱口值："},
    {142, 1112, "DI0 采集间隔(10ms)："}, {142, 1113, "DI1 采集间隔(10ms)："},
    {142, 1114, "DI2 采集间隔(10ms)："}, {142, 1115, "DI3 采集间隔(10ms)："},
    {142, 1080, "存储间隔(分)："}, {142, 1081, "存储间隔(分)："}, {142, 1082, "存储间隔(分)："},
    {142, 1083, "存储间隔(分)："}, {142, 1116, "报警方式："}, {142, 1117, "报警方式："},
    {142, 1118, "报警方式："}, {142, 1120, "报警方式："}, {142, 1119, "用途："}, {142, 1121, "用途："},
    {142, 1122, "用途："}, {142, 1123, "用途："},
    {143, 1124, "继电器0默认输出："}, {143, 1125, "继电器1默认输出："}, {143, 1126, "继电器2默认输出："},
    {143, 1127, "继电器3默认输出："}, {143, 1128, "用途："}, {143, 1130, "用途："}, {143, 1131, "用途："},
    {143, 1132, "用途："}, {143, 1129, "主控类型："}, {143, 1133, "电磁锁开锁延迟："},
    {143, 1134, "主控继电器："}, {143, 1135, "开机主控保护："},
};

struct Items {
    int templateId;
    std::vector<int> controlIds;
    const QStringList* items;
};

const Items kItems[] = {
    {134, {1064}, &kWorkMode},
    {141, {1094, 1097, 1099, 1101, 1103, 1105, 1095, 1108}, &kChannels},
    {141, {1118, 1123}, &kTrip},
    {142, {1116, 1117, 1118, 1120}, &kAlarm},
    {142, {1119, 1121, 1122, 1123}, &kDiUse},
    {143, {1124, 1125, 1126, 1127}, &kRelayDefault},
    {143, {1128, 1130, 1131, 1132}, &kRelayUse},
    {143, {1129}, &kMainType}, {143, {1134}, &kMainRelay}, {143, {1135}, &kTrip},
};

class Pages : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int t : {134, 141, 142, 143})
            pages[t].reset(dynamic_cast<ParamPage*>(CreateSettingsPage(t, nullptr, router)));
        ASSERT_TRUE(dynamic_cast<CPellCfgGprsDlg*>(pages[134].get()) && dynamic_cast<CPellCfgWtrDlg*>(pages[141].get()) &&
                    dynamic_cast<CPellCfgDiDlg*>(pages[142].get()) && dynamic_cast<CPellCfgRelayDlg*>(pages[143].get()));
        router.InitPages();
    }
    QComboBox* Combo(int t, int id) { return pages[t]->ControlAs<QComboBox>(id); }
    QLineEdit* Edit(int t, int id) { return pages[t]->ControlAs<QLineEdit>(id); }
    QWidget* ControlOf(int paramId)
    {
        auto pc = FindPageControl(paramId);
        return pc ? pages[pc->templateId]->Control(pc->controlId) : nullptr;
    }

    PageRouter router; // outlives the pages made for it
    std::map<int, std::unique_ptr<ParamPage>> pages;
};

} // namespace

TEST_F(Pages, EachLabelIsItsControlsBuddyAndEverythingFitsThePage)
{
    for (const auto& l : kLabels) {
        QWidget* control = pages[l.templateId]->Control(l.controlId);
        ASSERT_NE(control, nullptr) << l.templateId << "/" << l.controlId;
        QLabel* label = nullptr;
        for (QWidget* w : pages[l.templateId]->Controls().All())
            if (auto* q = qobject_cast<QLabel*>(w); q && q->buddy() == control)
                label = q;
        if (!l.label) {
            EXPECT_EQ(label, nullptr) << l.controlId;
            continue;
        }
        ASSERT_NE(label, nullptr) << l.controlId;
        EXPECT_EQ(label->text(), QString::fromUtf8(l.label)) << l.controlId;
        EXPECT_LT(label->geometry().right(), control->x()) << l.controlId;
        EXPECT_LE(label->sizeHint().width(), label->width()) << "clipped: " << l.label;
    }
    for (auto& [t, page] : pages) {
        const QRect frame = page->rect();
        for (QWidget* w : page->Controls().All()) {
            EXPECT_TRUE(frame.contains(w->geometry())) << t << "/" << w->property("controlId").toInt();
            if (auto* c = qobject_cast<QComboBox*>(w)) {
                EXPECT_TRUE(c->isEditable()) << t;
            }
            if (auto* e = qobject_cast<QLineEdit*>(w)) {
                EXPECT_FALSE(e->isReadOnly()) << t;
                EXPECT_EQ(e->echoMode(), QLineEdit::Normal) << t; // the APN password in clear
            }
        }
    }
    // Input 3's alarm mode and use sit on the row of input 3.
    EXPECT_EQ(Combo(142, 1120)->y(), Combo(142, 1123)->y());
    EXPECT_GT(Combo(142, 1120)->y(), Combo(142, 1118)->y());
}

TEST_F(Pages, ListsComeFromTheTemplates)
{
    for (const auto& it : kItems)
        for (int id : it.controlIds) {
            QComboBox* box = Combo(it.templateId, id);
            ASSERT_NE(box, nullptr) << id;
            QStringList shown;
            for (int i = 0; i < box->count(); ++i)
                shown << box->itemText(i);
            EXPECT_EQ(shown, *it.items) << it.templateId << "/" << id;
        }
}

TEST_F(Pages, StartUpStates)
{
    std::string back;
    // Network: "TCP" shown, nothing selected; the getter says 0.
    EXPECT_EQ(Combo(134, 1064)->currentText(), QStringLiteral("TCP"));
    EXPECT_EQ(Combo(134, 1064)->currentIndex(), -1);
    ASSERT_TRUE(GetPageValue(router, 13, back));
    EXPECT_EQ(back, "0");
    // Water and electricity: every channel on "无" (0), trips unselected.
    for (int id : CPellCfgWtrDlg::kChannelIds)
        EXPECT_EQ(Combo(141, id)->currentText(), QStringLiteral("无")) << id;
    for (int p : {30, 31, 32, 33, 34, 35, 38, 39}) {
        ASSERT_TRUE(GetPageValue(router, p, back)) << p;
        EXPECT_EQ(back, "0") << p;
    }
    for (int p : {43, 47, 55, 56, 67, 68, 69, 77, 79, 80})
        EXPECT_FALSE(GetPageValue(router, p, back)) << p << " has no selection yet";
    // Edits are empty and read back as the empty value.
    for (int t : {134, 141, 142, 143})
        for (int p : ParamsOfPage(t))
            if (qobject_cast<QLineEdit*>(ControlOf(p))) {
                back = "stale";
                ASSERT_TRUE(GetPageValue(router, p, back)) << p;
                EXPECT_EQ(back, "") << p;
            }
}

TEST_F(Pages, EveryParameterGoesThroughTheRouterAndComesBack)
{
    for (int t : {134, 141, 142, 143}) {
        std::map<int, std::string> sent;
        for (int p : ParamsOfPage(t)) {
            QWidget* c = ControlOf(p);
            ASSERT_NE(c, nullptr) << p;
            // Text-rule edits get their own id; combo boxes their last item.
            auto* box = qobject_cast<QComboBox*>(c);
            sent[p] = box ? (p == 13 ? "1" : std::to_string(box->count() - 1)) : "v" + std::to_string(p);
            ASSERT_TRUE(SetPageValue(router, p, sent[p])) << p;
        }
        for (auto& [p, v] : sent) {
            std::string back;
            ASSERT_TRUE(GetPageValue(router, p, back)) << p;
            EXPECT_EQ(back, v) << p;
            if (auto* e = qobject_cast<QLineEdit*>(ControlOf(p))) {
                EXPECT_EQ(e->text().toStdString(), v) << p;
            }
        }
    }
}

TEST_F(Pages, ComboRulesAtTheirBoundaries)
{
    struct Case {
        int param;
        const char* value;
        int index;            // selected item afterwards
        std::optional<std::string> back; // what the getter hands the write
        const char* shown = nullptr;
    };
    // Untouched, every list hands its value back as given, whatever item
    // (or none) the rule selected for it.
    const Case cases[] = {
        {30, "12", 12, "12", "DI3"}, // number rule
        {38, "13", -1, "13"},        // beyond the thirteen channels
        {39, "-1", -1, "-1"},
        {31, "abc", 0, "abc", "无"}, // no digit: item 0
        {32, " 7x", 7, " 7x", "RS485-0"},
        {43, "15", 1, "15", "开启"}, // digit rule: only the first character counts
        {47, "", -1, ""},
        {43, "2", -1, "2"},
        {47, "1", 1, "1", "开启"},
        {55, "5", 5, "5", "双沿报警"},
        {59, "6", -1, "6"},
        {68, "3", 3, "3", "水泵电流检测"},
        {64, "4", -1, "4"},
        {69, "2", -1, "2"},
        {74, "2", 2, "2", "电磁锁"},
        {77, "1", 1, "1", "接触器"},
        {80, "1", 1, "1", "常闭"},
    };
    for (const auto& c : cases) {
        auto* box = qobject_cast<QComboBox*>(ControlOf(c.param));
        ASSERT_NE(box, nullptr) << c.param;
        box->setCurrentIndex(0);
        ASSERT_TRUE(SetPageValue(router, c.param, c.value)) << c.param;
        EXPECT_EQ(box->currentIndex(), c.index) << c.param << " <- '" << c.value << "'";
        std::string back = "stale";
        EXPECT_EQ(GetPageValue(router, c.param, back), c.back.has_value()) << c.param;
        EXPECT_EQ(back, c.back.value_or("")) << c.param;
        EXPECT_EQ(box->currentText(), QString::fromUtf8(c.shown ? c.shown : "")) << c.param;
    }
}

// What the user types into an editable list of the digit or number rule
// selects the item of exactly that text, or nothing; the text stays.
TEST_F(Pages, TypedTextSelectsItsItemOrNothing)
{
    struct Case {
        int param;
        const char* typed;
        int index;
        std::optional<std::string> back;
    };
    const Case cases[] = {
        {30, "xyz", -1, {}},       // number rule, over item 2
        {30, "RS232-1", 6, "6"},
        {30, "rs232-1", -1, {}},   // exactly that text
        {30, "", -1, {}},
        {43, "开启", 1, "1"},       // digit rule
        {43, "开启 ", -1, {}},
        {69, "吸合", 1, "1"},
    };
    for (const auto& c : cases) {
        auto* box = qobject_cast<QComboBox*>(ControlOf(c.param));
        ASSERT_NE(box, nullptr) << c.param;
        ASSERT_TRUE(box->isEditable()) << c.param;
        box->setCurrentIndex(box->count() > 2 ? 2 : 0);
        box->lineEdit()->setText(QString::fromUtf8(c.typed));
        EXPECT_EQ(box->currentIndex(), c.index) << c.param << " '" << c.typed << "'";
        EXPECT_EQ(box->currentText(), QString::fromUtf8(c.typed)) << c.param;
        std::string back = "stale";
        EXPECT_EQ(GetPageValue(router, c.param, back), c.back.has_value()) << c.param << " '" << c.typed << "'";
        EXPECT_EQ(back, c.back.value_or("")) << c.param;
    }
}

TEST_F(Pages, WorkModeByTheWholeValueText)
{
    QComboBox* mode = Combo(134, 1064);
    const std::pair<const char*, const char*> shown[] = {
        {"1", "UDP"}, {"0", "TCP"}, {"10", "TCP"}, {"", "TCP"}, {"1 ", "TCP"}, {"01", "TCP"}, {"1", "UDP"},
    };
    for (auto [value, label] : shown) {
        ASSERT_TRUE(SetPageValue(router, 13, value));
        EXPECT_EQ(mode->currentText(), QString::fromLatin1(label)) << "'" << value << "'";
        EXPECT_EQ(mode->currentIndex(), -1);
        std::string back;
        ASSERT_TRUE(GetPageValue(router, 13, back));
        EXPECT_EQ(back, value) << "untouched: as given";
    }
    // The comparison is exact: typed lower-case names are no label.
    for (auto [typed, value] : {std::pair{"udp", "0"}, {"UDP", "1"}, {"tcp", "0"}, {"GPRS", "0"}}) {
        mode->setEditText(QString::fromLatin1(typed));
        std::string back;
        ASSERT_TRUE(GetPageValue(router, 13, back));
        EXPECT_EQ(back, value) << typed;
    }
    // The password comes back unchanged, shown in clear text.
    ASSERT_TRUE(SetPageValue(router, 21, " pa$s word "));
    EXPECT_EQ(Edit(134, 1030)->displayText(), QStringLiteral(" pa$s word "));
    std::string back;
    ASSERT_TRUE(GetPageValue(router, 21, back));
    EXPECT_EQ(back, " pa$s word ");
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The basic settings page offscreen: its template, every parameter through
// the router, the label tables, the parameters without a control, and the
// clock section.
#include "ui/DialogPage.h"
#include "ui/Gbk.h"
#include "app/PageRegistry.h"
#include "ui/UiThread.h"
#include "pages/BasicPageTexts.h"
#include "pages/CPellCfgDevDlg.h"
#include "pages/PageMap.h"
#include "pages/PageRouter.h"
#include "tests/support/QtWait.h"
#include "tests/pages/PageValues.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <thread>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;
namespace bp = pell::basicpage;

namespace {

QStringList g_messages;
void recordMessage(const QString& text, const QString&)
{
    g_messages << text;
}


QString Q(const char* gbk)
{
    return FromGbk(gbk);
}

CivilTime Tuesday8December2026()
{
    CivilTime c;
    c.year = 2026, c.month = 12, c.day = 8, c.hour = 13, c.minute = 5, c.second = 9, c.weekday = 2;
    return c;
}

// Every control's shown state, to prove that a call changed nothing.
std::map<int, QString> Snapshot(const DialogPage& page)
{
    std::map<int, QString> s;
    for (QWidget* w : page.Controls().All()) {
        const int id = w->property("controlId").toInt();
        if (auto* e = qobject_cast<QLineEdit*>(w))
            s[id] = e->text();
        else if (auto* c = qobject_cast<QComboBox*>(w))
            s[id] = c->currentText() + QStringLiteral("#%1").arg(c->currentIndex());
    }
    return s;
}

class BasicPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_messages.clear();
        SetMessageHook(recordMessage);
        page = std::make_unique<CPellCfgDevDlg>(router);
        page->SetNowSource([this] { return now; });
        router.InitPages();
    }
    void TearDown() override
    {
        page.reset();
        SetMessageHook(nullptr);
    }
    QComboBox* Combo(int id) const { return page->ControlAs<QComboBox>(id); }
    QLineEdit* Edit(int id) const { return page->ControlAs<QLineEdit>(id); }

    CivilTime now = Tuesday8December2026();
    PageRouter router; // outlives the pages made for it
    std::unique_ptr<CPellCfgDevDlg> page;
};

} // namespace

TEST_F(BasicPage, TemplateHoldsTheControlsWithTheirLabelsAndItems)
{
    EXPECT_EQ(page->TemplateId(), 133);
    const std::map<int, const char*> labelled = {
        {1039, "设备ID(固定10位)："},   {1041, "电话号码(最多20位)："}, {1042, "信息调试等级(0/1/2)："},
        {1051, "机井行政码(12位)："},   {1052, "机井水管码(11位)："},   {1053, "语音音量设置(0-16)："},
        {1043, "锁用户卡功能："},       {1044, "电表通讯异常跳闸："},   {1045, "水表通讯异常跳闸："},
        {1054, "管理员号码："},         {1099, "RTC时间设置:"},
    };
    for (auto [id, text] : labelled) {
        QWidget* control = page->Control(id);
        ASSERT_NE(control, nullptr) << id;
        auto* label = qobject_cast<QLabel*>(page->Controls().LabelWithText(QString::fromUtf8(text)));
        ASSERT_NE(label, nullptr) << text;
        EXPECT_EQ(label->buddy(), control) << text;
        EXPECT_LT(label->x(), control->x()) << "label left of its control " << id;
    }
    for (int id : {1039, 1041, 1051, 1052, 1053, 1054})
        EXPECT_FALSE(Edit(id)->isReadOnly()) << id;
    EXPECT_TRUE(Edit(1100)->isReadOnly());
    EXPECT_FALSE(Edit(1100)->hasFrame());
    ASSERT_NE(page->DatePicker(), nullptr);
    ASSERT_NE(page->TimePicker(), nullptr);
    ASSERT_NE(page->SetClockButton(), nullptr);
    EXPECT_EQ(page->SetClockButton()->text(), QStringLiteral("设置"));
    // The administrator numbers take the full width.
    EXPECT_GT(Edit(1054)->width(), 2 * Edit(1039)->width());
    // Top to bottom in the order of the page's table.
    EXPECT_LT(Edit(1039)->y(), Combo(1042)->y());
    EXPECT_LT(Combo(1042)->y(), Edit(1052)->y());
    EXPECT_LT(Edit(1052)->y(), Combo(1043)->y());
    EXPECT_LT(Combo(1045)->y(), Edit(1054)->y());
    EXPECT_LT(Edit(1054)->y(), Combo(1099)->y());
    // The PC clock and the manual group share one place.
    EXPECT_EQ(Edit(1100)->x(), page->DatePicker()->x());
    EXPECT_TRUE(page->DatePicker()->geometry().intersects(Edit(1100)->geometry()));

    EXPECT_EQ(Combo(1042)->count(), 3);
    EXPECT_EQ(Combo(1042)->itemText(0), Q(bp::kNoLog));
    EXPECT_EQ(Combo(1042)->itemText(1), Q(bp::kSimpleLog));
    EXPECT_EQ(Combo(1042)->itemText(2), Q(bp::kDetailedLog));
    for (int id : {1043, 1044, 1045}) {
        ASSERT_EQ(Combo(id)->count(), 2) << id;
        EXPECT_EQ(Combo(id)->itemText(0), Q(bp::kNo));
        EXPECT_EQ(Combo(id)->itemText(1), Q(bp::kYes));
    }
    // Drop-down boxes with a free text field, empty and unselected until a
    // read-back fills them.
    for (int id : {1042, 1043, 1044, 1045, 1099, 1104}) {
        EXPECT_TRUE(Combo(id)->isEditable()) << id;
    }
    for (int id : {1042, 1043, 1044, 1045}) {
        EXPECT_EQ(Combo(id)->currentIndex(), -1) << id;
        EXPECT_EQ(Combo(id)->currentText(), QString()) << id;
    }
}

TEST_F(BasicPage, EveryParameterGoesThroughTheRouterAndComesBack)
{
    const std::map<int, std::string> values = {
        {0, "0102030405"},
        {1, "13800138000"},
        {2, "13900000001,13900000002"},
        {3, "1"},
        {4, "410101000001"},
        {5, "41010100001"},
        {6, "16"},
        {127, "1"},
        {128, "0"},
        {129, "1"},
    };
    const auto ids = ParamsOfPage(133);
    ASSERT_EQ(ids.size(), values.size());
    for (int id : ids) {
        EXPECT_TRUE(router.HasControl(id)) << id;
        EXPECT_TRUE(SetPageValue(router, id, values.at(id))) << id;
    }
    for (int id : ids) {
        std::string back = "stale";
        EXPECT_TRUE(GetPageValue(router, id, back)) << id;
        EXPECT_EQ(back, values.at(id)) << id;
    }
    // Each value landed on its own control.
    EXPECT_EQ(Edit(1039)->text(), QStringLiteral("0102030405"));
    EXPECT_EQ(Edit(1041)->text(), QStringLiteral("13800138000"));
    EXPECT_EQ(Edit(1054)->text(), QStringLiteral("13900000001,13900000002"));
    EXPECT_EQ(Edit(1051)->text(), QStringLiteral("410101000001"));
    EXPECT_EQ(Edit(1052)->text(), QStringLiteral("41010100001"));
    EXPECT_EQ(Edit(1053)->text(), QStringLiteral("16"));
    EXPECT_EQ(Combo(1042)->currentText(), Q(bp::kSimpleLog));
    EXPECT_EQ(Combo(1043)->currentText(), Q(bp::kYes));
    EXPECT_EQ(Combo(1044)->currentText(), Q(bp::kNo));
    EXPECT_EQ(Combo(1045)->currentText(), Q(bp::kYes));
}

TEST_F(BasicPage, TextRuleKeepsBytesAndCutsWhatTheControllerCannotHold)
{
    // GBK text, blanks and all, exactly as read back.
    const std::string gbk = std::string(" ") + bp::kYes + "\xB2\xE2\xCA\xD4 " + bp::kNo + " ";
    ASSERT_TRUE(SetPageValue(router, 2, gbk));
    EXPECT_EQ(Edit(1054)->text(), FromGbk(gbk));
    std::string back;
    EXPECT_TRUE(GetPageValue(router, 2, back));
    EXPECT_EQ(back, gbk);
    // The empty value empties the edit and reads back as a value.
    ASSERT_TRUE(SetPageValue(router, 0, ""));
    EXPECT_EQ(Edit(1039)->text(), QString());
    back = "stale";
    EXPECT_TRUE(GetPageValue(router, 0, back));
    EXPECT_EQ(back, "");
    // A typed text of 120 bytes is handed over as its first 99.
    const std::string typed = std::string(99, '7') + std::string(21, '8');
    Edit(1041)->setText(QString::fromLatin1(typed.c_str()));
    EXPECT_TRUE(GetPageValue(router, 1, back));
    EXPECT_EQ(back, std::string(99, '7'));
    // Exactly 99 bytes stay whole.
    Edit(1041)->setText(QString(99, QLatin1Char('9')));
    EXPECT_TRUE(GetPageValue(router, 1, back));
    EXPECT_EQ(back, std::string(99, '9'));
    // A typed character GBK lacks makes no value (it would go out as '?').
    Edit(1041)->setText(QStringLiteral("ab\U0001F600"));
    EXPECT_FALSE(GetPageValue(router, 1, back));
    Edit(1041)->setText(QStringLiteral("测试"));
    EXPECT_TRUE(GetPageValue(router, 1, back));
    EXPECT_EQ(back, "\xB2\xE2\xCA\xD4");
}

TEST_F(BasicPage, DebugLevelFollowsTableA)
{
    std::string back = "stale";
    // Before any read-back the box is empty: no value, so a read-back of 0
    // still shows its label and a save passes the box over.
    EXPECT_EQ(Combo(1042)->currentText(), QString());
    EXPECT_FALSE(GetPageValue(router, 3, back));
    EXPECT_EQ(back, "");
    ASSERT_TRUE(SetPageValue(router, 3, "2"));
    EXPECT_EQ(Combo(1042)->currentText(), Q(bp::kDetailedLog));
    EXPECT_EQ(Combo(1042)->currentIndex(), -1); // the list selection is not touched
    ASSERT_TRUE(GetPageValue(router, 3, back));
    EXPECT_EQ(back, "2");
    ASSERT_TRUE(SetPageValue(router, 3, "12"));
    EXPECT_EQ(Combo(1042)->currentText(), Q(bp::kSimpleLog));
    // Any other value shows the default label and, while nobody touches
    // the box, comes back as it was given.
    for (const char* v : {"5", "", "0", "a"}) {
        ASSERT_TRUE(SetPageValue(router, 3, v));
        EXPECT_EQ(Combo(1042)->currentText(), Q(bp::kNoLog)) << v;
        ASSERT_TRUE(GetPageValue(router, 3, back));
        EXPECT_EQ(back, v) << v;
    }
    // A pasted line break ends an edit's value.
    Edit(1039)->setText(QStringLiteral("CMNET\r\nAT+FACTORY"));
    ASSERT_TRUE(GetPageValue(router, 0, back));
    EXPECT_EQ(back, "CMNET");
    // The user types 2: only the labels count, so the page reads 0.
    Combo(1042)->setEditText(QStringLiteral("2"));
    ASSERT_TRUE(GetPageValue(router, 3, back));
    EXPECT_EQ(back, "0");
    // The user picks a label from the list.
    Combo(1042)->setCurrentIndex(2);
    ASSERT_TRUE(GetPageValue(router, 3, back));
    EXPECT_EQ(back, "2");
    // Setting a value afterwards changes the text, not the selected item.
    ASSERT_TRUE(SetPageValue(router, 3, "1"));
    EXPECT_EQ(Combo(1042)->currentIndex(), 2);
    EXPECT_EQ(Combo(1042)->currentText(), Q(bp::kSimpleLog));
    ASSERT_TRUE(GetPageValue(router, 3, back));
    EXPECT_EQ(back, "1");
}

TEST_F(BasicPage, OnOffFunctionsFollowTableBAndUnknownTextIsNoValue)
{
    for (int id : {127, 128, 129}) {
        QComboBox* box = Combo(FindPageControl(id)->controlId);
        std::string back = "stale";
        // Before any read-back the box is empty: no value, and the text
        // handed in is not passed on.
        EXPECT_FALSE(GetPageValue(router, id, back)) << id;
        EXPECT_EQ(back, "") << id;
        EXPECT_TRUE(router.HasControl(id)) << id;

        ASSERT_TRUE(SetPageValue(router, id, "1"));
        EXPECT_EQ(box->currentText(), Q(bp::kYes));
        ASSERT_TRUE(GetPageValue(router, id, back));
        EXPECT_EQ(back, "1");
        ASSERT_TRUE(SetPageValue(router, id, "0"));
        EXPECT_EQ(box->currentText(), Q(bp::kNo));
        ASSERT_TRUE(GetPageValue(router, id, back));
        EXPECT_EQ(back, "0");

        // Value 2 empties the text and, untouched, comes back as given -
        // not as the previous parameter's text.
        ASSERT_TRUE(SetPageValue(router, id, "2"));
        EXPECT_EQ(box->currentText(), QString());
        std::string other;
        ASSERT_TRUE(GetPageValue(router, 0, other));
        back = "text of another parameter";
        EXPECT_TRUE(GetPageValue(router, id, back));
        EXPECT_EQ(back, "2");
        // A typed word is no value either.
        box->setEditText(QStringLiteral("yes"));
        back = "x";
        EXPECT_FALSE(GetPageValue(router, id, back));
        EXPECT_EQ(back, "");
        box->setEditText(QStringLiteral("1"));
        EXPECT_FALSE(GetPageValue(router, id, back));
        // The page's own getter says the same.
        back = "stale";
        EXPECT_FALSE(page->GetValue(id, back));
        EXPECT_EQ(back, "");
        EXPECT_TRUE(page->HasValueControl(id));
    }
}

TEST_F(BasicPage, ParametersWithoutAControlReportNoControlAndChangeNothing)
{
    for (int id : ParamsOfPage(133))
        ASSERT_TRUE(SetPageValue(router, id, id == 3 ? "2" : "1"));
    const auto before = Snapshot(*page);
    std::vector<int> none(ParamsWithoutControl().begin(), ParamsWithoutControl().end());
    // Parameters of pages not created here, commands and nonsense.
    for (int id : {12, 13, 30, 53, 69, 81, 97, 117, 130, 131, 138, 144, 145, 146, 152, 164, -1, 9999})
        none.push_back(id);
    for (int id : none) {
        EXPECT_FALSE(router.HasControl(id)) << id;
        EXPECT_FALSE(SetPageValue(router, id, "1")) << id;
        std::string back = "stale";
        EXPECT_FALSE(GetPageValue(router, id, back)) << id;
        EXPECT_EQ(back, "") << id;
    }
    EXPECT_EQ(Snapshot(*page), before);
}

TEST_F(BasicPage, RouterFollowsThePagesThatExist)
{
    // A plain template page is not a parameter page: its ids have no control.
    auto plain = std::make_unique<DialogPage>(134, nullptr);
    EXPECT_EQ(dynamic_cast<ParamPage*>(plain.get()), nullptr);
    EXPECT_FALSE(SetPageValue(router, 12, "1"));

    // The factory makes the basic page; the newest page of a template is
    // the one routed to, and an older one going away does not unhook it.
    auto made = std::unique_ptr<QWidget>(CreateSettingsPage(133, nullptr, router));
    auto* second = dynamic_cast<CPellCfgDevDlg*>(made.get());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(router.Page(133), second);
    ASSERT_TRUE(SetPageValue(router, 0, "second"));
    EXPECT_EQ(second->ControlAs<QLineEdit>(1039)->text(), QStringLiteral("second"));
    EXPECT_EQ(Edit(1039)->text(), QString());
    EXPECT_EQ(router.Request(RequestSlot::Clock), &second->m_strClockRequest);
    page.reset();
    EXPECT_EQ(router.Page(133), second);
    made.reset();
    EXPECT_EQ(router.Page(133), nullptr);
    EXPECT_FALSE(SetPageValue(router, 0, "gone"));
    EXPECT_EQ(router.Request(RequestSlot::Clock), nullptr);
}

TEST_F(BasicPage, WorkerReachesThePageThroughTheUiThread)
{
    // The configuration worker's way in: every call a blocking hand-over to
    // the UI thread, which keeps serving events meanwhile.
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::string readBack;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            bool ok = false;
            RunOnUiThread([&] { ok = SetPageValue(router, 6, std::to_string(i)); });
            std::string v;
            RunOnUiThread([&] { ok = ok && GetPageValue(router, 6, v); });
            if (!ok || v != std::to_string(i))
                failures.fetch_add(1);
        }
        RunOnUiThread([&] { GetPageValue(router, 1, readBack); });
        done = true;
    });
    ASSERT_TRUE(WaitProcessing([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Edit(1053)->text(), QStringLiteral("49"));
}

TEST_F(BasicPage, HiddenPageStillTakesValues)
{
    page->hide();
    ASSERT_TRUE(SetPageValue(router, 128, "1"));
    EXPECT_EQ(Combo(1044)->currentText(), Q(bp::kYes));
    page->show();
    EXPECT_EQ(Combo(1044)->currentText(), Q(bp::kYes));
}

TEST_F(BasicPage, ClockSectionStartsOnThePcClock)
{
    QComboBox* source = page->ClockSource();
    ASSERT_EQ(source->count(), 2);
    EXPECT_EQ(source->itemText(0), Q(bp::kSystemTime));
    EXPECT_EQ(source->itemText(1), Q(bp::kManualSetting));
    EXPECT_EQ(source->currentIndex(), 0);
    QComboBox* weekday = page->Weekday();
    ASSERT_EQ(weekday->count(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(weekday->itemText(i), Q(bp::kWeekdays[static_cast<std::size_t>(i)]));
    EXPECT_EQ(weekday->currentIndex(), 0);
    EXPECT_TRUE(page->DatePicker()->isHidden());
    EXPECT_TRUE(page->TimePicker()->isHidden());
    EXPECT_TRUE(weekday->isHidden());
    EXPECT_FALSE(page->ClockDisplay()->isHidden());
    EXPECT_EQ(page->DatePicker()->displayFormat(), QStringLiteral("yyyy/MM/dd"));
    EXPECT_EQ(page->TimePicker()->displayFormat(), QStringLiteral("HH:mm:ss"));
    EXPECT_FALSE(page->ClockTimerActive()) << "a hidden page's clock display is not refreshed";
    EXPECT_EQ(page->ClockDisplay()->text(), QStringLiteral("2026/12/08 13:05:09"));
    EXPECT_TRUE(page->m_strClockRequest.Empty());
    // A second initialisation changes nothing.
    source->setCurrentIndex(1);
    router.InitPages();
    page->InitClockControls();
    EXPECT_EQ(source->count(), 2);
    EXPECT_EQ(source->currentIndex(), 1);
}

TEST_F(BasicPage, ClockDisplayFollowsTheTimer)
{
    now.second = 10;
    page->OnTimer(121); // not the clock timer
    EXPECT_EQ(page->ClockDisplay()->text(), QStringLiteral("2026/12/08 13:05:09"));
    page->OnTimer(CPellCfgDevDlg::kClockTimerId);
    EXPECT_EQ(page->ClockDisplay()->text(), QStringLiteral("2026/12/08 13:05:10"));
    // Timer 120 runs only while the page is visible: showing the page
    // refreshes the display at once, then the timer picks up the next
    // second by itself; hiding it stops the timer.
    EXPECT_FALSE(page->ClockTimerActive());
    now.second = 11;
    page->show();
    EXPECT_TRUE(page->ClockTimerActive());
    EXPECT_EQ(page->ClockDisplay()->text(), QStringLiteral("2026/12/08 13:05:11"));
    now.second = 12;
    EXPECT_TRUE(WaitProcessing(
        [&] { return page->ClockDisplay()->text() == QStringLiteral("2026/12/08 13:05:12"); }));
    page->hide();
    EXPECT_FALSE(page->ClockTimerActive());
}

TEST_F(BasicPage, ClockSourceSwitchShowsOneOfThePlaces)
{
    page->DatePicker()->setDate(QDate(2000, 2, 29));
    page->TimePicker()->setTime(QTime(12, 0, 0));
    page->ClockSource()->setCurrentIndex(1);
    emit page->ClockSource()->activated(1);
    EXPECT_TRUE(page->ClockDisplay()->isHidden());
    EXPECT_FALSE(page->DatePicker()->isHidden());
    EXPECT_FALSE(page->TimePicker()->isHidden());
    EXPECT_FALSE(page->Weekday()->isHidden());
    EXPECT_EQ(page->Weekday()->currentIndex(), 2); // Tuesday
    EXPECT_TRUE(page->m_strClockRequest.Empty());   // switching asks for nothing

    page->ClockSource()->setCurrentIndex(0);
    emit page->ClockSource()->activated(0);
    EXPECT_FALSE(page->ClockDisplay()->isHidden());
    EXPECT_TRUE(page->DatePicker()->isHidden());
    EXPECT_TRUE(page->TimePicker()->isHidden());
    EXPECT_TRUE(page->Weekday()->isHidden());
}

TEST_F(BasicPage, SetButtonComposesTheClockRequest)
{
    // System time: the PC clock at the click.
    page->SetClockButton()->click();
    EXPECT_EQ(page->m_strClockRequest.Get(), "2026/12/08,13:05:09,2");
    EXPECT_EQ(router.Request(RequestSlot::Clock), &page->m_strClockRequest);
    EXPECT_EQ(router.Request(RequestSlot::Counter0), nullptr);

    // Manual: the weekday the user picked is overwritten by the computed one.
    page->DatePicker()->setDate(QDate(2026, 1, 4));
    page->TimePicker()->setTime(QTime(0, 0, 0));
    page->ClockSource()->setCurrentIndex(1);
    emit page->ClockSource()->activated(1);
    page->Weekday()->setCurrentIndex(3);
    page->SetClockButton()->click();
    EXPECT_EQ(page->Weekday()->currentIndex(), 0);
    EXPECT_EQ(page->m_strClockRequest.Get(), "\"2026/01/04,00:00:00\",0");

    // A second click before the worker took the first replaces it.
    page->DatePicker()->setDate(QDate(2100, 3, 1));
    page->TimePicker()->setTime(QTime(23, 59, 59));
    page->SetClockButton()->click();
    EXPECT_EQ(page->m_strClockRequest.Get(), "\"2100/03/01,23:59:59\",1");
    EXPECT_TRUE(g_messages.isEmpty());

    // The job disables the clock controls while it runs; the button stays.
    page->EnableClockControls(false);
    for (QWidget* w : std::initializer_list<QWidget*>{page->ClockSource(), page->ClockDisplay(),
                                                      page->DatePicker(), page->TimePicker(),
                                                      page->Weekday()})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(page->SetClockButton()->isEnabled());
    page->EnableClockControls(true);
    EXPECT_TRUE(page->ClockSource()->isEnabled());
}

TEST_F(BasicPage, ManualTimeTheClockCannotHoldMakesNoRequest)
{
    // East of Greenwich the first hours of 1 January 1970 are before the
    // clock's first second.
    std::optional<std::string> savedTz;
    if (const char* tz = std::getenv("TZ"))
        savedTz = tz;
    qputenv("TZ", "CST-8");
    tzset();
    page->ClockSource()->setCurrentIndex(1);
    emit page->ClockSource()->activated(1);
    page->Weekday()->setCurrentIndex(5);
    page->DatePicker()->setDate(QDate(1970, 1, 1));
    page->TimePicker()->setTime(QTime(7, 59, 59));
    page->SetClockButton()->click();
    EXPECT_TRUE(page->m_strClockRequest.Empty());
    EXPECT_EQ(page->Weekday()->currentIndex(), 5);
    ASSERT_EQ(g_messages.size(), 1);
    EXPECT_EQ(g_messages[0], Q(bp::kInvalidManualTime));
    // Switching the source there leaves the weekday as it was too.
    emit page->ClockSource()->activated(1);
    EXPECT_EQ(page->Weekday()->currentIndex(), 5);
    // An hour later it is fine.
    page->TimePicker()->setTime(QTime(8, 0, 0));
    page->SetClockButton()->click();
    EXPECT_EQ(page->m_strClockRequest.Get(), "\"1970/01/01,08:00:00\",4");
    EXPECT_EQ(page->Weekday()->currentIndex(), 4);
    // The pickers offer nothing outside the clock's years.
    page->DatePicker()->setDate(QDate(1969, 12, 31));
    EXPECT_EQ(page->DatePicker()->date(), QDate(1970, 1, 1));
    page->DatePicker()->setDate(QDate(3001, 1, 1));
    EXPECT_NE(page->DatePicker()->date().year(), 3001);

    if (savedTz)
        qputenv("TZ", savedTz->c_str());
    else
        qunsetenv("TZ");
    tzset();
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Every page of parameters, made as a plain parameter page of its template
// without its class, shows and gives back each parameter its descriptors
// place there: a new page of parameters needs no class of its own.
TEST(PlainParameterPage, ServesEveryParameterOfItsTemplate)
{
    for (int t : ParamPageTemplates()) {
        PageRouter router;
        ParamPage page(t, router);
        router.InitPages();
        for (int id : ParamsOfPage(t)) {
            const ParamDescriptor* d = FindParamDescriptor(id);
            ASSERT_NE(d, nullptr) << id;
            EXPECT_TRUE(router.HasControl(id)) << t << " " << id;
            if (d->rule != ValueRule::Text)
                continue;
            std::string back;
            ASSERT_TRUE(router.SetPageValue(id, "12")) << id;
            EXPECT_TRUE(router.GetPageValue(id, back)) << id;
            EXPECT_EQ(back, "12") << id;
        }
    }
}

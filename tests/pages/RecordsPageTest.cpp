// The history records page offscreen: template and list, the pickers'
// fixed date form, the query and save buttons refusing while a query runs,
// rows once per batch with the count, and saving (before any query, after
// one, to a path that cannot be written). The worker is played by the test:
// it parses batches into the page's records and empties the request.
#include "pages/CPellCfgRcdDlg.h"
#include "tests/pages/PageTestSupport.h"
#include "tests/support/QtWait.h"

#include <QDateEdit>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

std::vector<std::pair<QString, QString>> g_boxes;

void recordBox(const QString& text, const QString& caption)
{
    g_boxes.emplace_back(text, caption);
}

class RecordsPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_boxes.clear();
        SetMessageHook(recordBox);
        page = std::make_unique<CPellCfgRcdDlg>(router);
        ASSERT_TRUE(temp.isValid());
        dir = std::filesystem::path(temp.path().toStdU16String());
    }
    void TearDown() override
    {
        page.reset();
        SetMessageHook(nullptr);
    }

    // What job 13 does with a reply, and its end.
    void batch(const std::string& reply)
    {
        RecordBatch b = page->Records().ParseRecords(reply);
        page->Records().TellRows(std::move(b.rows), page->Records().RecordCount());
    }
    void endJob() { page->Records().request.Clear(); }
    bool buttonsEnabled() const { return page->QueryButton()->isEnabled() && page->SaveButton()->isEnabled(); }

    PageRouter router; // outlives the pages made for it
    std::unique_ptr<CPellCfgRcdDlg> page;
    QTemporaryDir temp;
    std::filesystem::path dir;
};

TEST_F(RecordsPage, TemplateListAndPickers)
{
    EXPECT_EQ(page->TemplateId(), 149);
    EXPECT_EQ(router.Request(RequestSlot::Records), &page->Records().request);
    EXPECT_EQ(router.Records().get(), &page->Records());
    EXPECT_EQ(page->QueryButton()->text(), QStringLiteral("开始查询"));
    EXPECT_EQ(page->SaveButton()->text(), QStringLiteral("保存文件"));
    ExpectLabels(*page, {{CPellCfgRcdDlg::kStartId, "开始时间："}, {CPellCfgRcdDlg::kEndId, "结束时间："}});

    const char* headings[] = {"序号", "卡ID", "当前用水量", "当前用电量", "取水时长",
                              "取水单价", "剩余水量", "剩余金额", "起始日期"};
    const int widths[] = {40, 110, 75, 75, 60, 60, 60, 60, 120};
    QTreeWidget* list = page->List();
    ASSERT_EQ(list->columnCount(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(list->headerItem()->text(i), QString::fromUtf8(headings[i])) << i;
        EXPECT_EQ(list->columnWidth(i), widths[i]) << i;
    }
    EXPECT_EQ(list->topLevelItemCount(), 0);

    // The form the controller reads, whatever the PC's locale.
    const QLocale before;
    for (const char* locale : {"de_DE", "en_US", "zh_CN"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        CPellCfgRcdDlg other(router);
        other.StartDate()->setDate(QDate(2026, 1, 4));
        other.EndDate()->setDate(QDate(2026, 12, 31));
        EXPECT_EQ(other.StartDate()->text(), QStringLiteral("2026/1/4")) << locale;
        EXPECT_EQ(other.EndDate()->text(), QStringLiteral("2026/12/31")) << locale;
    }
    QLocale::setDefault(before);
}

TEST_F(RecordsPage, QueryRefusesUntilTheRequestIsEmptiedAndShowsRowsPerBatch)
{
    page->StartDate()->setDate(QDate(2026, 1, 4));
    page->EndDate()->setDate(QDate(2026, 1, 5));
    page->QueryButton()->click();
    EXPECT_EQ(page->Records().request.Get(), ";2026/1/4,0:0:0;2026/1/5,23:55:55");
    EXPECT_FALSE(page->QueryButton()->isEnabled());
    EXPECT_FALSE(page->SaveButton()->isEnabled());

    // A click that still reaches the page (the handler, or a save) is refused
    // and changes nothing.
    batch("Record:1;A;1;2;3;4;5;6;2026-01-04 08:00:00\r\nRecord:2;B\r\n\r\nleave\r\n");
    page->OnBnClickedQuery();
    page->SaveTo(QString::fromStdString((dir / "during.csv").string()));
    ASSERT_EQ(g_boxes.size(), 2u);
    for (const auto& box : g_boxes) {
        EXPECT_EQ(box.first, FromGbk(recordtext::kQueryRunning));
        EXPECT_EQ(box.second, QStringLiteral("提示"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "during.csv"));
    EXPECT_EQ(page->Records().RecordCount(), 2u);

    ASSERT_TRUE(WaitProcessing([&] { return page->List()->topLevelItemCount() == 2; }));
    EXPECT_EQ(page->List()->topLevelItem(0)->text(8), QStringLiteral("2026-01-04 08:00:00"));
    EXPECT_EQ(page->List()->topLevelItem(1)->text(1), QStringLiteral("B"));
    EXPECT_EQ(page->List()->topLevelItem(1)->text(2), QString());
    EXPECT_EQ(page->CountLabel()->text(), QStringLiteral("已收到 2 条"));
    batch("Record:3;C\r\n\r\nOK\r\n");
    ASSERT_TRUE(WaitProcessing([&] { return page->List()->topLevelItemCount() == 3; }));
    EXPECT_EQ(page->CountLabel()->text(), QStringLiteral("已收到 3 条"));
    EXPECT_FALSE(buttonsEnabled());

    endJob();
    ASSERT_TRUE(WaitProcessing([&] { return buttonsEnabled(); }));
    // The next query starts with an empty list.
    page->QueryButton()->click();
    EXPECT_EQ(page->List()->topLevelItemCount(), 0);
    EXPECT_EQ(page->CountLabel()->text(), QStringLiteral("已收到 0 条"));
    EXPECT_EQ(page->Records().RecordText(), recordtext::kHeader);
    endJob();
    ASSERT_TRUE(WaitProcessing([&] { return buttonsEnabled(); }));
}

TEST_F(RecordsPage, SavingBeforeAnyQueryAfterOneAndToAPathThatCannotBeWritten)
{
    // Before any query: the save starts one that writes at its end, and
    // says nothing yet.
    const std::filesystem::path first = dir / "first.csv";
    ASSERT_FALSE(page->Records().HasRecordText());
    page->SaveTo(QString::fromStdString(first.string()));
    EXPECT_TRUE(page->Records().QueryRunning());
    EXPECT_EQ(page->Records().ExportPath(), first.string());
    EXPECT_FALSE(buttonsEnabled());
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_FALSE(std::filesystem::exists(first));
    batch("Record:1;a,b;\"q\"\r\n\r\nOK\r\n");
    std::string message;
    ASSERT_TRUE(page->Records().WriteExport(message)); // the job's automatic export
    endJob();
    ASSERT_TRUE(WaitProcessing([&] { return buttonsEnabled(); }));

    // After it: the file is written at once and the box says so; a name
    // with Chinese characters and a blank is a name like any other.
    const std::filesystem::path second = dir / std::u8string(u8"第二 记录.csv");
    page->SaveTo(QString::fromStdU16String(second.u16string()));
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].first, QStringLiteral("保存成功"));
    std::ifstream in(second, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(bytes, RecordCsv(recordtext::kHeader) + "1,a b,\"\"\"q\"\"\"\r\n");
    std::ifstream inFirst(first, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(inFirst), {}), bytes);

    // A folder that is not there: the box names the path and the reason,
    // never "保存成功", and nothing is left behind.
    const QString bad = QString::fromStdString((dir / "gone" / "x.csv").string());
    page->SaveTo(bad);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_TRUE(g_boxes[1].first.startsWith(QStringLiteral("保存文件失败：") + bad)) << g_boxes[1].first.toStdString();
#ifdef _WIN32
    const QString reason = QStringLiteral("not found"); // the system's words ("Path not found.")
#else
    const QString reason = QStringLiteral("No such file");
#endif
    EXPECT_TRUE(g_boxes[1].first.contains(reason, Qt::CaseInsensitive)) << g_boxes[1].first.toStdString();
    // A folder with a Chinese name: the box shows the name as it is.
    const std::filesystem::path missing = dir / std::u8string(u8"不在 这里") / "x.csv";
    page->SaveTo(QString::fromStdU16String(missing.u16string()));
    ASSERT_EQ(g_boxes.size(), 3u);
    EXPECT_TRUE(g_boxes[2].first.contains(QStringLiteral("不在 这里"))) << g_boxes[2].first.toStdString();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
}

} // namespace

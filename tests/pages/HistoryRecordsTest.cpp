// The history records without a window: the query text, the reader of the
// controller's batches, the CSV file and its atomic write, and the hand-over
// of a running query.
#include "pages/HistoryRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using namespace pell;

namespace {

std::string readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "records-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::size_t entries() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_), {}));
    }

private:
    std::filesystem::path path_;
};

TEST(HistoryRecords, HeaderAndQueryTextAreTheControllersBytes)
{
    EXPECT_EQ(std::string(recordtext::kHeader).size(), 78u);
    EXPECT_EQ(std::string(recordtext::kHeader).substr(0, 6), "\xD0\xF2\xBA\xC5;\xBF");
    EXPECT_EQ(RecordQueryText("2026/1/4", "2026/12/31"), ";2026/1/4,0:0:0;2026/12/31,23:55:55");
}

TEST(HistoryRecords, ReplyIsCompleteOnlyAtItsBatchOrClosingEndMarker)
{
    struct Case {
        std::string reply;
        bool first;
        bool complete;
    };
    const Case cases[] = {
        {"", true, false},
        {"\r\nOK\r\n", true, false},   // the leading OK opens the first reply
        {"\r\nOK\r\n", false, true},   // a continuation's end marker
        {"\r\nOK\r\n\r\nOK\r\n", true, true},
        {"\r\nOK\r\nRecord:1;a\r\n", true, false},
        {"\r\nOK\r\nRecord:1;a\r\n\r\nleave\r\n", true, true},
        {"Record:1;a\r\n\r\nleave\r\n", false, true},
        {"Record:1;a\r\n\r\nleave\r", false, false},
        {"Record:1;a\r\n", false, false},
        {"\r\nOK\r\n\r\nERROR\r\n", true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RecordReplyComplete(c.reply, c.first), c.complete) << c.reply << " first " << c.first;
}

TEST(HistoryRecords, ParseRecordsReadsLinesUpToAMarker)
{
    struct Case {
        const char* name;
        std::string text;
        int result;
        std::vector<RecordRow> rows;
        std::string lines; // added to the record text
    };
    const std::vector<Case> cases = {
        {"end marker at once", "\r\nOK\r\n", 1, {}, ""},
        {"empty text", "", -1, {}, ""},
        {"two records then the end",
         "Record:1;A1;2.5;3;10;1.2;50;60;2026-01-04 08:00:00\r\nRecord:2;B2;1;1;1;1;1;1;d\r\n\r\nOK\r\n", 1,
         {{"1", "A1", "2.5", "3", "10", "1.2", "50", "60", "2026-01-04 08:00:00"},
          {"2", "B2", "1", "1", "1", "1", "1", "1", "d"}},
         "1;A1;2.5;3;10;1.2;50;60;2026-01-04 08:00:00\r\n2;B2;1;1;1;1;1;1;d\r\n"},
        {"batch marker", "Record:1;a\r\n\r\nleave\r\n", 0, {{"1", "a"}}, "1;a\r\n"},
        {"no ';' fills column 0", "Record:lonely\r\n\r\nOK\r\n", 1, {{"lonely"}}, "lonely\r\n"},
        {"fields beyond the ninth are not shown", "Record:1;2;3;4;5;6;7;8;9;10;11\r\n\r\nOK\r\n", 1,
         {{"1", "2", "3", "4", "5", "6", "7", "8", "9"}}, "1;2;3;4;5;6;7;8;9;10;11\r\n"},
        {"cut record counts as the batch marker", "Record:1;a\r\nRecord:2;b", 0, {{"1", "a"}}, "1;a\r\n"},
        {"text between records", "Record:1;a\r\nnoise\r\nRecord:2;b\r\n\r\nOK\r\n", -1, {{"1", "a"}}, "1;a\r\n"},
        {"prefix only", "Record", -1, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HistoryRecords records;
        ASSERT_TRUE(records.StartQuery("a", "b"));
        const RecordBatch batch = records.ParseRecords(c.text);
        EXPECT_EQ(batch.result, c.result);
        EXPECT_EQ(batch.rows, c.rows);
        EXPECT_EQ(records.RecordText(), recordtext::kHeader + c.lines);
        EXPECT_EQ(records.RecordCount(), c.rows.size());
    }
}

TEST(HistoryRecords, CsvTurnsSeparatorsAndQuotesFieldsThatNeedIt)
{
    struct Case {
        std::string recordText;
        std::string csv;
    };
    const Case cases[] = {
        {"1;a,b;;c\r\n", "1,a b,,c\r\n"},
        {"1;say \"hi\";x\r\n", "1,\"say \"\"hi\"\"\",x\r\n"},
        {"1;\"a,b\"\r\n", "1,\"\"\"a b\"\"\"\r\n"},
        {"1;a\rb;c\r\n", "1,\"a\rb\",c\r\n"},
        {"\xB2\xE2;\xCA\xD4\r\n", "\xB2\xE2,\xCA\xD4\r\n"}, // GBK passes untouched
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RecordCsv(c.recordText), c.csv) << c.recordText;
    // The header: every ';' a ','.
    const std::string header = RecordCsv(recordtext::kHeader);
    EXPECT_EQ(header.size(), 78u);
    EXPECT_EQ(header.find(';'), std::string::npos);
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), 8);
}

TEST(HistoryRecords, FileIsReplacedWholeOrLeftAsItWas)
{
    TempDir dir;
    const std::filesystem::path file = dir.path() / "pell.csv";
    std::string reason = "stale";
    ASSERT_TRUE(WriteRecordCsvFile(file.string(), "first\r\n", reason));
    EXPECT_TRUE(reason.empty());
    ASSERT_TRUE(WriteRecordCsvFile(file.string(), "second\r\n", reason));
    EXPECT_EQ(readFile(file), "second\r\n") << "an existing file is replaced, not appended to";
    EXPECT_EQ(dir.entries(), 1u) << "no temporary file stays";

    // A folder that does not exist, and a read-only one (unless run as root).
    EXPECT_FALSE(WriteRecordCsvFile((dir.path() / "none" / "x.csv").string(), "x", reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(WriteRecordCsvFile("", "x", reason));
    if (::geteuid() != 0) {
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        reason.clear();
        EXPECT_FALSE(WriteRecordCsvFile(file.string(), "third\r\n", reason));
        EXPECT_NE(reason.find("ermission"), std::string::npos) << reason;
        EXPECT_EQ(readFile(file), "second\r\n") << "a failed write leaves the old file";
        EXPECT_EQ(dir.entries(), 1u);
    }
}

TEST(HistoryRecords, QueryHoldsUntilTheRequestIsEmptiedAndExportPathComesFirst)
{
    HistoryRecords records;
    EXPECT_FALSE(records.HasRecordText());
    int ended = 0;
    records.SetListeners(nullptr, [&] { ++ended; });
    ASSERT_TRUE(records.StartQuery("2026/1/4", "2026/1/5", "/x/out.csv"));
    EXPECT_EQ(records.ExportPath(), "/x/out.csv");
    EXPECT_TRUE(records.QueryRunning());
    EXPECT_EQ(records.request.Get(), ";2026/1/4,0:0:0;2026/1/5,23:55:55");
    EXPECT_TRUE(records.HasRecordText());

    // A second query while this one runs changes nothing.
    records.ParseRecords("Record:1;a\r\n");
    EXPECT_FALSE(records.StartQuery("1", "2"));
    EXPECT_EQ(records.RecordCount(), 1u);
    EXPECT_EQ(records.ExportPath(), "/x/out.csv");

    records.request.Clear(); // the worker, at the job's end
    EXPECT_EQ(ended, 1);
    records.request.Clear();
    EXPECT_EQ(ended, 1) << "told once per request";
    EXPECT_FALSE(records.QueryRunning());
    ASSERT_TRUE(records.StartQuery("1", "2"));
    EXPECT_EQ(records.RecordCount(), 0u);
    EXPECT_EQ(records.ExportPath(), "");
    EXPECT_EQ(records.RecordText(), recordtext::kHeader);
    records.SetListeners(nullptr, nullptr);
}

} // namespace

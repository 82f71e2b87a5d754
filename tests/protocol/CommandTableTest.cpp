// The tables against a transcription of the controller's command list kept
// in command_table.tsv (one line per AT row, written from the command list,
// not from this code), plus the rules the rest of the tool relies on.
#include "protocol/CommandEngine.h"
#include "protocol/CommandTable.h"
#include "protocol/ParamTable.h"
#include "serial/CSerial.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pell {
namespace {

struct ListedRow {
    int atRow;
    int paramRow; // -1 for none
    int id;
    std::string command; // "<end>" for the end row
    int timeoutMs;
    std::string label; // "-" for none, "<end>" for the end row
};

std::vector<ListedRow> LoadListedRows()
{
    std::ifstream in(PELL_COMMAND_TABLE_TSV);
    std::vector<ListedRow> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t'))
            f.push_back(cell);
        if (f.size() != 6)
            ADD_FAILURE() << "bad line: " << line;
        else
            rows.push_back({std::stoi(f[0]), f[1] == "-" ? -1 : std::stoi(f[1]), std::stoi(f[2]),
                            f[3], std::stoi(f[4]), f[5]});
    }
    return rows;
}

TEST(CommandTable, ValuesAreEmptyAtStart)
{
    // A new table: nothing has stored a value in it yet.
    const ParamTable values;
    for (int row = 0; row < ParamRowCount(); ++row) {
        std::string v = "x";
        EXPECT_TRUE(values.Get(ParamRowId(row), v));
        EXPECT_EQ(v, "");
    }
    std::string v = "x";
    EXPECT_TRUE(values.Get(0, v));
    EXPECT_EQ(v, "");
}

TEST(CommandTable, AtRowsMatchTheListRowByRow)
{
    auto listed = LoadListedRows();
    ASSERT_EQ(listed.size(), 164u);
    auto rows = AtCommandRows();
    ASSERT_EQ(rows.size(), 164u);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const ListedRow& l = listed[i];
        const AtCommandRow& r = rows[i];
        SCOPED_TRACE("AT row " + std::to_string(i));
        ASSERT_EQ(l.atRow, static_cast<int>(i));
        EXPECT_EQ(r.id, l.id);
        EXPECT_EQ(r.timeoutMs, l.timeoutMs);
        if (l.command == "<end>") {
            EXPECT_EQ(r.command, nullptr);
            EXPECT_EQ(r.okReply, nullptr);
            EXPECT_EQ(r.errorReply, nullptr);
            EXPECT_FALSE(r.parsed);
            EXPECT_EQ(i, listed.size() - 1);
        } else {
            ASSERT_NE(r.command, nullptr);
            EXPECT_STREQ(r.command, l.command.c_str());
            EXPECT_STREQ(r.okReply, "\r\nOK\r\n");
            EXPECT_STREQ(r.errorReply, "\r\nERROR\r\n");
            EXPECT_EQ(r.parsed, l.command == "AT+SHOW");
        }
        EXPECT_EQ(FindAtRow(l.id), &r);
    }
}

TEST(CommandTable, ParameterRowsMatchTheListRowByRow)
{
    auto listed = LoadListedRows();
    ASSERT_EQ(ParamRowCount(), 156);
    int seen = 0;
    for (const ListedRow& l : listed) {
        SCOPED_TRACE("id " + std::to_string(l.id));
        if (l.paramRow < 0) {
            EXPECT_FALSE(HasParamRow(l.id));
            EXPECT_EQ(ParamLabel(l.id), nullptr);
            continue;
        }
        // Parameter row n is the n-th AT row that has a value.
        EXPECT_EQ(l.paramRow, seen);
        EXPECT_EQ(ParamRowId(seen), l.id);
        EXPECT_EQ(FindParamRow(l.id), seen);
        std::string label = l.label == "<end>" ? "" : l.label;
        EXPECT_STREQ(ParamRowLabel(seen), label.c_str());
        EXPECT_STREQ(ParamLabel(l.id), label.c_str());
        EXPECT_LE(std::string(ParamRowLabel(seen)).size(), 99u);
        ++seen;
    }
    EXPECT_EQ(seen, 156);
    EXPECT_EQ(ParamRowId(155), 164);
    EXPECT_EQ(ParamRowId(-1), -1);
    EXPECT_EQ(ParamRowId(156), -1);
    EXPECT_STREQ(ParamRowLabel(156), "");
}

TEST(CommandTable, WellKnownRowsAsTheControllerSpellsThem)
{
    EXPECT_EQ(ParamRowId(12), 13);
    EXPECT_STREQ(ParamRowLabel(12), "Server1's connect mode:");
    EXPECT_EQ(ParamRowId(13), 12);
    EXPECT_STREQ(ParamRowLabel(13), "Server1's Ip:");
    EXPECT_STREQ(ParamLabel(21), "Modem user pasword:");
    EXPECT_STREQ(ParamLabel(69), "Relay1 default vaule:");
    EXPECT_STREQ(ParamLabel(138), "Mobus workmode:");
    EXPECT_STREQ(ParamLabel(26), "Deliver Recved Tcp Data Directly");
    EXPECT_STREQ(ParamLabel(152), "System Time:");
    EXPECT_STREQ(ParamLabel(161), "Record:");
    EXPECT_STREQ(ParamLabel(0), "Modem's ID number:");
    EXPECT_STREQ(FindAtRow(kIdShow)->command, "AT+SHOW");
    EXPECT_STREQ(FindAtRow(kIdAt)->command, "AT");
    EXPECT_STREQ(FindAtRow(0)->command, "AT+IDNT=");
    EXPECT_STREQ(FindAtRow(153)->command, "AT+CNTRVAL01");
    EXPECT_STREQ(FindAtRow(160)->command, "AT+COMVAL04");
    EXPECT_EQ(AtCommandRows().front().id, 151);
    EXPECT_EQ(AtCommandRows().back().id, kEndRowId);
}

TEST(CommandTable, InvariantsOfBothTables)
{
    std::set<int> atIds;
    std::set<int> withoutValue;
    for (const AtCommandRow& r : AtCommandRows()) {
        EXPECT_TRUE(atIds.insert(r.id).second) << "duplicate id " << r.id;
        if (!HasParamRow(r.id))
            withoutValue.insert(r.id);
    }
    EXPECT_EQ(withoutValue, (std::set<int>{146, 147, 148, 149, 150, 151, 162, 163}));
    EXPECT_EQ(atIds.count(145), 0u);
    for (int id = 0; id <= 164; ++id)
        EXPECT_EQ(atIds.count(id), id == 145 ? 0u : 1u) << id;

    std::set<int> paramIds;
    for (int row = 0; row < ParamRowCount(); ++row) {
        int id = ParamRowId(row);
        EXPECT_TRUE(paramIds.insert(id).second);
        EXPECT_NE(FindAtRow(id), nullptr);
    }

    // The rows that wait five seconds; all others wait one.
    const std::set<std::string> slow = {"AT",     "AT+NETMODE01=", "AT+SHOW",
                                        "AT+VER", "AT+CSQ",        "AT+FACTORY",
                                        "AT+RESET", "AT+RDNFCRCRD=", "AT+INITDATAFLASH",
                                        "AT+INITSENSOR"};
    for (const AtCommandRow& r : AtCommandRows()) {
        if (r.command == nullptr)
            continue;
        std::string c = r.command;
        EXPECT_EQ(r.timeoutMs, slow.count(c) ? 5000 : 1000) << c;
        EXPECT_LE(c.size(), 16u);
        bool valueInCommand = r.id >= 153 && r.id <= 160;
        bool plainValue = HasParamRow(r.id) && !valueInCommand;
        EXPECT_EQ(c.back() == '=', plainValue) << c;
    }

    // Labels: only id 26 lacks the colon; none begins another, which lets the
    // report and file readers match a line by its beginning.
    for (int a = 0; a + 1 < ParamRowCount(); ++a) {
        std::string la = ParamRowLabel(a);
        ASSERT_FALSE(la.empty());
        EXPECT_EQ(la.back() == ':', ParamRowId(a) != 26) << la;
        for (int b = 0; b + 1 < ParamRowCount(); ++b) {
            std::string lb = ParamRowLabel(b);
            if (a != b) {
                EXPECT_NE(lb.compare(0, la.size(), la), 0) << la << " begins " << lb;
            }
        }
    }
}

TEST(CommandTable, LookupOfUnknownIds)
{
    const ParamTable values;
    for (int id : {-1, 145, 165, 1000, INT32_MIN}) {
        EXPECT_EQ(FindAtRow(id), nullptr) << id;
        EXPECT_EQ(FindParamRow(id), -1) << id;
        std::string v = "old";
        EXPECT_FALSE(values.Get(id, v));
        EXPECT_EQ(v, "");
        EXPECT_FALSE(values.Get(id).has_value());
    }
    const AtCommandRow* end = FindAtRow(kEndRowId);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->timeoutMs, 0);
    EXPECT_EQ(FindParamRow(kEndRowId), 155);
}

TEST(CommandTable, CommandsWithoutValueHaveNoValue)
{
    ParamTable values;
    for (int id : {146, 147, 148, 149, 150, 151, 162, 163}) {
        EXPECT_FALSE(values.Get(id).has_value()) << id;
        values.Set(id, "1");
        EXPECT_FALSE(values.Get(id).has_value()) << id;
    }
}

TEST(CommandTable, StoredValuesAreCutTo99Bytes)
{
    ParamTable values;
    std::string longText;
    for (int i = 0; i < 150; ++i)
        longText.push_back(static_cast<char>('0' + i % 10));
    values.Set(0, longText);
    EXPECT_EQ(values.Get(0), longText.substr(0, 99));

    values.Set(1, longText.substr(0, 99));
    EXPECT_EQ(values.Get(1), longText.substr(0, 99));
    values.Set(1, longText.substr(0, 100));
    EXPECT_EQ(values.Get(1), longText.substr(0, 99));
    values.Set(1, "");
    EXPECT_EQ(values.Get(1), "");

    // GBK bytes are kept as they are.
    const std::string gbk = "\xC9\xE8\xB1\xB8-\xB2\xCE\xCA\xFD";
    values.Set(2, gbk);
    EXPECT_EQ(values.Get(2), gbk);

    // A value is a zero-terminated text.
    values.Set(3, std::string("12\0" "34", 5));
    EXPECT_EQ(values.Get(3), "12");

    // The record query keeps its continuation text as it is.
    values.Set(kIdRecords, "\r\nOK\r\n");
    EXPECT_EQ(values.Get(kIdRecords), "\r\nOK\r\n");
}

// A long text keeps its first 99 bytes without a lone lead byte at their
// end, and nothing from a zero byte on.
TEST(ParamTable, StoredValuesEndOnAWholeCharacterAndAtAZeroByte)
{
    std::string chinese;
    for (int i = 0; i < 60; ++i)
        chinese += "\xD6\xD0"; // 120 bytes
    const std::string digits(150, '7');
    const struct {
        const char* name;
        std::string text;
        std::string kept;
    } cases[] = {
        {"the 99th byte a lead byte", chinese, chinese.substr(0, 98)},
        {"after one ASCII byte", "a" + chinese, ("a" + chinese).substr(0, 99)},
        {"a zero byte inside the first 99", digits.substr(0, 40) + '\0' + digits, digits.substr(0, 40)},
        {"a zero byte behind the first 99", digits.substr(0, 120) + '\0', digits.substr(0, 99)},
        {"a zero byte first", std::string(1, '\0') + "12", ""},
    };
    ParamTable values;
    for (const auto& c : cases) {
        values.Set(19, c.text);
        EXPECT_EQ(values.Get(19), c.kept) << c.name;
    }
}

TEST(CommandTable, IdsWithoutARowAndTheEndRowKeepNothing)
{
    ParamTable values;
    std::vector<std::string> before;
    for (int row = 0; row < ParamRowCount(); ++row)
        before.push_back(*values.Get(ParamRowId(row)));
    values.Set(145, "7");
    values.Set(kEndRowId, "7");
    values.Set(-5, "7");
    for (int row = 0; row < ParamRowCount(); ++row)
        EXPECT_EQ(*values.Get(ParamRowId(row)), before[row]);
    EXPECT_EQ(values.Get(kEndRowId), "");
}

int FakeParser(const char*, int length, ParamTable& values)
{
    values.Set(0, "parsed");
    return length == 3 ? 42 : 0;
}

TEST(CommandTable, ShowRowsReplyGoesToTheEnginesReportHandler)
{
    ASSERT_TRUE(FindAtRow(kIdShow)->parsed);
    CSerial port;
    CommandEngine engine(port, systemClock());
    CommandEngine other(port, systemClock());
    ASSERT_EQ(engine.ReportHandler(), nullptr); // nothing installed: an OK gives 1
    engine.SetReportHandler(&FakeParser);
    EXPECT_EQ(engine.ReportHandler(), &FakeParser);
    EXPECT_EQ(engine.ReportHandler()("abc", 3, engine.Values()), 42);
    EXPECT_EQ(other.ReportHandler(), nullptr) << "each engine has its own";
    engine.SetReportHandler(nullptr);
    EXPECT_EQ(engine.ReportHandler(), nullptr);
}

// Each engine sends its own values: what one stores (or its report handler
// parses) never goes out with the other's commands.
TEST(CommandTable, EachEngineSendsItsOwnValues)
{
    CSerial port;
    CommandEngine engine(port, systemClock());
    CommandEngine other(port, systemClock());
    engine.Values().Set(1, "13900000000");
    FakeParser("abc", 3, engine.Values());
    const struct {
        const CommandEngine& from;
        int id;
        const char* line;
    } cases[] = {
        {engine, 1, "AT+PHON=13900000000\r\n"},
        {engine, 0, "AT+IDNT=parsed\r\n"},
        {other, 1, "AT+PHON=\r\n"},
        {other, 0, "AT+IDNT=\r\n"},
    };
    for (const auto& c : cases) {
        std::string line;
        EXPECT_EQ(c.from.FormatCommand(c.id, line), 1);
        EXPECT_EQ(line, c.line);
    }
    other.Values().Set(1, "13700000000");
    EXPECT_EQ(engine.Values().Get(1), "13900000000");
}

TEST(CommandTable, ReadersNeverSeeHalfAValue)
{
    // The worker stores values while the interface thread reads them.
    const std::string a(99, 'a');
    const std::string b(40, 'b');
    ParamTable values;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            values.Set(5, (i % 2) ? a : b);
        stop = true;
    });
    int torn = 0;
    while (!stop) {
        std::string v;
        values.Get(5, v);
        if (!v.empty() && v != a && v != b)
            ++torn;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

} // namespace
} // namespace pell

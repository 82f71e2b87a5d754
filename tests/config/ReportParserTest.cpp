// The report parser: line ends, blanks, ".", overlong lines and values,
// unknown labels, letter case, and the AT+SHOW handler around it.
#include "config/ReportParser.h"
#include "protocol/CommandTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace pell;

namespace {

constexpr int kHeartTime = 23;  // "Heart time:"
constexpr int kApn = 19;        // "Modem Apn:"
constexpr int kModemId = 0;     // "Modem's ID number:"
constexpr int kStraight = 26;   // "Deliver Recved Tcp Data Directly" (no colon)
constexpr int kCounter1 = 153;  // "CNTRVAL01:"

class ReportParser : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A marker in every row shows which rows a report touched.
        for (int row = 0; row < ParamRowCount(); ++row)
            values.Set(ParamRowId(row), "old");
    }

    bool parse(const std::string& text) { return ParseReportText(values, text.data(), text.size()); }
    std::string value(int id) const { return values.Get(id).value_or("<none>"); }

    ParamTable values;
};

} // namespace

TEST_F(ReportParser, LineEnds)
{
    EXPECT_TRUE(parse("Heart time: 60\r\n"));
    EXPECT_EQ(value(kHeartTime), "60");

    values.Set(kHeartTime, "old");
    EXPECT_FALSE(parse("Heart time: 60\n")) << "a bare LF right after the value ends nothing";
    EXPECT_EQ(value(kHeartTime), "old");

    EXPECT_TRUE(parse("Heart time: 61 \n")) << "a blank behind the value ends it";
    EXPECT_EQ(value(kHeartTime), "61");

    values.Set(kHeartTime, "old");
    EXPECT_FALSE(parse("Heart time: 62\r")) << "a last line without LF is not examined";
    EXPECT_FALSE(parse("Heart time: 62")) << "nor a text without any line end";
    EXPECT_EQ(value(kHeartTime), "old");

    EXPECT_FALSE(parse("Heart time:\n")) << "only the label";
    EXPECT_FALSE(parse("Heart time:   \n")) << "the label and blanks";
    EXPECT_EQ(value(kHeartTime), "old");

    EXPECT_FALSE(ParseReportText(values, nullptr, 5));
    EXPECT_FALSE(ParseReportText(values, "Heart time: 1\r\n", 0));
    EXPECT_EQ(value(kHeartTime), "old");

    // Only the given length counts: the second line lies beyond it.
    const std::string two = "Heart time: 63\r\nModem Apn: cmnet\r\n";
    EXPECT_TRUE(ParseReportText(values, two.data(), 16));
    EXPECT_EQ(value(kHeartTime), "63");
    EXPECT_EQ(value(kApn), "old");
}

TEST_F(ReportParser, BlanksAndWords)
{
    EXPECT_TRUE(parse("   \r\n\r\n  Heart time:      70 seconds or so\r\n"));
    EXPECT_EQ(value(kHeartTime), "70") << "leading blanks and line ends skipped, first word only";

    EXPECT_TRUE(parse("Heart time:71\r\n")) << "no blank between label and value";
    EXPECT_EQ(value(kHeartTime), "71");

    EXPECT_TRUE(parse("Heart time: 7\t2\r\n")) << "a tab is an ordinary value byte";
    EXPECT_EQ(value(kHeartTime), "7\t2");

    values.Set(kHeartTime, "old");
    EXPECT_FALSE(parse("\tHeart time: 73\r\n")) << "a tab before the label is part of the line";
    EXPECT_EQ(value(kHeartTime), "old");
}

TEST_F(ReportParser, FullStopAndEmptyValues)
{
    EXPECT_TRUE(parse("Modem Apn: .\r\n"));
    EXPECT_EQ(value(kApn), "");

    values.Set(kApn, "old");
    EXPECT_TRUE(parse("Modem Apn:\r\n")) << "CR right after the label";
    EXPECT_EQ(value(kApn), "");

    values.Set(kApn, "old");
    EXPECT_TRUE(parse("Modem Apn:      \r\n")) << "blanks, then CR";
    EXPECT_EQ(value(kApn), "");

    EXPECT_TRUE(parse("Heart time: 1.5\r\n")) << "a full stop inside the value";
    EXPECT_EQ(value(kHeartTime), "1.5");

    EXPECT_TRUE(parse("Heart time: .5\r\n")) << "a leading full stop is the empty value";
    EXPECT_EQ(value(kHeartTime), "");

    values.Set(kApn, "old");
    EXPECT_TRUE(parse("Modem Apn: .\n")) << "the full stop itself ends the empty value";
    EXPECT_EQ(value(kApn), "");
}

TEST_F(ReportParser, OverlongLinesAndValues)
{
    const std::string v150(150, 'v');
    EXPECT_TRUE(parse("Modem Apn: " + v150 + "\r\n"));
    EXPECT_EQ(value(kApn), std::string(99, 'v'));

    const std::string v99(99, 'w');
    EXPECT_TRUE(parse("Modem Apn: " + v99 + "\r\n"));
    EXPECT_EQ(value(kApn), v99);

    // "Modem Apn: " is 11 bytes; a value that ends within the first 254
    // bytes of a 300-byte line is taken, one that ends later is not.
    const std::string label = "Modem Apn: ";
    std::string fits = label + std::string(200, 'a') + " " + std::string(88, 'b') + "\r\n";
    ASSERT_EQ(fits.size(), 302u);
    EXPECT_TRUE(parse(fits));
    EXPECT_EQ(value(kApn), std::string(99, 'a'));

    values.Set(kApn, "old");
    std::string runsOff = label + std::string(243, 'c') + " tail\r\n";
    EXPECT_FALSE(parse(runsOff)) << "the blank lies just beyond the 254 bytes";
    EXPECT_EQ(value(kApn), "old");

    std::string endsAt254 = label + std::string(242, 'd') + " tail\r\n";
    EXPECT_TRUE(parse(endsAt254)) << "the blank is byte 254 of the line";
    EXPECT_EQ(value(kApn), std::string(99, 'd'));

    // The dropped tail of an overlong line does not start a line of its own.
    values.Set(kHeartTime, "old");
    std::string hidden = std::string(260, 'x') + "Heart time: 5\r\nModem Apn: next\r\n";
    EXPECT_TRUE(parse(hidden));
    EXPECT_EQ(value(kHeartTime), "old");
    EXPECT_EQ(value(kApn), "next");
}

TEST_F(ReportParser, UnknownLabelsAndCase)
{
    EXPECT_FALSE(parse("Heart Time: 60\r\n")) << "labels compare case-sensitively";
    EXPECT_FALSE(parse("HEART TIME: 60\r\n"));
    EXPECT_FALSE(parse("Nonsense label: 1\r\nHeart time 60\r\n"));
    EXPECT_FALSE(parse(std::string(5000, '#') + "\r\n" + std::string(3000, '\n')));
    EXPECT_EQ(value(kHeartTime), "old");

    EXPECT_TRUE(parse("Deliver Recved Tcp Data Directly 1\r\n")) << "the one label without a colon";
    EXPECT_EQ(value(kStraight), "1");

    EXPECT_TRUE(parse("Modem's ID number:  4201230017\r\n"));
    EXPECT_EQ(value(kModemId), "4201230017");

    // Rows outside the pages take values all the same.
    EXPECT_TRUE(parse("CNTRVAL01: 1234\r\n"));
    EXPECT_EQ(value(kCounter1), "1234");

    // The end row has an empty label and matches nothing.
    EXPECT_FALSE(parse("   x\r\n"));
}

TEST_F(ReportParser, ReportOfManyLinesStoresEveryKnownOne)
{
    std::string report = "\r\nAT+SHOW\r\n";
    int rows = 0;
    for (int row = 0; row < ParamRowCount(); ++row) {
        const int id = ParamRowId(row);
        const std::string label = ParamRowLabel(row);
        if (label.empty())
            continue;
        std::string line = label;
        line.append(label.size() < 34 ? 34 - label.size() : 2, ' ');
        line += "v" + std::to_string(id) + "\r\n";
        report += line;
        ++rows;
    }
    report += "\r\nOK\r\n";
    EXPECT_EQ(rows, ParamRowCount() - 1);
    EXPECT_TRUE(parse(report));
    for (int row = 0; row < ParamRowCount(); ++row) {
        const int id = ParamRowId(row);
        if (id != kEndRowId) {
            EXPECT_EQ(value(id), "v" + std::to_string(id)) << ParamRowLabel(row);
        }
    }
}

TEST_F(ReportParser, ReplyHandlerReportsWhetherAValueWasStored)
{
    const std::string ok = "Heart time: 9\r\n\r\nOK\r\n";
    EXPECT_EQ(ReportReplyHandler(ok.data(), static_cast<int>(ok.size()), values), 1);
    EXPECT_EQ(value(kHeartTime), "9");
    const std::string none = "\r\nOK\r\n";
    EXPECT_EQ(ReportReplyHandler(none.data(), static_cast<int>(none.size()), values), 0);
    EXPECT_EQ(ReportReplyHandler(ok.data(), -1, values), 0);

}

// What a report held and lacked, read without storing anything: a lost
// line, a damaged label, text before the report and the closing OK.
TEST(ReadReport, NamesWhatTheReportLacksAndWhatNoLabelFits)
{
    // A whole report as the controller prints it: every row, then OK.
    std::vector<std::pair<int, std::string>> lines; // id, line
    for (int row = 0; row < ParamRowCount(); ++row) {
        const int id = ParamRowId(row);
        if (id != kEndRowId && id != kIdRecords)
            lines.emplace_back(id, std::string(ParamRowLabel(row)) + "   v" + std::to_string(id) + "\r\n");
    }
    const auto line = [&](int id) {
        return std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == id; })->second;
    };
    const auto report = [&](const std::string& before, const std::vector<int>& dropped, int damaged) {
        std::string text = before + "\r\n";
        for (auto [id, l] : lines) {
            if (std::find(dropped.begin(), dropped.end(), id) != dropped.end())
                continue;
            if (id == damaged)
                l[0] = static_cast<char>(l[0] ^ 0x20);
            text += l;
        }
        return text + "\r\nOK\r\n";
    };
    const int kNone = -1;
    const std::string apn = line(kApn);
    struct Case {
        const char* what;
        std::string text;
        std::vector<int> missing;
        std::vector<std::string> unplaced;
    } const cases[] = {
        {"whole", report("", {}, kNone), {}, {}},
        {"echo and noise before it", report("AT+SHOW\r\r\n" + std::string("\0\0\xff#~", 5), {}, kNone), {}, {}},
        {"one line lost", report("", {kHeartTime}, kNone), {kHeartTime}, {}},
        {"a label with a flipped bit", report("", {}, kApn),
         {kApn}, {std::string(1, static_cast<char>('M' ^ 0x20)) + apn.substr(1, apn.size() - 3)}},
        {"lines of the end lost", report("", {140, 141, 142, 143, 144}, kNone), {140, 141, 142, 143, 144}, {}},
        {"no report at all", "\r\nOK\r\n", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ReportReading r = ReadReport(c.text.data(), c.text.size());
        std::vector<int> missing = c.missing;
        if (std::string(c.what) == "no report at all")
            for (int id = 0; id <= 144; ++id)
                missing.push_back(id);
        EXPECT_EQ(r.missing, missing);
        EXPECT_EQ(r.unplaced, c.unplaced);
        EXPECT_EQ(r.held.size() + r.missing.size(), 145u);
        EXPECT_EQ(r.Whole(), missing.empty() && c.unplaced.empty());
    }
}

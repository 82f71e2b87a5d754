// Configuration files: the text of a table of values (155 lines in table
// order, values one line each) and reading it back (byte-order mark).
#include "config/ConfigFile.h"
#include "protocol/CommandTable.h"


#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pell;

namespace {

constexpr int kHeartTime = 23; // "Heart time:"
constexpr int kApn = 19;       // "Modem Apn:"
constexpr int kModemId = 0;    // "Modem's ID number:"
constexpr int kRecords = 161;  // "Record:"
constexpr int kCounter1 = 153; // "CNTRVAL01:"

void fillTable(ParamTable& values, const std::string& value)
{
    for (int row = 0; row < ParamRowCount(); ++row)
        values.Set(ParamRowId(row), value);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the text ends with CR LF";
    return out;
}

// The file's line order by id: the table order.
std::vector<int> fileOrder()
{
    std::vector<int> ids;
    auto run = [&](int from, int to) {
        for (int id = from; id <= to; ++id)
            ids.push_back(id);
    };
    run(0, 11), ids.push_back(13), ids.push_back(12), run(14, 82), ids.push_back(153);
    run(83, 86), ids.push_back(154), run(87, 90), ids.push_back(155), run(91, 94);
    ids.push_back(156), run(95, 101), ids.push_back(157), run(102, 106), ids.push_back(158);
    run(107, 111), ids.push_back(159), run(112, 116), ids.push_back(160), run(117, 144);
    ids.push_back(152), ids.push_back(161);
    return ids;
}

bool parse(ParamTable& values, const std::string& text)
{
    return ParseConfigText(values, text.data(), text.size());
}

} // namespace

TEST(ConfigFile, EmptyTableGives155LinesOfLabelAndTwoBlanksInTableOrder)
{
    ParamTable values;
    fillTable(values, "");
    char buffer[kConfigTextBufferSize];
    const std::size_t length = FormatConfigText(values, buffer);
    const std::string text(buffer, length);
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(FormatConfigText(values), text);

    const std::vector<std::string> got = lines(text);
    const std::vector<int> order = fileOrder();
    ASSERT_EQ(order.size(), 155u);
    ASSERT_EQ(got.size(), 155u);
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(got[i], std::string(ParamLabel(order[i])) + "  ") << "line " << i;
    EXPECT_EQ(got.front(), "Modem's ID number:  ");
    EXPECT_EQ(got.back(), "Record:  ");
}

// What a row holds, the line the file gets, and what reading it back stores.
TEST(ConfigFile, ValuesAreWrittenAsOneLineAndReadBack)
{
    ParamTable values;
    struct Case {
        const char* name;
        int id;
        std::string value;
        std::string line;
        std::string readBack;
    } cases[] = {
        {"plain", kHeartTime, "60", "Heart time:  60", "60"},
        {"empty", kApn, "", "Modem Apn:  ", ""},
        {"records row after a query", kRecords, "\r\nOK\r\n", "Record:  ", ""},
        {"initial value read with its line ends", kCounter1, "123\r\n\r\n", "CNTRVAL01:  123", "123"},
        {"bare LF", kHeartTime, "7\n8", "Heart time:  7", "7"},
        {"code page 936", kApn, "\xD6\xD0\xB9\xFA", "Modem Apn:  \xD6\xD0\xB9\xFA", "\xD6\xD0\xB9\xFA"},
        {"99 bytes", kModemId, std::string(99, '9'), "Modem's ID number:  " + std::string(99, '9'),
         std::string(99, '9')},
        {"a blank inside comes back as the first word", kApn, "cm net", "Modem Apn:  cm net", "cm"},
    };
    for (const Case& c : cases) {
        fillTable(values, "x");
        values.Set(c.id, c.value);
        const std::string text = FormatConfigText(values);
        const std::vector<std::string> got = lines(text);
        ASSERT_EQ(got.size(), 155u) << c.name;
        const std::vector<int> order = fileOrder();
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (order[i] == c.id) {
                EXPECT_EQ(got[i], c.line) << c.name;
            }
        }

        fillTable(values, "old");
        EXPECT_TRUE(parse(values, text)) << c.name;
        EXPECT_EQ(values.Get(c.id), c.readBack) << c.name;
        const int other = c.id == kModemId ? kHeartTime : kModemId;
        EXPECT_EQ(values.Get(other), "x") << c.name << ": the other rows come back too";
    }
}

TEST(ConfigFile, ReadingSkipsAByteOrderMarkAtTheStart)
{
    ParamTable values;
    struct Case {
        const char* name;
        std::string text;
        bool stored;
        std::string heart, apn;
    } cases[] = {
        {"byte-order mark", "\xEF\xBB\xBFHeart time:  60\r\nModem Apn:  cmnet\r\n", true, "60", "cmnet"},
        {"mark only, nothing after", "\xEF\xBB\xBF", false, "old", "old"},
        {"mark in the middle is text", "Modem Apn:  a\r\n\xEF\xBB\xBFHeart time:  60\r\n", true, "old", "a"},
    };
    for (const Case& c : cases) {
        fillTable(values, "old");
        EXPECT_EQ(parse(values, c.text), c.stored) << c.name;
        EXPECT_EQ(values.Get(kHeartTime), c.heart) << c.name;
        EXPECT_EQ(values.Get(kApn), c.apn) << c.name;
        EXPECT_EQ(values.Get(kModemId), "old") << c.name;
    }
}

// The answer table: loading a CSV text, matching a chunk's rendering and
// advancing the answer's bytes with the answer counter.
#include "debug/AnswerTable.h"
#include "debug/HexText.h"
#include "debug/TerminalTexts.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace pell;

namespace {

std::string answerFor(const AnswerTable& t, const std::string& received, std::atomic<uint8_t>& counter)
{
    return FindAnswer(t, FormatHex(received), counter).value_or("<none>");
}

std::string reasonText(int line, const char* reason)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, terminaltext::kRowPrefix, line);
    return prefix + std::string(reason);
}

} // namespace

TEST(AnswerTable, SplitsLinesAtCommasNotAtTheStartOfTheRest)
{
    struct Case {
        std::string line;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {"A,,B", {"A", ",B"}},
        {"A,B,C", {"A", "B", "C"}},
        {"", {""}},
        {",A", {",A"}},
        {"A,", {"A", ""}},
        {"1,2,3,4,5,6,7,8,9,10", {"1", "2", "3", "4", "5", "6", "7", "8"}},
        {"\"a,b\",c", {"\"a", "b\"", "c"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitAnswerLine(c.line), c.fields) << c.line;
}

TEST(AnswerTable, CounterAdvancesNamedBytesAndWrapsAfter256Answers)
{
    AnswerTable t;
    ASSERT_TRUE(t.Load("01 03,01 03 02 00 05,3,1\r\n").empty());
    std::atomic<uint8_t> counter{0};
    for (int k = 0; k < 257; ++k) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "01 03 02 %02X 05", k % 256);
        ASSERT_EQ(answerFor(t, "\x01\x03\x07", counter), expected) << k;
    }
    EXPECT_EQ(counter.load(), 1); // 257 answers, modulo 256
    // A chunk that does not begin with the request leaves the counter alone.
    EXPECT_EQ(answerFor(t, "\x01", counter), "<none>");
    EXPECT_EQ(answerFor(t, "\x02\x01\x03", counter), "<none>");
    EXPECT_EQ(counter.load(), 1);
}

TEST(AnswerTable, MultipliersAreTakenModulo256)
{
    struct Case {
        std::string multiplier;
        uint8_t byte; // the multiplier as a byte
    };
    const Case cases[] = {
        {"1", 1}, {"300", 44}, {"-1", 255}, {"-300", 212}, {"256", 0}, {"", 0}, {"x5", 0},
        {" 7 apples", 7}, {"99999999999999999999", 255} /* 10^20 - 1 */,
        {"+2", 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MultiplierByte(c.multiplier), c.byte) << c.multiplier;
        AnswerTable t;
        t.Load("AA,00 10 FF," "1," + c.multiplier + ",2," + c.multiplier);
        for (int counter : {0, 1, 2, 255}) {
            char expected[16];
            std::snprintf(expected, sizeof expected, "00 %02X %02X", (0x10 + c.byte * counter) & 0xFF,
                          (0xFF + c.byte * counter) & 0xFF);
            EXPECT_EQ(t.Match("AA ", static_cast<uint8_t>(counter)).value_or(""), expected)
                << c.multiplier << " x " << counter;
        }
    }
}

TEST(AnswerTable, MatchesPerChunkOnTheTrimmedRendering)
{
    AnswerTable t;
    t.Load("  01 03 ,first\n01,second\n\n ,never\n02 0a,third");
    struct Case {
        std::string rendering;
        std::string answer;
    };
    const Case cases[] = {
        {"01 03 00 ", "first"},
        {"01 03 ", "first"},   // the blank behind the last byte is trimmed away
        {"01 0", "second"},    // a chunk ending inside a request matches a shorter one only
        {"02 0A ", "third"},   // requests are upper-cased when loaded
        {"03 ", ""},
        {" ", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(t.Match(c.rendering, 0).value_or(""), c.answer) << c.rendering;
    EXPECT_EQ(t.UsedRows(), 3);
}

TEST(AnswerTable, PairsOutsideTheAnswerOrOnNonHexAreSkipped)
{
    AnswerTable t;
    const auto problems = t.Load("AA,00 ZZ 02,1,1,9,1,x,1\nBB,00 01,0,1,,,,,,\n");
    EXPECT_EQ(t.Match("AA ", 5).value_or(""), "00 ZZ 02");
    EXPECT_EQ(t.Match("BB ", 5).value_or(""), "05 01");
    ASSERT_EQ(problems.size(), 4u);
    char pair[96];
    std::snprintf(pair, sizeof pair, terminaltext::kBadPair, 1);
    EXPECT_EQ(problems[1].reason, reasonText(1, pair));
    for (const auto& p : problems)
        EXPECT_EQ(p.line, 1);
}

TEST(AnswerTable, LoadingReplacesTheTableAndCopesWithEditors)
{
    AnswerTable t;
    t.Load("01,a\n02,b\n03,c\n");
    t.Load("\xEF\xBB\xBF" "04,d\r\n05,e\r\n");
    EXPECT_EQ(t.row(0)[0], "04"); // the byte-order mark is gone
    EXPECT_EQ(t.row(0)[1], "d");  // and the CR of CR LF
    EXPECT_EQ(t.row(1)[1], "e");
    EXPECT_EQ(t.row(2)[0], "");   // nothing kept of the earlier file
    EXPECT_FALSE(t.Match("03 ", 0));
    EXPECT_EQ(t.UsedRows(), 2);

    std::string many;
    for (int i = 0; i < 250; ++i)
        many += "AA,BB\n";
    t.Load(many);
    EXPECT_EQ(t.UsedRows(), AnswerTable::kRows);
    EXPECT_EQ(t.row(199)[1], "BB");
}

TEST(AnswerTable, BadRowsAreReportedOnceWhenLoaded)
{
    AnswerTable t;
    const std::string longAnswer = std::string(5121 * 3, ' ').replace(0, 5121 * 2, std::string(5121 * 2, '1'));
    const auto problems = t.Load("0x01,01\n01,hello\n02," + longAnswer + "\n03,01 02,5,1\n04,05\n");
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_EQ(problems[0].reason, reasonText(1, terminaltext::kBadRequest));
    EXPECT_EQ(problems[1].reason, reasonText(2, terminaltext::kBadAnswerHex));
    EXPECT_EQ(problems[2].reason, reasonText(3, terminaltext::kAnswerTooLong));
    EXPECT_EQ(problems[3].line, 4);
}

// The four value rules and the basic page's two label tables.
#include "pages/BasicPageTexts.h"
#include "pages/ValueRules.h"

#include <gtest/gtest.h>

#include <climits>

using namespace pell;
using namespace pell::basicpage;

TEST(TextRule, AValueEndsAtItsFirstLineBreak)
{
    const std::pair<std::string, std::string> cases[] = {
        {"CMNET\r\nAT+FACTORY", "CMNET"},
        {"CMNET\nAT+FACTORY\r\n", "CMNET"},
        {"42\rAT+RESET", "42"},
        {"\r\nAT+FACTORY", ""},
        {"a b\tc", "a b\tc"},
        {std::string(120, 'x') + "\r\n", std::string(99, 'x')},
    };
    for (const auto& [shown, value] : cases)
        EXPECT_EQ(TextRuleValue(shown), value) << shown;
}

TEST(TextRule, KeepsTheTextExactlyUpToTheValueLimit)
{
    EXPECT_EQ(TextRuleValue(""), "");
    EXPECT_EQ(TextRuleValue("  13800138000 \t"), "  13800138000 \t"); // no trimming
    const std::string gbk = std::string(kYes) + "\xA1\xA1" + kNo;   // GBK bytes pass untouched
    EXPECT_EQ(TextRuleValue(gbk), gbk);
    const std::string exact(99, 'x');
    EXPECT_EQ(TextRuleValue(exact), exact);
    // What the controller can store of a longer edit, so the same edit
    // compares equal next time and is not sent again.
    std::string longer(60, 'a');
    longer += std::string(60, 'b');
    EXPECT_EQ(TextRuleValue(longer), longer.substr(0, 99));
}

TEST(TextRule, ALongChineseTextIsCutAtACharacterBoundary)
{
    std::string chinese;
    for (int i = 0; i < 60; ++i)
        chinese += "\xD6\xD0"; // 120 bytes
    // Alone, the 99th byte is a lead byte: its character is left out. After
    // one ASCII byte the 99 bytes end on a whole character and all stay.
    for (const std::string& head : {std::string(), std::string("a")}) {
        const std::string value = TextRuleValue(head + chinese);
        EXPECT_EQ(value, (head + chinese).substr(0, head.empty() ? 98 : 99)) << head;
    }
}

TEST(DigitRule, IndexIsTheFirstByteMinusZero)
{
    EXPECT_EQ(DigitRuleIndex("0"), 0);
    EXPECT_EQ(DigitRuleIndex("5"), 5);
    EXPECT_EQ(DigitRuleIndex("9"), 9);
    // Only the first character counts.
    EXPECT_EQ(DigitRuleIndex("1"), 1);
    EXPECT_EQ(DigitRuleIndex("15"), 1);
    // An empty text counts its terminating zero: no item.
    EXPECT_EQ(DigitRuleIndex(""), -48);
    EXPECT_FALSE(IsListIndex(DigitRuleIndex(""), 10));
    // Anything that is no digit lands outside every list of up to ten items.
    for (const char* v : {" 1", "-1", "/", ":", "a", ".", "\xB7\xF1"})
        EXPECT_FALSE(IsListIndex(DigitRuleIndex(v), 10)) << v;
    // A digit beyond a short list selects nothing either.
    EXPECT_FALSE(IsListIndex(DigitRuleIndex("6"), 6));
    EXPECT_TRUE(IsListIndex(DigitRuleIndex("5"), 6));
}

TEST(DigitRule, ValueIsOneCharacterOrNoneWithoutSelection)
{
    EXPECT_EQ(DigitRuleValue(0), "0");
    EXPECT_EQ(DigitRuleValue(5), "5");
    EXPECT_EQ(DigitRuleValue(9), "9");
    EXPECT_EQ(DigitRuleValue(-1), std::nullopt);
    EXPECT_EQ(DigitRuleValue(INT_MIN), std::nullopt);
    EXPECT_EQ(DigitRuleValue(INT_MAX), std::nullopt);
    // "15" on a list of six: item 1 selected, the write sends "1".
    EXPECT_EQ(DigitRuleValue(DigitRuleIndex("15")), "1");
}

TEST(NumberRule, IndexIsTheLeadingDecimalNumber)
{
    EXPECT_EQ(NumberRuleIndex("15"), 15);
    EXPECT_EQ(NumberRuleIndex("0"), 0);
    EXPECT_EQ(NumberRuleIndex("007"), 7);
    EXPECT_EQ(NumberRuleIndex("  12abc"), 12);
    EXPECT_EQ(NumberRuleIndex("\t\r\n\v\f 3"), 3);
    EXPECT_EQ(NumberRuleIndex("+4"), 4);
    EXPECT_EQ(NumberRuleIndex("-2"), -2);
    EXPECT_EQ(NumberRuleIndex("1.5"), 1);
    // No digit: item 0.
    EXPECT_EQ(NumberRuleIndex(""), 0);
    EXPECT_EQ(NumberRuleIndex("abc"), 0);
    EXPECT_EQ(NumberRuleIndex("-"), 0);
    EXPECT_EQ(NumberRuleIndex(" + 5"), 0);
    EXPECT_EQ(NumberRuleIndex("\xB7\xF1" "5"), 0);
    // Huge numbers stay at the ends of the int range (and outside any list).
    EXPECT_EQ(NumberRuleIndex("99999999999999999999"), INT_MAX);
    EXPECT_EQ(NumberRuleIndex("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(NumberRuleIndex("2147483647"), INT_MAX);
    EXPECT_EQ(NumberRuleIndex("-2147483648"), INT_MIN);
    EXPECT_FALSE(IsListIndex(NumberRuleIndex("-2"), 20));
    EXPECT_FALSE(IsListIndex(NumberRuleIndex("20"), 20));
    EXPECT_TRUE(IsListIndex(NumberRuleIndex("19"), 20));
}

TEST(NumberRule, ValueIsTheIndexInDecimalOrNoneWithoutSelection)
{
    EXPECT_EQ(NumberRuleValue(0), "0");
    EXPECT_EQ(NumberRuleValue(12), "12");
    EXPECT_EQ(NumberRuleValue(NumberRuleIndex("15")), "15");
    EXPECT_EQ(NumberRuleValue(-1), std::nullopt);
}

TEST(LabelTableA, SetterPicksByFirstCharacterWithNoLogAsDefault)
{
    const LabelTable& a = DebugLevelLabels();
    EXPECT_EQ(LabelRuleLabel(a, "1"), kSimpleLog);
    EXPECT_EQ(LabelRuleLabel(a, "2"), kDetailedLog);
    EXPECT_EQ(LabelRuleLabel(a, "21"), kDetailedLog);
    EXPECT_EQ(LabelRuleLabel(a, "1x"), kSimpleLog);
    for (const char* v : {"0", "", "5", "3", " 1", "a", "\xCA\xC7"})
        EXPECT_EQ(LabelRuleLabel(a, v), kNoLog) << v;
}

TEST(LabelTableA, GetterKnowsOnlyTheLabelsAndReadsAnythingElseAsZero)
{
    const LabelTable& a = DebugLevelLabels();
    EXPECT_EQ(LabelRuleValue(a, kSimpleLog), "1");
    EXPECT_EQ(LabelRuleValue(a, kDetailedLog), "2");
    EXPECT_EQ(LabelRuleValue(a, kNoLog), "0");
    // A typed digit is no label.
    EXPECT_EQ(LabelRuleValue(a, "2"), "0");
    EXPECT_EQ(LabelRuleValue(a, ""), std::nullopt) << "an empty box shows no label at all";
    EXPECT_EQ(LabelRuleValue(a, std::string(kSimpleLog) + " "), "0"); // byte for byte
    // Read-back of 5 shows the default label, whose code is 0.
    EXPECT_EQ(LabelRuleValue(a, LabelRuleLabel(a, "5")), "0");
}

TEST(LabelTableB, SetterShowsNoYesOrEmptiesTheText)
{
    const LabelTable& b = OnOffLabels();
    EXPECT_EQ(LabelRuleLabel(b, "0"), kNo);
    EXPECT_EQ(LabelRuleLabel(b, "1"), kYes);
    EXPECT_EQ(LabelRuleLabel(b, "10"), kYes);
    for (const char* v : {"2", "", " 1", "-", "\xB7\xF1"})
        EXPECT_EQ(LabelRuleLabel(b, v), "") << v;
}

TEST(LabelTableB, GetterYieldsNoValueForAnyOtherText)
{
    const LabelTable& b = OnOffLabels();
    EXPECT_EQ(LabelRuleValue(b, kNo), "0");
    EXPECT_EQ(LabelRuleValue(b, kYes), "1");
    // Empty (before any read-back, or after the value 2) and typed texts
    // are no value at all, so the write passes over the parameter.
    for (const char* v : {"", "1", "0", "yes", "\xB7\xF1\xB7\xF1"})
        EXPECT_EQ(LabelRuleValue(b, v), std::nullopt) << v;
}

TEST(LabelRule, WholeTextTablesMatchTheWholeValue)
{
    static constexpr LabelChoice choices[] = {{"10", "ten"}, {"1", "one"}};
    const LabelTable t{choices, LabelMatch::WholeText, "other", std::nullopt};
    EXPECT_EQ(LabelRuleLabel(t, "1"), "one");
    EXPECT_EQ(LabelRuleLabel(t, "10"), "ten");
    EXPECT_EQ(LabelRuleLabel(t, "100"), "other");
    EXPECT_EQ(LabelRuleLabel(t, ""), "other");
    EXPECT_EQ(LabelRuleValue(t, "ten"), "10");
    EXPECT_EQ(LabelRuleValue(t, "other"), std::nullopt);
}

// Typed hex text, the hex rendering and cutting GBK text at a character.
#include "debug/HexText.h"

#include <gtest/gtest.h>

using namespace pell;

TEST(HexText, ParseHexText)
{
    struct Case {
        std::string text;
        std::size_t limit;
        HexParse result;
        std::string bytes;
    };
    const std::string full(5120 * 2, 'a');
    const Case cases[] = {
        {"01 02 0a", 5120, HexParse::Ok, std::string("\x01\x02\x0A", 3)},
        {"0x01", 5120, HexParse::InvalidCharacter, ""},
        {"1 2", 5120, HexParse::Ok, "\x12"},
        {"ABC", 5120, HexParse::Ok, "\xAB"},
        {"  a B  ", 5120, HexParse::Ok, "\xAB"},
        {"", 5120, HexParse::Ok, ""},
        {"   ", 5120, HexParse::Ok, ""},
        {"01\t02", 5120, HexParse::InvalidCharacter, ""},
        {"01,02", 5120, HexParse::InvalidCharacter, ""},
        {"01\r\n", 5120, HexParse::InvalidCharacter, ""},
        {std::string("01\0", 3), 5120, HexParse::InvalidCharacter, ""},
        {"\xB0\xA1", 5120, HexParse::InvalidCharacter, ""},
        {full, 5120, HexParse::Ok, std::string(5120, '\xAA')},
        {full + "a", 5120, HexParse::TooLong, ""},
        {full + " ", 5120, HexParse::Ok, std::string(5120, '\xAA')},
        {full + "x", 5120, HexParse::InvalidCharacter, ""},
        {"1", 0, HexParse::TooLong, ""},
        {"", 0, HexParse::Ok, ""},
        {"0102 03", 2, HexParse::TooLong, ""},
        {"01 0", 1, HexParse::TooLong, ""},
    };
    for (const auto& c : cases) {
        std::string out = "left over";
        EXPECT_EQ(ParseHexText(c.text, c.limit, out), c.result) << c.text.substr(0, 40);
        EXPECT_EQ(out, c.bytes) << c.text.substr(0, 40);
    }
}

TEST(HexText, FormatHexAndRoundTrip)
{
    EXPECT_EQ(FormatHex(std::string("\x01\xAB", 2)), "01 AB ");
    EXPECT_EQ(FormatHex(std::string("\x41\x00\x42", 3)), "41 00 42 ");
    EXPECT_EQ(FormatHex(""), "");
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::string back;
    ASSERT_EQ(ParseHexText(FormatHex(all), 256, back), HexParse::Ok);
    EXPECT_EQ(back, all);
}

TEST(HexText, GbkCutKeepsCharactersWhole)
{
    struct Case {
        std::string text;
        std::size_t limit;
        std::size_t cut;
    };
    const Case cases[] = {
        {"abc", 10, 3},
        {"abc", 2, 2},
        {"a\xB0\xA1", 2, 1},         // the limit falls inside the character
        {"a\xB0\xA1", 3, 3},
        {"\xB0\xA1\xB0\xA1", 3, 2},
        {"\xB0" "A" "b", 1, 0},      // 0xB0 0x41 is one character: a limit of 1 cuts before it
        {"\xB0" "A" "b", 2, 2},
        {"\xB0\x0A" "b", 1, 1},      // 0x0A is no second byte: 0xB0 stands alone
        {"", 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GbkCut(c.text, c.limit), c.cut) << c.text << " " << c.limit;
}

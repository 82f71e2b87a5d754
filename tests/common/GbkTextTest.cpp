// The one converter between code page 936 and UTF-8, on the system's own
// converters (iconv here, MultiByteToWideChar under Windows).
#include "common/GbkText.h"

#include <gtest/gtest.h>

using namespace pell;

namespace {

TEST(GbkText, TheSystemConvertsCodePage936)
{
    EXPECT_TRUE(GbkConverterWorks());
}

TEST(GbkText, Utf8AgainstCodePage936)
{
    struct Case {
        const char* what;
        std::string gbk;
        std::string utf8;
    };
    const Case both[] = {
        {"empty", "", ""},
        {"ASCII", "AT+SHOW\r\n", "AT+SHOW\r\n"},
        {"set ok", "\xC9\xE8\xD6\xC3\xB3\xC9\xB9\xA6", "设置成功"},
        {"mixed", "\xCF\xC2\xD4\xD8 ok 1", "下载 ok 1"},
        {"full-width colon", "\xA3\xBA", "："},
    };
    for (const Case& c : both) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8);
        std::string back = "stale";
        ASSERT_TRUE(Utf8ToGbk(c.utf8, back));
        EXPECT_EQ(back, c.gbk);
    }
}

TEST(GbkText, WhatCannotBeConvertedIsShownOrRefused)
{
    // Bytes that are no GBK character are shown, not dropped: a lone lead
    // byte, a lead byte at the end, 0xFF.
    EXPECT_EQ(GbkToUtf8("a\xFF" "b\x81"), "a\\xFFb\\x81");
    EXPECT_EQ(GbkToUtf8("\xCF"), "\\xCF");
    // Not UTF-8, and a character code page 936 lacks: refused, nothing kept.
    for (const std::string utf8 : {"\xC9\xE8", "\xF0\x9F\x98\x80", "ok \xF0\x9F\x98\x80"}) {
        std::string back = "stale";
        EXPECT_FALSE(Utf8ToGbk(utf8, back)) << utf8;
        EXPECT_TRUE(back.empty());
    }
}

TEST(GbkText, ShownTextsLoseOnlyWhatGbkLacks)
{
    const std::pair<std::string, std::string> cases[] = {
        {"下载 ok", "\xCF\xC2\xD4\xD8 ok"},
        {"下\xF0\x9F\x98\x80载", "\xCF\xC2?\xD4\xD8"}, // a character GBK lacks
        {"a\xC9", "a?"},                                   // a cut UTF-8 character
        {"\x80x", "?x"},                                   // a byte that starts none
    };
    for (const auto& [utf8, gbk] : cases)
        EXPECT_EQ(Utf8ToGbkLossy(utf8), gbk) << utf8;
}

} // namespace

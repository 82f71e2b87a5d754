// The widget boundary's texts: the core's converter, never a silent
// fallback, and what GBK lacks is never sent as if typed.
#include "ui/Gbk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pell::ui;

namespace {

TEST(Gbk, WidgetTextsGoThroughCodePage936)
{
    EXPECT_EQ(FromGbk("\xCF\xC2\xD4\xD8\xB9\xA4\xBE\xDF"), QStringLiteral("下载工具"));
    EXPECT_EQ(FromGbk("a\xFF"), QStringLiteral("a\\xFF"));
    EXPECT_EQ(ToGbkExact(QStringLiteral("下载 ok")), std::optional<std::string>("\xCF\xC2\xD4\xD8 ok"));
    EXPECT_EQ(ToGbkExact(QStringLiteral("a\U0001F600")), std::nullopt);
    // Shown texts lose only the character GBK lacks.
    EXPECT_EQ(ToGbk(QStringLiteral("下\U0001F600载")), "\xCF\xC2?\xD4\xD8");
}

TEST(Gbk, ACharacterSplitBetweenPiecesIsDecodedWhole)
{
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        QString shown;
    };
    const Case cases[] = {
        {"split after the lead byte", {"a\xCF", "\xC2\xD4", "\xD8"}, QStringLiteral("a下载")},
        {"every byte alone", {"\xB3", "\xC9", "\xB9", "\xA6"}, QStringLiteral("成功")},
        {"no GBK byte, then ASCII", {"\xFF", "ok"}, QStringLiteral("\\xFFok")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GbkStreamDecoder decoder;
        QString shown;
        for (const std::string& piece : c.pieces)
            shown += decoder.Decode(piece);
        EXPECT_EQ(shown, c.shown);
    }
    // A reset drops a waiting lead byte.
    GbkStreamDecoder decoder;
    EXPECT_EQ(decoder.Decode("\xCF"), QString());
    decoder.Reset();
    EXPECT_EQ(decoder.Decode("ok"), QStringLiteral("ok"));
}

} // namespace

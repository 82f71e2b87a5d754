// Typed hex text on arbitrary input: the parse agrees with a plain model of
// it (blanks skipped, pairs of hex digits, a limit on complete bytes), the
// bytes it accepts render back to text that parses to the same bytes, and
// cutting GBK text never ends inside a double-byte character.
#include "debug/HexText.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace pell;

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the limit, the rest is the text.
    const std::size_t limit = data[0] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::size_t digits = 0;
    bool invalid = false;
    for (char c : text) {
        if (c == ' ')
            continue;
        if (!isHex(c)) {
            invalid = true;
            break;
        }
        ++digits;
    }
    std::string out = "x";
    const HexParse r = ParseHexText(text, limit, out);
    // A character that is neither blank nor hex digit ends the parse unless
    // the limit was hit first.
    if (r == HexParse::Ok) {
        FUZZ_CHECK(!invalid);
        FUZZ_CHECK(out.size() == digits / 2);
        FUZZ_CHECK(out.size() <= limit);
        std::string back;
        FUZZ_CHECK(ParseHexText(FormatHex(out), limit, back) == HexParse::Ok);
        FUZZ_CHECK(back == out);
    } else {
        FUZZ_CHECK(out.empty());
        if (r == HexParse::TooLong)
            FUZZ_CHECK(digits > 2 * limit || invalid);
        else
            FUZZ_CHECK(invalid);
    }

    const std::size_t cut = GbkCut(text, limit * 4);
    FUZZ_CHECK(cut <= text.size() && cut <= std::max(text.size(), limit * 4));
    FUZZ_CHECK(cut == text.size() || cut + 1 >= limit * 4);
    return 0;
}

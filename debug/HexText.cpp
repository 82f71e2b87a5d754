#include "debug/HexText.h"

namespace pell {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

} // namespace

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void AppendHex(std::string& out, std::string_view bytes)
{
    const std::size_t start = out.size();
    out.resize(start + bytes.size() * 3);
    char* p = out.data() + start;
    for (unsigned char b : bytes) {
        *p++ = kDigits[b >> 4];
        *p++ = kDigits[b & 0x0F];
        *p++ = ' ';
    }
}

std::string FormatHex(std::string_view bytes)
{
    std::string out;
    AppendHex(out, bytes);
    return out;
}

HexParse ParseHexText(std::string_view text, std::size_t limit, std::string& out)
{
    out.clear();
    std::string bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ')
            continue;
        const int v = HexDigitValue(c);
        if (v < 0)
            return HexParse::InvalidCharacter;
        if (bytes.size() >= limit)
            return HexParse::TooLong;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<char>((high << 4) | v));
            high = -1;
        }
    }
    out = std::move(bytes);
    return HexParse::Ok;
}

std::size_t GbkCut(std::string_view bytes, std::size_t limit)
{
    if (bytes.size() <= limit)
        return bytes.size();
    std::size_t i = 0;
    while (i < limit) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const auto next = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const bool pair = b >= 0x81 && b <= 0xFE && next >= 0x40 && next <= 0xFE && next != 0x7F;
        const std::size_t width = pair ? 2 : 1;
        if (i + width > limit)
            break;
        i += width;
    }
    return i;
}

} // namespace pell

#pragma once
// Bytes as the terminal shows and takes them in hex: every byte as two
// upper-case hex digits and one blank ("41 00 42 "), and typed hex text
// back to bytes.
#include <cstddef>
#include <string>
#include <string_view>

namespace pell {

// Appends the hex rendering of `bytes` to `out` (the last byte's blank too).
// The value of a hex digit (either case), or -1 for any other character.
int HexDigitValue(char c);

void AppendHex(std::string& out, std::string_view bytes);
std::string FormatHex(std::string_view bytes);

enum class HexParse { Ok, InvalidCharacter, TooLong };

// Typed hex text to bytes: blanks are skipped anywhere, every byte is two
// hex digits (either case), high digit first; a single digit left at the
// end is dropped. Any other character is InvalidCharacter; a hex digit
// taken when `limit` bytes are already complete is TooLong. On anything but
// Ok `out` is left empty.
HexParse ParseHexText(std::string_view text, std::size_t limit, std::string& out);

// The longest start of GBK text `bytes` of at most `limit` bytes that does
// not end inside a double-byte character.
std::size_t GbkCut(std::string_view bytes, std::size_t limit);

} // namespace pell

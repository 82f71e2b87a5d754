#pragma once
// How a parameter's value text (GBK bytes, at most 99 of them) becomes the
// state of a page control and back. Every parameter of a page uses one of
// four rules; the Qt pages apply these functions at the widget boundary.
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pell {

enum class ValueRule {
    Text,   // edit boxes and free-text combo boxes: the text is the value
    Digit,  // combo boxes of at most ten items: item index = first byte - '0'
    Number, // longer combo boxes: item index = the leading decimal number
    Label,  // combo boxes showing a word for a coded value
};

// A value text ends at its first CR or LF: a value goes out as one command
// line, so a line break pasted into an edit must not start a second command.
std::string_view CutAtLineBreak(std::string_view text);

// ---- text rule ----
// The setter shows the value text as it is. The getter hands back the
// control's text up to its first line break, cut to the 99 bytes a value
// text can hold (at a character boundary: a double-byte character is kept
// whole or left out), so a longer edit compares equal to what the table
// stored from it and is not resent.
std::string TextRuleValue(std::string_view shownText);

// ---- digit rule ----
// The item index a value text selects: the code of its first byte minus the
// code of '0' (an empty text counts its terminating zero: -48). Only the
// first character counts: "1" and "15" both give 1.
int DigitRuleIndex(std::string_view value);
// The value text of the selected item: one character, '0' + index. No value
// when no item is selected (index < 0).
std::optional<std::string> DigitRuleValue(int selectedIndex);

// ---- number rule ----
// The item index a value text selects: the decimal number at its start
// (leading white space skipped, optional sign, stops at the first non-digit,
// 0 when there is no digit; clamped to the int range).
int NumberRuleIndex(std::string_view value);
// The value text of the selected item in decimal; no value when no item is
// selected (index < 0).
std::optional<std::string> NumberRuleValue(int selectedIndex);

// Whether an index names an item of a list of `count` items.
constexpr bool IsListIndex(int index, int count)
{
    return index >= 0 && index < count;
}

// ---- label rule ----
struct LabelChoice {
    std::string_view value; // the value text (its first byte when matched by first character)
    std::string_view label; // the word the combo box shows
};

enum class LabelMatch {
    FirstChar, // the value text's first byte picks the label
    WholeText, // the whole value text picks the label
};

struct LabelTable {
    std::span<const LabelChoice> choices;
    LabelMatch match = LabelMatch::FirstChar;
    // The label shown for a value text that picks no choice.
    std::string_view defaultLabel;
    // The value text for a shown text that is no label; nullopt: no value.
    std::optional<std::string_view> otherValue;
};

// The label the setter shows for a value text.
std::string_view LabelRuleLabel(const LabelTable& table, std::string_view value);
// The value text of a shown text, compared byte for byte with the labels.
// An empty box shows no label at all: no value, whatever the table says of
// other texts (the box's state before anything was shown in it).
std::optional<std::string> LabelRuleValue(const LabelTable& table, std::string_view shownText);

} // namespace pell

#include "pages/ValueRules.h"

#include "protocol/CommandTable.h"

#include <climits>
#include <cstdio>

namespace pell {

std::string_view CutAtLineBreak(std::string_view text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}

std::string TextRuleValue(std::string_view shownText)
{
    return std::string(CutToValueLength(CutAtLineBreak(shownText)));
}

int DigitRuleIndex(std::string_view value)
{
    const int first = value.empty() ? 0 : static_cast<unsigned char>(value.front());
    return first - '0';
}

std::optional<std::string> DigitRuleValue(int selectedIndex)
{
    // No item stands for a negative index; a digit rule list never holds
    // more than ten items, so index 0..9 gives one of the digits.
    if (selectedIndex < 0 || selectedIndex > 255 - '0')
        return std::nullopt;
    return std::string(1, static_cast<char>('0' + selectedIndex));
}

int NumberRuleIndex(std::string_view value)
{
    std::size_t i = 0;
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    while (i < value.size() && isSpace(value[i]))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    long long n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10 + (value[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            n = static_cast<long long>(INT_MAX) + 1; // keeps counting digits without overflow
    }
    if (negative)
        n = -n;
    if (n > INT_MAX)
        return INT_MAX;
    return static_cast<int>(n);
}

std::optional<std::string> NumberRuleValue(int selectedIndex)
{
    if (selectedIndex < 0)
        return std::nullopt;
    return std::to_string(selectedIndex);
}

namespace {

bool picks(const LabelTable& table, const LabelChoice& c, std::string_view value)
{
    if (table.match == LabelMatch::WholeText)
        return value == c.value;
    // By first character: an empty value text has only its terminating zero.
    const char first = value.empty() ? '\0' : value.front();
    return !c.value.empty() && c.value.front() == first;
}

} // namespace

std::string_view LabelRuleLabel(const LabelTable& table, std::string_view value)
{
    for (const auto& c : table.choices)
        if (picks(table, c, value))
            return c.label;
    return table.defaultLabel;
}

std::optional<std::string> LabelRuleValue(const LabelTable& table, std::string_view shownText)
{
    if (shownText.empty())
        return std::nullopt;
    for (const auto& c : table.choices)
        if (shownText == c.label)
            return std::string(c.value);
    if (table.otherValue)
        return std::string(*table.otherValue);
    return std::nullopt;
}

} // namespace pell

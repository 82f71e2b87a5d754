// The parameter pages' value rules on arbitrary value texts (as the
// controller or a configuration file delivers them) and on arbitrary picker
// texts of the clock section: every rule agrees with a plain model of it,
// what a control shows reads back to a value that shows the same, and the
// weekday of a picked date is the calendar's.
#include "fuzz/FuzzCheck.h"
#include "pages/BasicPageTexts.h"
#include "pages/ClockRequest.h"
#include "pages/ValueRules.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace pell;

// The leading decimal number of a text, clamped to the int range.
long long leadingNumber(std::string_view v)
{
    std::size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || (v[i] >= '\t' && v[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-'))
        negative = v[i++] == '-';
    long long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        n = std::min<long long>(n * 10 + (v[i] - '0'), 1LL << 40);
    n = negative ? -n : n;
    return std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, n));
}

void checkRules(std::string_view value)
{
    // A text value ends at its first line break and holds at most 99 bytes,
    // cut where no double-byte character (lead byte 0x81 to 0xFE and the
    // byte after it) is split.
    const std::string_view line = value.substr(0, value.find_first_of("\r\n"));
    std::size_t cut = line.size();
    if (cut > 99) {
        std::size_t at = 0;
        while (at < line.size()) {
            const auto b = static_cast<unsigned char>(line[at]);
            const std::size_t step = b >= 0x81 && b <= 0xFE && at + 1 < line.size() ? 2 : 1;
            if (at + step > 99)
                break;
            at += step;
        }
        cut = at;
    }
    FUZZ_CHECK(TextRuleValue(value) == line.substr(0, cut));
    FUZZ_CHECK(cut == line.size() || cut == 99 || cut == 98);

    const int digit = DigitRuleIndex(value);
    FUZZ_CHECK(digit == (value.empty() ? -'0' : static_cast<unsigned char>(value[0]) - '0'));
    if (digit >= 0) {
        const auto back = DigitRuleValue(digit);
        FUZZ_CHECK(back && back->size() == 1 && (*back)[0] == value[0]);
    } else {
        FUZZ_CHECK(!DigitRuleValue(digit));
    }

    const int number = NumberRuleIndex(value);
    FUZZ_CHECK(number == leadingNumber(value));
    if (number >= 0) {
        const auto back = NumberRuleValue(number);
        FUZZ_CHECK(back && NumberRuleIndex(*back) == number);
    } else {
        FUZZ_CHECK(!NumberRuleValue(number));
    }

    for (const LabelTable* table : {&basicpage::DebugLevelLabels(), &basicpage::OnOffLabels()}) {
        const std::string_view shown = LabelRuleLabel(*table, value);
        bool known = shown == table->defaultLabel;
        for (const LabelChoice& c : table->choices)
            known = known || shown == c.label;
        FUZZ_CHECK(known);
        // Shown, read back and shown again: the control shows the same.
        if (const auto read = LabelRuleValue(*table, shown))
            FUZZ_CHECK(LabelRuleLabel(*table, *read) == shown);
        // An empty box gives no value; a shown text that is no label reads
        // back as the table's other value.
        const auto typed = LabelRuleValue(*table, value);
        bool isLabel = false;
        for (const LabelChoice& c : table->choices)
            isLabel = isLabel || value == c.label;
        if (value.empty())
            FUZZ_CHECK(!typed.has_value());
        else if (!isLabel)
            FUZZ_CHECK(typed.has_value() == table->otherValue.has_value() &&
                       (!typed || *typed == *table->otherValue));
    }
}

void checkPickers(std::string_view date, std::string_view time)
{
    const CivilTime picked = ParsePickedDateTime(date, time);
    const std::optional<int> weekday = LocalWeekday(picked);
    if (!weekday)
        return;
    FUZZ_CHECK(*weekday >= 0 && *weekday <= 6);
    const bool plain = picked.month >= 1 && picked.month <= 12 && picked.day >= 1 &&
                       picked.day <= 28 && picked.hour >= 0 && picked.hour <= 23 &&
                       picked.minute >= 0 && picked.minute <= 59 && picked.second >= 0 &&
                       picked.second <= 59;
    if (plain)
        FUZZ_CHECK(*weekday == CivilWeekday(picked.year, picked.month, picked.day));
    const std::string request = ManualClockRequest(date, time, *weekday);
    FUZZ_CHECK(request.size() == date.size() + time.size() + 5);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkRules(input);
    // Two picker texts: the date up to the first LF, the time after it.
    const std::size_t cut = input.find('\n');
    if (cut == std::string_view::npos)
        checkPickers(input, {});
    else
        checkPickers(input.substr(0, cut), input.substr(cut + 1));
    return 0;
}

// The report parser on arbitrary text: the AT+SHOW report the controller
// prints and, in the same format, the lines of a configuration file. Every
// value it stores must be a value the parameter table can hold and the
// parser's line rules allow; and what the reading of a report says it held
// and lacked must agree with what the parser stored.
#include "config/ReportParser.h"
#include "fuzz/FuzzCheck.h"
#include "protocol/CommandTable.h"
#include "protocol/ParamTable.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace pell;
    ParamTable table;
    for (int id = 0; id < kEndRowId; ++id)
        table.Set(id, "#");

    // The parser must not read past the given length: hand it an exact copy.
    std::vector<char> text(data, data + size);
    const bool stored = ParseReportText(table, text.data(), text.size());
    const int handled = ReportReplyHandler(text.data(), static_cast<int>(text.size()), table);
    FUZZ_CHECK(handled == (stored ? 1 : 0));

    const std::string whole(text.begin(), text.end());
    bool changed = false;
    std::string value;
    for (int id = 0; id < kEndRowId; ++id) {
        if (!table.Get(id, value))
            continue;
        FUZZ_CHECK(value.size() <= static_cast<std::size_t>(kReportValueMax));
        if (value == "#")
            continue;
        changed = true;
        // A value ends at the first blank or CR and never spans lines.
        FUZZ_CHECK(value.find_first_of(std::string(" \r\n\0", 4)) == std::string::npos);
        // Its bytes stand in the input.
        if (!value.empty())
            FUZZ_CHECK(whole.find(value) != std::string::npos);
    }
    // Nothing changes without the parser saying so.
    FUZZ_CHECK(!changed || stored);

    // Held and missing split the configurable ids; a held id got a value.
    const ReportReading reading = ReadReport(text.data(), text.size());
    FUZZ_CHECK(reading.held.size() + reading.missing.size() == 145);
    for (int id : reading.held) {
        FUZZ_CHECK(table.Get(id, value));
        FUZZ_CHECK(value != "#" || whole.find('#') != std::string::npos);
    }
    for (const std::string& line : reading.unplaced)
        FUZZ_CHECK(!line.empty() && line.size() <= static_cast<std::size_t>(kReportLineMax));
    return 0;
}

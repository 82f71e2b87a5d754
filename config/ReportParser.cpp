#include "config/ReportParser.h"

#include "protocol/CommandTable.h"

#include <cstring>
#include <vector>
#include <string_view>

namespace pell {

namespace {

enum class LineKind { Value, NoValue, Unknown };

// One complete line (without its LF). The first row whose label begins the
// line decides, whether or not it yields a value.
LineKind placeLine(const char* line, int length, int& id, std::string_view& value)
{
    const int rows = ParamRowCount();
    for (int row = 0; row < rows; ++row) {
        id = ParamRowId(row);
        const char* label = ParamRowLabel(row);
        if (id == kEndRowId || label == nullptr || label[0] == '\0')
            continue;
        const int labelLength = static_cast<int>(std::strlen(label));
        if (labelLength > length || std::memcmp(line, label, static_cast<std::size_t>(labelLength)) != 0)
            continue;

        if (labelLength >= length)
            return LineKind::NoValue;
        int pos = labelLength;
        while (pos < length && line[pos] == ' ')
            ++pos;
        if (pos >= length)
            return LineKind::NoValue; // nothing after the blanks: the value runs off the line
        if (line[pos] == '.' || line[pos] == '\r') {
            value = std::string_view();
            return LineKind::Value;
        }
        int end = pos;
        while (end < length && line[end] != ' ' && line[end] != '\r')
            ++end;
        if (end >= length)
            return LineKind::NoValue; // no blank or CR behind the value inside the line
        value = CutToValueLength(std::string_view(line + pos, static_cast<std::size_t>(end - pos)),
                                 static_cast<std::size_t>(kReportValueMax));
        return LineKind::Value;
    }
    return LineKind::Unknown;
}

// Calls `take` with every complete line of the text (leading blanks, CR and
// LF skipped, judged on its first kReportLineMax bytes, without its LF).
template <typename Take>
void forEachLine(const char* text, std::size_t length, Take take)
{
    char line[kReportLineMax + 2];
    int lineLength = 0;
    bool inLine = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (!inLine) {
            if (c == ' ' || c == '\r' || c == '\n')
                continue;
            inLine = true;
            line[0] = c;
            lineLength = 1;
            continue;
        }
        if (c == '\n') {
            take(line, lineLength);
            inLine = false;
            continue;
        }
        if (lineLength < kReportLineMax)
            line[lineLength++] = c;
    }
}

} // namespace

bool ParseReportText(ParamTable& values, const char* text, std::size_t length)
{
    if (text == nullptr || length == 0)
        return false;
    bool stored = false;
    forEachLine(text, length, [&](const char* line, int lineLength) {
        int id = -1;
        std::string_view value;
        if (placeLine(line, lineLength, id, value) == LineKind::Value) {
            values.Set(id, value);
            stored = true;
        }
    });
    return stored;
}

ReportReading ReadReport(const char* text, std::size_t length, int firstId, int lastId)
{
    ReportReading reading;
    std::vector<bool> held(static_cast<std::size_t>(lastId - firstId + 1), false);
    bool inReport = false;
    if (text != nullptr) {
        forEachLine(text, length, [&](const char* line, int lineLength) {
            int id = -1;
            std::string_view value;
            const LineKind kind = placeLine(line, lineLength, id, value);
            if (kind != LineKind::Unknown) {
                inReport = true;
                if (kind == LineKind::Value && id >= firstId && id <= lastId)
                    held[static_cast<std::size_t>(id - firstId)] = true;
                return;
            }
            std::string_view rest(line, static_cast<std::size_t>(lineLength));
            while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' '))
                rest.remove_suffix(1);
            // Text before the report (an echoed command, noise, a greeting)
            // and the closing OK belong to the reply, not to the report.
            if (!inReport || rest == "OK")
                return;
            reading.unplaced.emplace_back(rest);
        });
    }
    for (int id = firstId; id <= lastId; ++id) {
        if (!HasParamRow(id))
            continue;
        (held[static_cast<std::size_t>(id - firstId)] ? reading.held : reading.missing).push_back(id);
    }
    return reading;
}

int ReportReplyHandler(const char* reply, int length, ParamTable& values)
{
    if (length <= 0)
        return 0;
    return ParseReportText(values, reply, static_cast<std::size_t>(length)) ? 1 : 0;
}

} // namespace pell

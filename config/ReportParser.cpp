#include "config/ReportParser.h"

#include "protocol/CommandTable.h"

#include <cstring>
#include <string_view>

namespace pell {

namespace {

// One complete line (without its LF). The first row whose label begins the
// line decides, whether or not it yields a value.
bool storeLine(const char* line, int length)
{
    const int rows = ParamRowCount();
    for (int row = 0; row < rows; ++row) {
        const int id = ParamRowId(row);
        const char* label = ParamRowLabel(row);
        if (id == kEndRowId || label == nullptr || label[0] == '\0')
            continue;
        const int labelLength = static_cast<int>(std::strlen(label));
        if (labelLength > length || std::memcmp(line, label, static_cast<std::size_t>(labelLength)) != 0)
            continue;

        if (labelLength >= length)
            return false;
        int pos = labelLength;
        while (pos < length && line[pos] == ' ')
            ++pos;
        if (pos >= length)
            return false; // nothing after the blanks: the value runs off the line
        if (line[pos] == '.' || line[pos] == '\r') {
            SetParamValue(id, std::string_view());
            return true;
        }
        int end = pos;
        while (end < length && line[end] != ' ' && line[end] != '\r')
            ++end;
        if (end >= length)
            return false; // no blank or CR behind the value inside the line
        int valueLength = end - pos;
        if (valueLength > kReportValueMax)
            valueLength = kReportValueMax;
        SetParamValue(id, std::string_view(line + pos, static_cast<std::size_t>(valueLength)));
        return true;
    }
    return false;
}

} // namespace

bool ParseReportText(const char* text, std::size_t length)
{
    if (text == nullptr || length == 0)
        return false;
    bool stored = false;
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
            if (storeLine(line, lineLength))
                stored = true;
            inLine = false;
            continue;
        }
        if (lineLength < kReportLineMax)
            line[lineLength++] = c;
    }
    return stored;
}

int ReportReplyHandler(const char* reply, int length)
{
    if (length <= 0)
        return 0;
    return ParseReportText(reply, static_cast<std::size_t>(length)) ? 1 : 0;
}

void InstallReportParser()
{
    SetReportHandler(&ReportReplyHandler);
}

} // namespace pell

#include "config/ConfigFile.h"

#include "common/FileIo.h"
#include "config/ReportParser.h"
#include "protocol/CommandTable.h"

#include <cstring>
#include <string_view>

namespace pell {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

} // namespace

std::size_t FormatConfigText(const ParamTable& values, char* buffer)
{
    return FormatConfigText(values, buffer, {});
}

std::size_t FormatConfigText(const ParamTable& values, char* buffer, const std::function<bool(int id)>& include)
{
    std::size_t length = 0;
    std::string value;
    for (int row = 0; row < ParamRowCount(); ++row) {
        const int id = ParamRowId(row);
        if (id == kEndRowId || (include && !include(id)))
            continue;
        const char* label = ParamRowLabel(row);
        values.Get(id, value);
        // A reply may have left line breaks in a value (the records row
        // holds the end of the last batch): one line per row.
        const std::size_t cut = value.find_first_of("\r\n");
        if (cut != std::string::npos)
            value.resize(cut);
        const std::size_t labelLength = std::strlen(label);
        const std::size_t lineLength = labelLength + 2 + value.size() + 2;
        if (length + lineLength + 1 >= kConfigTextBufferSize)
            break;
        char* p = buffer + length;
        std::memcpy(p, label, labelLength);
        p += labelLength;
        std::memcpy(p, "  ", 2);
        p += 2;
        std::memcpy(p, value.data(), value.size());
        p += value.size();
        std::memcpy(p, "\r\n", 2);
        length += lineLength;
    }
    buffer[length] = '\0';
    return length;
}

std::string FormatConfigText(const ParamTable& values, const std::function<bool(int id)>& include)
{
    std::string buffer(kConfigTextBufferSize, '\0');
    buffer.resize(FormatConfigText(values, buffer.data(), include));
    return buffer;
}

bool ParseConfigText(ParamTable& values, const char* text, std::size_t length)
{
    if (text == nullptr)
        return false;
    const std::size_t bom = sizeof kUtf8Bom - 1;
    if (length >= bom && std::memcmp(text, kUtf8Bom, bom) == 0) {
        text += bom;
        length -= bom;
    }
    return ParseReportText(values, text, length);
}

} // namespace pell

namespace pell {

ConfigFileRead ReadConfigFile(const std::string& path, std::string& bytes, std::string* error)
{
    switch (ReadWholeFile(path, bytes, error, kConfigTextMax)) {
    case FileRead::Done:
        return ConfigFileSizeAccepted(bytes.size()) ? ConfigFileRead::Read : ConfigFileRead::Refused;
    case FileRead::TooLarge:
        return ConfigFileRead::Refused;
    case FileRead::Failed:
        break;
    }
    return ConfigFileRead::Failed;
}

} // namespace pell

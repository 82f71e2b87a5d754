#include "cli/ConfigFileIo.h"

#include "config/ConfigFile.h"
#include "protocol/CommandTable.h"
#include "protocol/ParamTable.h"

#include <string_view>
#include <vector>

namespace pell::cli {

namespace {

// Every row's value, in table order.
std::vector<std::string> snapshot(const ParamTable& table)
{
    std::vector<std::string> values;
    for (int row = 0; row < ParamRowCount(); ++row) {
        std::string v;
        table.Get(ParamRowId(row), v);
        values.push_back(std::move(v));
    }
    return values;
}

void fill(ParamTable& table, std::string_view marker)
{
    for (int row = 0; row < ParamRowCount(); ++row)
        table.Set(ParamRowId(row), marker);
}

} // namespace

bool ReadConfigFileValues(const std::string& path, std::string& bytes, FileValues& values, std::string& why)
{
    values.clear();
    std::string error;
    switch (ReadConfigFile(path, bytes, &error)) {
    case ConfigFileRead::Read:
        break;
    case ConfigFileRead::Refused:
        why = path + ": a configuration file holds 1 to " + std::to_string(kConfigTextMax) + " bytes";
        return false;
    case ConfigFileRead::Failed:
        why = error;
        return false;
    }
    // The parser writes into a table of values, here one of this reading's
    // own. Parsed once over a table of one marker and once over another, a
    // row the file names holds the same value both times, a row it does not
    // name keeps each marker.
    static constexpr std::string_view kMarkers[2] = {"\x01unnamed\x01", "\x02unnamed\x02"};
    std::vector<std::string> seen[2];
    for (int pass = 0; pass < 2; ++pass) {
        ParamTable table;
        fill(table, kMarkers[pass]);
        ParseConfigText(table, bytes.data(), bytes.size());
        seen[pass] = snapshot(table);
    }
    for (int row = 0; row < ParamRowCount(); ++row) {
        const auto r = static_cast<std::size_t>(row);
        if (seen[0][r] == seen[1][r] && ParamRowId(row) != kEndRowId)
            values[ParamRowId(row)] = seen[0][r];
    }
    if (values.empty()) {
        why = path + ": no line names a parameter (\"label  value\" with CR LF)";
        return false;
    }
    return true;
}

} // namespace pell::cli

#pragma once
// The tool's working copy of the controller's parameter values: one value
// text per row of the parameter table (CommandTable.h), keyed by id. The
// command engine owns one; what the report and the configuration files
// read goes into it, and the commands it sends take their values from it.
//
// A table is shared by the configuration worker and the interface thread;
// every access is locked, so each call sees a whole value.
#include "protocol/CommandTable.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pell {

class ParamTable {
public:
    ParamTable() = default;
    ParamTable(const ParamTable&) = delete;
    ParamTable& operator=(const ParamTable&) = delete;

    // The current value text of the id. False, with `value` emptied, when
    // the id has no parameter row; an empty value is a value (true).
    bool Get(int id, std::string& value) const;
    std::optional<std::string> Get(int id) const;
    // Stores the text as the value of the id, cut to at most 99 bytes at a
    // character boundary (CutToValueLength), and at a zero byte, since
    // values are zero-terminated texts. Ids without a parameter row, and
    // the end row, keep nothing.
    void Set(int id, std::string_view text);

private:
    mutable std::mutex mutex_;
    char values_[kParamRowCount][kParamValueMax + 1] = {};
};

} // namespace pell

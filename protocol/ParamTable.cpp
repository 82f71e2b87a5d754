#include "protocol/ParamTable.h"

#include <cstring>

namespace pell {

bool ParamTable::Get(int id, std::string& value) const
{
    const int row = FindParamRow(id);
    if (row < 0) {
        value.clear();
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    value.assign(values_[row]);
    return true;
}

std::optional<std::string> ParamTable::Get(int id) const
{
    std::string value;
    if (!Get(id, value))
        return std::nullopt;
    return value;
}

void ParamTable::Set(int id, std::string_view text)
{
    const int row = FindParamRow(id);
    // The end row marks the end of the table and the files; it stays empty.
    if (row < 0 || id == kEndRowId)
        return;
    std::size_t n = CutToValueLength(text).size();
    // A value is a zero-terminated text: whatever follows a zero byte would
    // never be sent or written, so it is not kept either.
    if (n > 0) {
        if (const void* zero = std::memchr(text.data(), '\0', n))
            n = static_cast<std::size_t>(static_cast<const char*>(zero) - text.data());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (n > 0)
        std::memcpy(values_[row], text.data(), n);
    values_[row][n] = '\0';
}

} // namespace pell

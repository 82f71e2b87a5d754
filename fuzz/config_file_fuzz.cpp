// The configuration file reader on arbitrary bytes (with or without a
// byte-order mark): whatever it stores, the file written from the table
// afterwards has its 155 lines and reads back to the very same table.
#include "config/ConfigFile.h"
#include "fuzz/FuzzCheck.h"
#include "protocol/CommandTable.h"
#include "protocol/ParamTable.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace pell;
    ParamTable table;
    for (int id = 0; id < kEndRowId; ++id)
        table.Set(id, "#");

    // An exact copy: the reader must not look past the given length.
    std::vector<char> bytes(data, data + size);
    ParseConfigText(table, bytes.data(), bytes.size());

    const std::string text = FormatConfigText(table);
    FUZZ_CHECK(text.size() < kConfigTextBufferSize);
    std::size_t lines = 0;
    for (std::size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2)
        ++lines;
    FUZZ_CHECK(lines == 155);
    FUZZ_CHECK(text.find('\n') == text.find("\r\n") + 1);

    std::vector<std::string> before;
    std::string value;
    for (int id = 0; id < kEndRowId; ++id) {
        table.Get(id, value);
        before.push_back(value);
        table.Set(id, "#");
    }
    ParseConfigText(table, text.data(), text.size());
    for (int id = 0; id < kEndRowId; ++id) {
        table.Get(id, value);
        FUZZ_CHECK(value == before[static_cast<std::size_t>(id)] || !HasParamRow(id));
    }
    return 0;
}

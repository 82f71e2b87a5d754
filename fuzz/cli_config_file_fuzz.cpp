// halden's configuration file reader on arbitrary file contents: it reads
// the file from the disk as halden does and must accept exactly the lengths
// the window accepts, and report the very values the file parser stores for
// the rows the file names (and only those).
#include "cli/ConfigFileIo.h"
#include "config/ConfigFile.h"
#include "fuzz/FuzzCheck.h"
#include "protocol/CommandTable.h"
#include "protocol/ParamTable.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace pell;

// One file for every input, rewritten each time.
const std::string& scratchFile(int& fd)
{
    static std::string path;
    static int file = -1;
    if (file < 0) {
        char pattern[] = "/tmp/pell-fuzz-cfg-XXXXXX";
        file = ::mkstemp(pattern);
        FUZZ_CHECK(file >= 0);
        path = pattern;
        std::atexit([] { ::unlink(path.c_str()); });
    }
    fd = file;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    int fd = -1;
    const std::string& path = scratchFile(fd);
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    std::string bytes, why;
    cli::FileValues values;
    const bool ok = cli::ReadConfigFileValues(path, bytes, values, why);
    FUZZ_CHECK(ok == !values.empty());
    if (!ConfigFileSizeAccepted(size)) {
        FUZZ_CHECK(!ok);
        return 0;
    }
    FUZZ_CHECK(bytes == std::string(reinterpret_cast<const char*>(data), size));
    if (!ok) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }

    // The parser on its own, over a table of a third marker: the rows named
    // hold the values reported, the others the marker.
    ParamTable table;
    for (int row = 0; row < ParamRowCount(); ++row)
        table.Set(ParamRowId(row), "\x03unnamed\x03");
    ParseConfigText(table, bytes.data(), bytes.size());
    for (int row = 0; row < ParamRowCount(); ++row) {
        const int id = ParamRowId(row);
        std::string v;
        table.Get(id, v);
        const auto named = values.find(id);
        if (named != values.end())
            FUZZ_CHECK(v == named->second);
        else
            FUZZ_CHECK(v == "\x03unnamed\x03" || id == kEndRowId);
    }
    FUZZ_CHECK(values.count(kEndRowId) == 0);
    return 0;
}

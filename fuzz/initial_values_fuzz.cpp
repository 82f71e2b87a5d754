// The answer of an initial-value read (a counter's or a serial meter's
// "?"), on arbitrary replies: what the value edit shows must be a part of
// the reply, after the prefix when there is one, and hold no "OK".
#include "config/DeviceJobs.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string reply(reinterpret_cast<const char*>(data), size);
    for (const char* prefix : {"CNTRVAL01:", "COMVAL04:"}) {
        const std::string shown = pell::InitialValueAnswer(reply, prefix);
        FUZZ_CHECK(shown.size() <= reply.size());
        FUZZ_CHECK(reply.find(shown) != std::string::npos);
        const std::size_t at = reply.find(prefix);
        if (at != std::string::npos)
            FUZZ_CHECK(reply.compare(at + std::string(prefix).size(), shown.size(), shown) == 0);
        else
            FUZZ_CHECK(reply.compare(0, shown.size(), shown) == 0);
        FUZZ_CHECK(shown.find("OK") == std::string::npos);
    }
    return 0;
}

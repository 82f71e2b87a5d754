// halden's command line and its terminal texts on arbitrary bytes: the
// arguments (split at NUL bytes) are parsed, accepted ones must be
// consistent, and every text survives the way to the terminal and back.
#include "cli/CliArgs.h"
#include "cli/CliText.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace pell::cli;
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= input.size(); ++at) {
        if (at == input.size() || input[at] == '\0') {
            args.push_back(input.substr(start, at - start));
            start = at + 1;
        }
    }
    const ParsedArgs parsed = ParseArgs(args);
    if (parsed.ok) {
        FUZZ_CHECK(parsed.error.empty());
        FUZZ_CHECK(parsed.options.help || parsed.options.verb != Verb::None);
        FUZZ_CHECK(parsed.options.baud >= 50);
    } else {
        FUZZ_CHECK(!parsed.error.empty());
    }
    (void)HelpText(parsed.options.verb);

    // Any bytes from the controller reach the terminal as UTF-8 that code
    // page 936 carries back.
    const std::string shown = GbkToUtf8(input);
    std::string back;
    FUZZ_CHECK(Utf8ToGbk(shown, back));
    std::string gbk;
    if (Utf8ToGbk(input, gbk)) {
        FUZZ_CHECK(gbk.empty() == input.empty());
        FUZZ_CHECK(pell::Utf8ToGbkLossy(input) == gbk);
    }
    // A shown text is never longer than twice the input (at most two GBK
    // bytes for every UTF-8 character, one '?' for every byte otherwise).
    const std::string lossy = pell::Utf8ToGbkLossy(input);
    FUZZ_CHECK(lossy.size() <= 2 * input.size());
    const std::string json = JsonString(shown);
    FUZZ_CHECK(json.size() >= 2 && json.front() == '"' && json.back() == '"');
    return 0;
}

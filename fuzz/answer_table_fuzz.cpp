// The answer-table loader on arbitrary CSV text, and matching against it:
// never more than 200 rows of 8 fields, requests trimmed and upper-cased,
// problems named by a line that exists, and an answer for a matching chunk
// that differs from its row's answer only in the two digits of named bytes.
#include "debug/AnswerTable.h"
#include "debug/HexText.h"
#include "fuzz/FuzzCheck.h"

#include <atomic>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace pell;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    AnswerTable t;
    const auto problems = t.Load(text);
    FUZZ_CHECK(t.UsedRows() <= AnswerTable::kRows);
    for (const auto& p : problems)
        FUZZ_CHECK(p.line >= 1 && p.line <= AnswerTable::kRows && !p.reason.empty());

    std::atomic<uint8_t> counter{static_cast<uint8_t>(size)};
    for (int i = 0; i < AnswerTable::kRows; ++i) {
        const std::string& request = t.row(i)[0];
        if (request.empty())
            continue;
        for (char c : request)
            FUZZ_CHECK(!(c >= 'a' && c <= 'z'));
        FUZZ_CHECK(!std::isspace(static_cast<unsigned char>(request.front())));
        FUZZ_CHECK(!std::isspace(static_cast<unsigned char>(request.back())));
        // The rendering the request stands for (when it is one) is answered.
        std::string bytes;
        if (ParseHexText(request, 5120, bytes) != HexParse::Ok || FormatHex(bytes).substr(0, request.size()) != request)
            continue;
        const uint8_t before = counter.load();
        const auto answer = FindAnswer(t, FormatHex(bytes), counter);
        FUZZ_CHECK(answer.has_value());
        FUZZ_CHECK(counter.load() == static_cast<uint8_t>(before + 1));
        // Some row at or before this one gave it; same length as that row's answer.
        bool fromARow = false;
        for (int j = 0; j <= i && !fromARow; ++j)
            fromARow = t.row(j)[1].size() == answer->size();
        FUZZ_CHECK(fromARow);
        break;
    }
    return 0;
}

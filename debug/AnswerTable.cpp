#include "debug/AnswerTable.h"

#include "common/FileIo.h"
#include "debug/HexText.h"
#include "debug/TerminalTexts.h"

#include <cstdio>

namespace pell {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// The byte index of a pair: a whole number, blanks around it allowed.
// Nothing when the field is not one (or absurdly large).
std::optional<std::size_t> byteIndex(std::string_view field)
{
    field = trim(field);
    if (field.empty() || field.size() > 9)
        return std::nullopt;
    std::size_t n = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    return n;
}

// A request is a hex rendering: pairs of hex digits with one blank between.
bool isRendering(std::string_view r)
{
    for (std::size_t i = 0; i < r.size(); ++i) {
        const bool blank = i % 3 == 2;
        if (blank ? r[i] != ' ' : HexDigitValue(r[i]) < 0)
            return false;
    }
    return r.size() % 3 == 2;
}

std::string rowText(int line, const char* reason)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, terminaltext::kRowPrefix, line);
    return std::string(prefix) + reason;
}

} // namespace

uint8_t MultiplierByte(std::string_view field)
{
    std::size_t i = 0;
    while (i < field.size() && isSpace(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        negative = field[i++] == '-';
    unsigned value = 0; // modulo 256 as the digits come, so no overflow
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        value = (value * 10 + static_cast<unsigned>(field[i] - '0')) & 0xFF;
    return static_cast<uint8_t>(negative ? (256 - value) & 0xFF : value);
}

bool ReadAnswerFile(const std::string& path, std::string& bytes, std::string& error)
{
    error.clear();
    return ReadFileStart(path, bytes, &error, AnswerTable::kMaxFileBytes) == FileRead::Done;
}

std::vector<std::string> SplitAnswerLine(std::string_view rest)
{
    std::vector<std::string> fields;
    for (;;) {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos || comma == 0)
            break;
        if (fields.size() < AnswerTable::kFields)
            fields.emplace_back(rest.substr(0, comma));
        rest.remove_prefix(comma + 1);
    }
    if (fields.size() < AnswerTable::kFields)
        fields.emplace_back(rest);
    return fields;
}

std::vector<AnswerProblem> AnswerTable::Load(std::string_view text)
{
    rows_.assign(kRows, Row{});
    used_ = 0;
    longest_ = 0;
    std::vector<AnswerProblem> problems;
    if (text.size() > kMaxFileBytes)
        text = text.substr(0, kMaxFileBytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    for (int k = 0; k < kRows && !text.empty(); ++k) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        const std::vector<std::string> fields = SplitAnswerLine(line);
        Row& row = rows_[static_cast<std::size_t>(k)];
        for (std::size_t f = 0; f < fields.size(); ++f)
            row[f] = fields[f];
        std::string request(trim(row[0]));
        for (char& c : request)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        row[0] = request;
        if (request.empty())
            continue;
        ++used_;
        longest_ = std::max(longest_, request.size());

        // Each row's problems, reported once at load instead of on every
        // received chunk that matches it.
        const int lineNo = k + 1;
        if (!isRendering(request))
            problems.push_back({lineNo, rowText(lineNo, terminaltext::kBadRequest)});
        std::string bytes;
        const HexParse parsed = ParseHexText(row[1], 5120, bytes);
        if (parsed == HexParse::InvalidCharacter)
            problems.push_back({lineNo, rowText(lineNo, terminaltext::kBadAnswerHex)});
        else if (parsed == HexParse::TooLong)
            problems.push_back({lineNo, rowText(lineNo, terminaltext::kAnswerTooLong)});
        for (int pair = 0; pair < 3; ++pair) {
            const std::string& index = row[static_cast<std::size_t>(2 + pair * 2)];
            // Spreadsheets fill rows with empty trailing fields: a field of
            // commas and blanks only is not a pair.
            if (index.find_first_not_of(", \t") == std::string::npos)
                continue;
            const auto at = byteIndex(index);
            const std::size_t pos = at ? *at * 3 : 0;
            if (!at || pos + 1 >= row[1].size() || HexDigitValue(row[1][pos]) < 0 ||
                HexDigitValue(row[1][pos + 1]) < 0) {
                char reason[128];
                std::snprintf(reason, sizeof reason, terminaltext::kBadPair, pair + 1);
                problems.push_back({lineNo, rowText(lineNo, reason)});
            }
        }
    }
    return problems;
}

std::optional<std::string> AnswerTable::Match(std::string_view rendering, uint8_t counter) const
{
    rendering = trim(rendering);
    for (const Row& row : rows_) {
        const std::string& request = row[0];
        if (request.empty() || rendering.substr(0, request.size()) != request)
            continue;
        std::string answer = row[1];
        for (int pair = 0; pair < 3; ++pair) {
            const std::string& index = row[static_cast<std::size_t>(2 + pair * 2)];
            if (index.empty())
                continue;
            const auto at = byteIndex(index);
            if (!at)
                continue;
            const std::size_t pos = *at * 3;
            if (pos + 1 >= answer.size())
                continue;
            const int hi = HexDigitValue(answer[pos]);
            const int lo = HexDigitValue(answer[pos + 1]);
            if (hi < 0 || lo < 0)
                continue;
            const unsigned multiplier = MultiplierByte(row[static_cast<std::size_t>(3 + pair * 2)]);
            const unsigned value = (static_cast<unsigned>(hi * 16 + lo) + multiplier * counter) & 0xFF;
            answer[pos] = "0123456789ABCDEF"[value >> 4];
            answer[pos + 1] = "0123456789ABCDEF"[value & 0x0F];
        }
        return answer;
    }
    return std::nullopt;
}

std::optional<std::string> FindAnswer(const AnswerTable& table, std::string_view rendering,
                                      std::atomic<uint8_t>& counter)
{
    auto answer = table.Match(rendering, counter.load());
    if (answer)
        counter.fetch_add(1);
    return answer;
}

} // namespace pell

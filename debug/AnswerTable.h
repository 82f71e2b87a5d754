#pragma once
// The automatic-answer table: up to 200 rows of 8 fields loaded from a CSV
// file (request, answer, then three pairs of byte index and multiplier).
// A received chunk whose hex rendering begins with a row's request is
// answered with that row's answer, in which the named bytes advance by
// multiplier x the number of answers given so far (modulo 256).
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pell {

struct AnswerProblem {
    int line = 0;       // line of the file, from 1
    std::string reason; // GBK text
};

class AnswerTable {
public:
    static constexpr int kRows = 200;
    static constexpr int kFields = 8;
    // Files are read up to this size; rows beyond 200 are not stored anyway.
    static constexpr std::size_t kMaxFileBytes = 4u << 20;

    using Row = std::array<std::string, kFields>;

    // Replaces the table with the rows of a CSV text. A leading UTF-8
    // byte-order mark and the CR of CR LF line ends are removed; requests
    // are trimmed and upper-cased. Returns what is wrong with the rows (bad
    // request, answer not sendable in hex, byte positions outside the
    // answer), each row's problems once.
    std::vector<AnswerProblem> Load(std::string_view text);

    const Row& row(int i) const { return rows_[static_cast<std::size_t>(i)]; }
    // Rows with a request (a table that can answer anything).
    int UsedRows() const { return used_; }
    // The longest request, in characters of the hex rendering.
    std::size_t LongestRequest() const { return longest_; }

    // The answer for the hex rendering of one received chunk, with its bytes
    // advanced by `counter`; nothing when no row matches.
    std::optional<std::string> Match(std::string_view rendering, uint8_t counter) const;

private:
    std::vector<Row> rows_ = std::vector<Row>(kRows);
    int used_ = 0;
    std::size_t longest_ = 0;
};

// Reads an answer table file the user chose: its first kMaxFileBytes, from
// a regular file only (a named pipe, a device or a folder is refused at
// once). False with `error` ("<path>: <reason>") when it cannot be read.
bool ReadAnswerFile(const std::string& path, std::string& bytes, std::string& error);

// Splits one line into at most 8 fields: at every comma that is not the
// first character of what is left; a comma at the start of the rest ends
// the splitting, so "A,,B" gives "A" and ",B". No quoting.
std::vector<std::string> SplitAnswerLine(std::string_view line);

// Finds the answer and, when there is one, advances the counter (modulo 256).
std::optional<std::string> FindAnswer(const AnswerTable& table, std::string_view rendering,
                                      std::atomic<uint8_t>& counter);

// The whole number at the start of a field modulo 256, as an unsigned byte
// (-1 gives 255); 0 when the field holds no number.
uint8_t MultiplierByte(std::string_view field);

} // namespace pell

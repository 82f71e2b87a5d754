// The reader of the controller's record batches and the CSV file made from
// what it read, on arbitrary reply text. Every record line it takes stands
// in the input, no row has more than the list's columns, and the CSV has
// one line per line of the record text, each with as many fields as the
// record had (quoted fields counted whole).
#include "fuzz/FuzzCheck.h"
#include "pages/HistoryRecords.h"

#include <cstdint>
#include <string>

namespace {

// Fields of one CSV line, honouring quotes.
std::size_t csvFields(const std::string& line)
{
    std::size_t fields = 1;
    bool quoted = false;
    for (char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            ++fields;
    }
    FUZZ_CHECK(!quoted);
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace pell;
    const std::string text(reinterpret_cast<const char*>(data), size);

    HistoryRecords records;
    FUZZ_CHECK(records.StartQuery("2026/1/4", "2026/1/5"));
    const RecordBatch batch = records.ParseRecords(text);
    FUZZ_CHECK(batch.result >= -1 && batch.result <= 1);
    FUZZ_CHECK(records.RecordCount() == batch.rows.size());
    for (const RecordRow& row : batch.rows) {
        FUZZ_CHECK(!row.empty() && row.size() <= static_cast<std::size_t>(kRecordColumns));
        for (const std::string& cell : row)
            FUZZ_CHECK(cell.find("\r\n") == std::string::npos && cell.find(';') == std::string::npos);
    }
    // Whole lines only, taken from the input in order.
    const std::string recordText = records.RecordText();
    const std::string header = recordtext::kHeader;
    FUZZ_CHECK(recordText.compare(0, header.size(), header) == 0);
    std::size_t from = 0;
    std::size_t at = header.size();
    while (at < recordText.size()) {
        const std::size_t end = recordText.find("\r\n", at);
        FUZZ_CHECK(end != std::string::npos);
        const std::string line = "Record:" + recordText.substr(at, end - at) + "\r\n";
        const std::size_t found = text.find(line, from);
        FUZZ_CHECK(found != std::string::npos);
        from = found + line.size();
        at = end + 2;
    }

    // The CSV: as many lines, as many fields per line, no ';' outside quotes.
    const std::string csv = RecordCsv(recordText);
    std::size_t recordAt = 0;
    std::size_t csvAt = 0;
    while (recordAt < recordText.size()) {
        const std::size_t recordEnd = recordText.find("\r\n", recordAt);
        const std::string recordLine = recordText.substr(recordAt, recordEnd - recordAt);
        // A quoted field may hold CR or LF, so the CSV line ends at the
        // first CR LF outside quotes.
        std::size_t csvEnd = csvAt;
        bool quoted = false;
        for (; csvEnd + 1 < csv.size(); ++csvEnd) {
            if (csv[csvEnd] == '"')
                quoted = !quoted;
            else if (!quoted && csv[csvEnd] == '\r' && csv[csvEnd + 1] == '\n')
                break;
        }
        FUZZ_CHECK(csvEnd + 1 < csv.size());
        const std::string csvLine = csv.substr(csvAt, csvEnd - csvAt);
        std::size_t semis = 0;
        for (char c : recordLine)
            semis += c == ';';
        FUZZ_CHECK(csvFields(csvLine) == semis + 1);
        recordAt = recordEnd + 2;
        csvAt = csvEnd + 2;
    }
    FUZZ_CHECK(csvAt == csv.size());

    // Completion is a question of the reply's end only.
    (void)RecordReplyComplete(text, true);
    (void)RecordReplyComplete(text, false);
    return 0;
}

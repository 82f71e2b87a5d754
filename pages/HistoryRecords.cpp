#include "pages/HistoryRecords.h"

#include "common/FileIo.h"
#include "common/GbkText.h"

#include <cstring>

namespace pell {

namespace {

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A field as the CSV file carries it: ',' becomes a blank; a field with a
// quote or a line break is quoted, its quotes doubled.
void appendCsvField(std::string& out, std::string_view field)
{
    const bool quoted = field.find_first_of("\"\r\n") != std::string_view::npos;
    if (quoted)
        out.push_back('"');
    for (char c : field) {
        if (c == ',')
            out.push_back(' ');
        else if (c == '"')
            out.append("\"\"");
        else
            out.push_back(c);
    }
    if (quoted)
        out.push_back('"');
}

} // namespace

std::string RecordQueryText(std::string_view startDate, std::string_view endDate)
{
    std::string text = ";";
    text.append(startDate);
    text.append(",0:0:0;");
    text.append(endDate);
    text.append(",23:55:55");
    return text;
}

bool RecordReplyComplete(std::string_view reply, bool firstCommand)
{
    if (firstCommand) {
        // The leading OK only opens the reply.
        if (reply.size() <= kRecordsEnd.size())
            return false;
        reply.remove_prefix(kRecordsEnd.size());
    }
    return endsWith(reply, kRecordsLeave) || endsWith(reply, kRecordsEnd);
}

std::string RecordCsv(std::string_view recordText)
{
    std::string out;
    out.reserve(recordText.size() + recordText.size() / 8);
    while (!recordText.empty()) {
        std::size_t end = recordText.find("\r\n");
        const std::string_view line = recordText.substr(0, end);
        std::size_t from = 0;
        for (;;) {
            const std::size_t semi = line.find(';', from);
            appendCsvField(out, line.substr(from, semi == std::string_view::npos ? semi : semi - from));
            if (semi == std::string_view::npos)
                break;
            out.push_back(',');
            from = semi + 1;
        }
        if (end == std::string_view::npos)
            break; // the record text always ends its lines; nothing is added
        out.append("\r\n");
        recordText.remove_prefix(end + 2);
    }
    return out;
}

bool WriteRecordCsvFile(const std::string& path, std::string_view bytes, std::string& reason)
{
    // The core's replace-or-keep write; the reason without the path.
    reason.clear();
    std::string error;
    if (WriteFileAtomically(path, bytes, &error))
        return true;
    const std::string prefix = path + ": ";
    reason = error.compare(0, prefix.size(), prefix) == 0 ? error.substr(prefix.size()) : error;
    return false;
}

HistoryRecords::HistoryRecords() = default;

HistoryRecords::~HistoryRecords() = default;

bool HistoryRecords::StartQuery(std::string_view startDate, std::string_view endDate,
                                const std::string& exportPath, const std::string& shownPath)
{
    if (QueryRunning())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_);
        recordText_ = recordtext::kHeader;
        count_ = 0;
        // Before the request: a query that ends at once still finds its path.
        exportPath_ = exportPath;
        shownPath_ = shownPath.empty() ? exportPath : shownPath;
    }
    request.Set(RecordQueryText(startDate, endDate));
    return true;
}

bool HistoryRecords::HasRecordText() const
{
    std::lock_guard<std::mutex> lock(m_);
    return !recordText_.empty();
}

std::string HistoryRecords::RecordText() const
{
    std::lock_guard<std::mutex> lock(m_);
    return recordText_;
}

std::size_t HistoryRecords::RecordCount() const
{
    std::lock_guard<std::mutex> lock(m_);
    return count_;
}

std::string HistoryRecords::ExportPath() const
{
    std::lock_guard<std::mutex> lock(m_);
    return exportPath_;
}

RecordBatch HistoryRecords::ParseRecords(std::string_view text)
{
    RecordBatch batch;
    std::string lines;
    for (;;) {
        if (text.substr(0, kRecordPrefix.size()) == kRecordPrefix) {
            const std::size_t end = text.find("\r\n");
            if (end == std::string_view::npos) {
                batch.result = 0; // cut off: asks for the next batch
                break;
            }
            const std::string_view line = text.substr(kRecordPrefix.size(), end - kRecordPrefix.size());
            lines.append(line);
            lines.append("\r\n");
            RecordRow row;
            std::size_t from = 0;
            for (;;) {
                const std::size_t semi = line.find(';', from);
                if (row.size() < static_cast<std::size_t>(kRecordColumns))
                    row.emplace_back(line.substr(from, semi == std::string_view::npos ? semi : semi - from));
                if (semi == std::string_view::npos)
                    break;
                from = semi + 1;
            }
            batch.rows.push_back(std::move(row));
            text.remove_prefix(end + 2);
            continue;
        }
        if (text.substr(0, kRecordsLeave.size()) == kRecordsLeave)
            batch.result = 0;
        else if (text.substr(0, kRecordsEnd.size()) == kRecordsEnd)
            batch.result = 1;
        else
            batch.result = -1;
        break;
    }
    std::lock_guard<std::mutex> lock(m_);
    recordText_.append(lines);
    count_ += batch.rows.size();
    return batch;
}

bool HistoryRecords::WriteRecordFile(const std::string& path, const std::string& shownPath,
                                     std::string& message) const
{
    message.clear();
    std::string reason;
    if (WriteRecordCsvFile(path, RecordCsv(RecordText()), reason))
        return true;
    message = recordtext::kSaveFailed;
    message += shownPath.empty() ? path : shownPath;
    message += "\r\n";
    message += Utf8ToGbkLossy(reason); // the system's words (UTF-8 on Windows)
    return false;
}

bool HistoryRecords::WriteExport(std::string& message) const
{
    std::string path, shown;
    {
        std::lock_guard<std::mutex> lock(m_);
        path = exportPath_;
        shown = shownPath_;
    }
    message.clear();
    if (path.empty())
        return true;
    return WriteRecordFile(path, shown, message);
}

void HistoryRecords::SetListeners(RowsListener rows, std::function<void()> ended)
{
    {
        std::lock_guard<std::mutex> lock(m_);
        rowsListener_ = std::move(rows);
    }
    request.SetEmptiedHook(std::move(ended));
}

void HistoryRecords::TellRows(std::vector<RecordRow> rows, std::size_t total) const
{
    std::lock_guard<std::mutex> lock(m_);
    if (rowsListener_)
        rowsListener_(std::move(rows), total);
}

} // namespace pell

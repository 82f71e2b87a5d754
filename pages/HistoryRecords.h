#pragma once
// The history records page without its window: the query request, the
// record text that a query builds, the reader of the controller's record
// batches and the CSV export. The page's window (CPellCfgRcdDlg) owns one;
// the configuration worker's job 13 reads the batches into it.
//
// The record text (the CSV header line, then one line per record with its
// fields separated by ';') and the export path are shared between the
// interface thread and the worker under the object's lock. A query is
// running from the moment the page sets its request until the worker has
// emptied it again (the job ended, or the request was refused): meanwhile
// no second query and no save starts.
#include "pages/RequestText.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace pell {

namespace recordtext {
// The CSV header line, 78 bytes of GBK:
// "序号;卡ID;当前用水量;当前用电量;取水时长;取水单价;剩余水量;剩余金额;起始日期\r\n"
inline constexpr char kHeader[] =
    "\xD0\xF2\xBA\xC5;\xBF\xA8ID;\xB5\xB1\xC7\xB0\xD3\xC3\xCB\xAE\xC1\xBF;"
    "\xB5\xB1\xC7\xB0\xD3\xC3\xB5\xE7\xC1\xBF;\xC8\xA1\xCB\xAE\xCA\xB1\xB3\xA4;"
    "\xC8\xA1\xCB\xAE\xB5\xA5\xBC\xDB;\xCA\xA3\xD3\xE0\xCB\xAE\xC1\xBF;"
    "\xCA\xA3\xD3\xE0\xBD\xF0\xB6\xEE;\xC6\xF0\xCA\xBC\xC8\xD5\xC6\xDA\r\n";
// "获取历史记录成功"
inline constexpr char kQueryOk[] = "\xBB\xF1\xC8\xA1\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC\xB3\xC9\xB9\xA6";
// "获取历史记录失败"
inline constexpr char kQueryFailed[] = "\xBB\xF1\xC8\xA1\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC\xCA\xA7\xB0\xDC";
// "保存成功"
inline constexpr char kSaved[] = "\xB1\xA3\xB4\xE6\xB3\xC9\xB9\xA6";
// "保存文件失败：" + path + "\r\n" + reason: the export could not be written.
inline constexpr char kSaveFailed[] = "\xB1\xA3\xB4\xE6\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC\xA3\xBA";
// "正在查询历史记录，请等待查询结束": a click while a query runs.
inline constexpr char kQueryRunning[] =
    "\xD5\xFD\xD4\xDA\xB2\xE9\xD1\xAF\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC\xA3\xAC\xC7\xEB"
    "\xB5\xC8\xB4\xFD\xB2\xE9\xD1\xAF\xBD\xE1\xCA\xF8";
// "历史记录：共 N 条\r\n": the log line at the end of a query, around the count.
inline constexpr char kCountPrefix[] = "\xC0\xFA\xCA\xB7\xBC\xC7\xC2\xBC\xA3\xBA\xB9\xB2 ";
inline constexpr char kCountSuffix[] = " \xCC\xF5\r\n";
} // namespace recordtext

// Markers of a reply to AT+RDNFCRCRD=.
inline constexpr std::string_view kRecordPrefix = "Record:";
inline constexpr std::string_view kRecordsEnd = "\r\nOK\r\n";
inline constexpr std::string_view kRecordsLeave = "\r\nleave\r\n";
// The value of id 161 that asks for the next batch.
inline constexpr char kRecordsContinue[] = "\r\nOK\r\n";
// The list's columns; fields beyond them are not shown.
inline constexpr int kRecordColumns = 9;

// The query of a date range: ";" start ",0:0:0;" end ",23:55:55".
std::string RecordQueryText(std::string_view startDate, std::string_view endDate);

// Whether a reply (everything received since the command went out) is
// complete: it ends with the batch marker or with an end marker that closes
// it (for the first command, one after the leading OK).
bool RecordReplyComplete(std::string_view reply, bool firstCommand);

// One list row: the fields of a record line (at most kRecordColumns).
using RecordRow = std::vector<std::string>;

// What ParseRecords found in one reply.
struct RecordBatch {
    int result = -1;             // 1 end marker, 0 batch marker or cut record, -1 anything else
    std::vector<RecordRow> rows; // the rows this reply added
};

// The CSV file of a record text: every ',' in a field becomes a blank, the
// ';' separators become ','; a field holding '"', CR or LF is quoted with
// its quotes doubled. CR LF line ends, no byte-order mark.
std::string RecordCsv(std::string_view recordText);

// Writes `bytes` to `path` through a temporary file in the same folder
// that replaces the file only once every byte is on disk: a failure leaves
// an existing file as it was and no half-written one. False with the
// reason (English) when anything fails.
bool WriteRecordCsvFile(const std::string& path, std::string_view bytes, std::string& reason);

class HistoryRecords {
public:
    HistoryRecords();
    ~HistoryRecords();
    HistoryRecords(const HistoryRecords&) = delete;
    HistoryRecords& operator=(const HistoryRecords&) = delete;

    // The query request (job 13): set by StartQuery, emptied by the worker.
    RequestText request;

    // Interface thread. Starts a query unless one is running: the record
    // text becomes the header line, the export path the one given (empty:
    // the end of the query writes nothing; `shownPath` is the path as the
    // user reads it, GBK), and then the request is set. False, with
    // nothing changed, while a query runs.
    bool StartQuery(std::string_view startDate, std::string_view endDate,
                    const std::string& exportPath = {}, const std::string& shownPath = {});
    // A query is pending or running.
    bool QueryRunning() const { return !request.Empty(); }
    // Whether a query was started since the program began.
    bool HasRecordText() const;
    std::string RecordText() const;
    std::size_t RecordCount() const;
    std::string ExportPath() const;

    // Worker thread. Reads one reply (the first one without its leading
    // OK): every whole record line goes to the record text and becomes a row.
    RecordBatch ParseRecords(std::string_view text);

    // Writes the record text as CSV to `path`; false with a message for the
    // user (GBK, naming `shownPath` and the reason) when it fails.
    bool WriteRecordFile(const std::string& path, const std::string& shownPath,
                         std::string& message) const;
    // The automatic export at the end of a query: writes to the export path
    // when one is set. True when there was nothing to write or it was written.
    bool WriteExport(std::string& message) const;

    // Who hears of the records: `rows` called on the worker once per batch
    // with the batch's rows and the count so far; `ended` whenever the
    // request is emptied (the query ended or was refused). Both may be
    // called on any thread and must not wait for the interface. Set before
    // the worker can take a request; cleared (nullptr) by their owner.
    using RowsListener = std::function<void(std::vector<RecordRow> rows, std::size_t total)>;
    void SetListeners(RowsListener rows, std::function<void()> ended);
    void TellRows(std::vector<RecordRow> rows, std::size_t total) const;

private:
    mutable std::mutex m_;
    std::string recordText_;
    std::size_t count_ = 0;
    std::string exportPath_;
    std::string shownPath_;
    RowsListener rowsListener_;
};

} // namespace pell

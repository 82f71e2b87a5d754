#pragma once
// What a job of the configuration worker did, as values: every command it
// sent with its outcome, what a read-back's report held and lacked, a
// request's answer, a record query's end. The job logs and shows its boxes
// from these as it goes; the worker hands the whole result to whoever asked
// for the job, so no caller reads an outcome back out of a log line or a
// box text.
#include "protocol/CommandOutcome.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pell {

// One AT+SHOW report, read against the parameter table.
struct ReportReading {
    std::vector<int> held;             // configurable ids the report gave a value, ascending
    std::vector<int> missing;          // configurable ids it lacked, ascending
    std::vector<std::string> unplaced; // lines after the first parameter that no label fits
    bool Whole() const { return missing.empty() && unplaced.empty(); }
};

enum class ReadbackStatus {
    NotRun,   // no read-back was part of the job (or it never got to AT+SHOW)
    Failed,   // no usable report in three tries
    Partial,  // a report came, but it lacked parameters or held lines nobody could place
    Whole,    // every configurable parameter, nothing unplaced
};

enum class RecordsEnd {
    NotRun,   // no query (no records page, empty request)
    Failed,   // refused, unanswered, or a batch that brought nothing
    Done,     // the controller said the query ended
};

struct JobResult {
    int code = 0;
    // Every command the job sent (or meant to send), in order.
    std::vector<CommandOutcome> commands;
    // The job did not run its commands, and why (our wording, GBK), e.g. a
    // save before any read-back.
    std::string refusal;
    // Jobs 1, 3 and 6: the last read-back and its report.
    ReadbackStatus readback = ReadbackStatus::NotRun;
    std::optional<ReportReading> report;
    // Jobs 9 to 12, 14 to 17: the value read ("?"), unchanged.
    std::optional<std::string> answer;
    // Job 13: how the query ended, how many records, and the export.
    RecordsEnd records = RecordsEnd::NotRun;
    std::size_t recordCount = 0;
    std::string exportFailure; // the box text of a failed export (GBK); empty when none failed
    // The worker stopped while the job ran: what it did not do is not done.
    bool stopped = false;
};

} // namespace pell

#pragma once
// The report line format shared by the controller's AT+SHOW report and the
// configuration files: optional leading blanks, CR or LF; the parameter's
// label exactly as the parameter table spells it (case matters); blanks;
// the value up to the first blank or CR; any rest; LF. A value that starts
// with "." or CR is the empty value. A value is taken only when its end lies
// inside its line, so a line ended by a bare LF right after the value stores
// nothing.
#include "config/JobResult.h"
#include "protocol/ParamTable.h"

#include <cstddef>

namespace pell {

// Lines are judged on their first kReportLineMax bytes; values keep at most
// kReportValueMax bytes, cut at a character boundary.
constexpr int kReportLineMax = 254;
constexpr int kReportValueMax = 99;

// Stores in `values` the value of every line whose label is in the
// parameter table. True when at least one value was stored. `text` need not
// be zero-terminated; bytes after the last LF are not examined.
bool ParseReportText(ParamTable& values, const char* text, std::size_t length);

// Reads a report without storing anything: which parameters of the ids
// firstId..lastId it gives a value, which it lacks, and the lines after its
// first parameter line that no label fits (the closing OK aside). Text
// before the first parameter line (an echoed command, line noise) is no
// part of the report.
ReportReading ReadReport(const char* text, std::size_t length, int firstId = 0, int lastId = 144);

// The reply handler of AT+SHOW (a ReplyHandler): stores the report in the
// sending engine's `values`; 1 when it stored a value, else 0.
int ReportReplyHandler(const char* reply, int length, ParamTable& values);

} // namespace pell

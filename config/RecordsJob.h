#pragma once
// Job 13: the history records of a date range, batch by batch, into the
// records of the history records page (pages/HistoryRecords.h).
#include "config/ConfigJobs.h"

namespace pell {

// Sends the page's query as id 161 and reads the reply; while a batch ends
// with the batch marker, asks for the next one with "\r\nOK\r\n". Each
// reply is collected whole before it is read: SendCommand wakes at the
// leading OK (or, for a continuation, at the batch's end), and the records
// that are still arriving are awaited until the reply ends with the batch
// or end marker, for at most the command's time-out from the controller's
// answer on. A batch that adds no record ends the query as failed, so a
// controller that answers "leave" forever cannot keep the job alive. At
// the end: the automatic export when a save asked for it, the box
// "获取历史记录成功" or "获取历史记录失败", and the record count in the log.
void ReadHistoryRecords(JobContext& ctx);

} // namespace pell

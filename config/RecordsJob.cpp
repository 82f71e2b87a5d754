#include "config/RecordsJob.h"

#include "pages/HistoryRecords.h"
#include "protocol/CommandTable.h"

#include <memory>
#include <string>

namespace pell {

namespace {

bool completeFirst(std::string_view reply)
{
    return RecordReplyComplete(reply, true);
}

bool completeNext(std::string_view reply)
{
    return RecordReplyComplete(reply, false);
}

// Sends id 161 with its present value and returns the whole reply: when
// the controller answered, the rest of a batch that is still arriving is
// awaited for what is left of the command's time-out after the pause.
// `answered` tells whether SendCommand reported success.
std::string sendAndCollect(JobContext& ctx, bool first, bool& answered)
{
    CommandEngine& engine = ctx.Engine();
    answered = false;
    if (ctx.Stopping())
        return {};
    const CommandEngine::ReplyComplete complete = first ? completeFirst : completeNext;
    answered = ctx.Send(kIdRecords, complete).Confirmed();
    if (answered && !ctx.Stopping()) {
        const AtCommandRow* row = FindAtRow(kIdRecords);
        const int rest = (row != nullptr ? row->timeoutMs : 5000) - CommandEngine::kPauseMs;
        if (rest > 0)
            engine.WaitForReplyEnd(complete, rest);
    }
    return engine.GetReplyText();
}

} // namespace

void ReadHistoryRecords(JobContext& ctx)
{
    const std::shared_ptr<HistoryRecords> records = ctx.View().Records();
    if (!records || ctx.request.empty())
        return;

    ctx.Engine().Values().Set(kIdRecords, ctx.request);
    bool answered = false;
    std::string reply = sendAndCollect(ctx, true, answered);

    int result = -1;
    if (answered && reply.compare(0, kRecordsEnd.size(), kRecordsEnd) == 0) {
        reply.erase(0, kRecordsEnd.size());
        for (;;) {
            RecordBatch batch = records->ParseRecords(reply);
            result = batch.result;
            const bool added = !batch.rows.empty();
            // Rows go to the list once per batch.
            if (added)
                records->TellRows(std::move(batch.rows), records->RecordCount());
            if (result != 0)
                break;
            if (!added || ctx.Stopping()) {
                // A batch without a record brings the query no further.
                result = -1;
                break;
            }
            ctx.Engine().Values().Set(kIdRecords, kRecordsContinue);
            reply = sendAndCollect(ctx, false, answered);
        }
    }

    ctx.result.records = result == 1 ? RecordsEnd::Done : RecordsEnd::Failed;
    ctx.result.recordCount = records->RecordCount();
    if (result == 1) {
        std::string message;
        if (!records->WriteExport(message)) {
            ctx.result.exportFailure = message;
            ctx.View().MessageBox(message);
        }
    }
    ctx.Log(recordtext::kCountPrefix + std::to_string(records->RecordCount()) + recordtext::kCountSuffix);
    ctx.View().MessageBox(result == 1 ? recordtext::kQueryOk : recordtext::kQueryFailed);
}

} // namespace pell

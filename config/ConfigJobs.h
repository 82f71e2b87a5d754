#pragma once
// The jobs of the configuration worker. Each runs on the worker thread,
// talks to the controller through the command engine and reaches the page
// only through IConfigView. A job never changes the job state; once
// started it runs to its end (a shutdown makes its remaining commands fail
// at once).
#include "config/IConfigView.h"
#include "config/JobResult.h"
#include "protocol/CommandEngine.h"

#include <atomic>
#include <bitset>
#include <mutex>
#include <string>
#include <vector>

namespace pell {

// Ids of the configurable parameters: what the read-back shows and the
// writes compare.
constexpr int kFirstParamId = 0;
constexpr int kLastParamId = 144;

// Which configurable parameters hold a value in the table that the
// controller (a read-back) or a configuration file gave. A report that
// lacked a parameter leaves it as it was: a parameter nobody gave a value
// is never sent or saved. Any thread.
class KnownParams {
public:
    void Set(int id, bool known);
    bool Known(int id) const;
    // The configurable ids not known, ascending.
    std::vector<int> Unknown() const;

private:
    mutable std::mutex m_;
    std::bitset<kLastParamId - kFirstParamId + 1> known_;
};

class JobContext {
public:
    // `valuesGiven` (see ConfigWorker::ValuesGiven) is read and set by the
    // read-back and the writes; without it a save is refused. `known`
    // (may be null: every parameter counts as known) says which values the
    // controller or a file gave.
    JobContext(IConfigView& view, CommandEngine& engine, const std::atomic<bool>* stop = nullptr,
               std::atomic<bool>* valuesGiven = nullptr, KnownParams* known = nullptr)
        : view_(view), engine_(engine), stop_(stop), valuesGiven_(valuesGiven), known_(known) {}

    IConfigView& View() const { return view_; }
    CommandEngine& Engine() const { return engine_; }
    bool Stopping() const { return stop_ != nullptr && stop_->load(std::memory_order_acquire); }
    // Sends the command of the id (the table's value) and keeps its outcome
    // in the result; nothing goes out once the worker stops (NotSent).
    const CommandOutcome& Send(int id);
    // The same with the given value instead of the table's.
    const CommandOutcome& SendWith(int id, std::string_view value);
    // The same, the reply also being complete when `complete` says so.
    const CommandOutcome& Send(int id, const CommandEngine::ReplyComplete& complete);
    void Log(std::string_view text) const { view_.AppendLog(text); }
    bool ValuesGiven() const { return valuesGiven_ != nullptr && valuesGiven_->load(); }
    void SetValuesGiven(bool given) const
    {
        if (valuesGiven_ != nullptr)
            valuesGiven_->store(given);
    }
    bool Known(int id) const { return known_ == nullptr || known_->Known(id); }
    // The last command sent found the port gone: nothing more can go out.
    bool LineLost() const;
    void SetKnown(int id, bool known) const
    {
        if (known_ != nullptr)
            known_->Set(id, known);
    }

    // The request text of a job started by a page request (jobs 8 to 17),
    // as it stood when the job started.
    std::string request;
    // Job 18: the values of the ids 0 to 144 before the file was read into
    // the table (empty when unknown).
    std::vector<std::string> tableBeforeLoad;
    // What the job did; the worker hands it on when the job ends.
    JobResult result;

private:
    const CommandOutcome& keep(CommandOutcome outcome);

    IConfigView& view_;
    CommandEngine& engine_;
    const std::atomic<bool>* stop_;
    std::atomic<bool>* valuesGiven_;
    KnownParams* known_;
};

// Logs a command's outcome as the configuration page shows it: "设置成功"
// when the controller confirmed it; otherwise the late answer (if one came)
// and "设置失败".
void LogCommandOutcome(const JobContext& ctx, const CommandOutcome& outcome);

// A job step that shows values on the pages does so in one call into the
// interface thread (IConfigView::SetPageValues), however many parameters
// it carries; what the pages hold it reads from their model
// (IConfigView::GetPageValues) without waiting for the interface.
//
// Job 3 (and part of jobs 1 and 6): AT+SHOW up to three times, the report
// into the engine's table, every value it held onto its page. A report
// that lacks parameters (or holds lines no label fits) is logged as such:
// the parameters it lacked keep their table and page values and are not
// known from it. A failed read-back may have left part of a report in the
// table: from then on a save is refused until a read-back succeeds or a
// file is applied. True when a report came (whole or not); the result
// says which.
bool ReadDeviceParameters(JobContext& ctx);
// Job 1: AT up to ten times until the controller answers, then the read-back
// up to three times.
void ConnectAndReadParameters(JobContext& ctx);
// Job 2: every parameter whose page value differs from the table is stored
// and sent. Parameters without a control, or whose control shows no
// readable value, or whose value nobody gave (KnownParams), are passed over. A command that fails puts the table
// value back, so the next save tries again. Refused with a log line unless
// the table and the pages hold what the controller or a file gave
// (JobContext::ValuesGiven): before any read-back, or after a failed one,
// what the pages happen to show is no value anybody gave.
void WriteChangedParameters(JobContext& ctx);
// Job 18: every parameter whose table value (from a configuration file)
// differs from its page value is shown on its page (all of them at once)
// and then sent, one by one in id order. A parameter that no page shows a
// value for is sent when the file changed it (JobContext::tableBeforeLoad),
// so a file that holds what the controller gave sends nothing.
void ApplyLoadedParameters(JobContext& ctx);

// Runs the routine of a job code; a code without a routine runs nothing.
void RunConfigJob(int code, JobContext& ctx);

} // namespace pell

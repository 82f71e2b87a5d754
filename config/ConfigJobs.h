#pragma once
// The jobs of the configuration worker. Each runs on the worker thread,
// talks to the controller through the command engine and reaches the page
// only through IConfigView. A job never changes the job state; once
// started it runs to its end (a shutdown makes its remaining commands fail
// at once).
#include "config/IConfigView.h"
#include "protocol/CommandEngine.h"

#include <atomic>
#include <string>
#include <vector>

namespace pell {

// Ids of the configurable parameters: what the read-back shows and the
// writes compare.
constexpr int kFirstParamId = 0;
constexpr int kLastParamId = 144;

class JobContext {
public:
    // `valuesGiven` (see ConfigWorker::ValuesGiven) is read and set by the
    // read-back and the writes; without it a save is refused.
    JobContext(IConfigView& view, CommandEngine& engine, const std::atomic<bool>* stop = nullptr,
               std::atomic<bool>* valuesGiven = nullptr)
        : view_(view), engine_(engine), stop_(stop), valuesGiven_(valuesGiven) {}

    IConfigView& View() const { return view_; }
    CommandEngine& Engine() const { return engine_; }
    bool Stopping() const { return stop_ != nullptr && stop_->load(std::memory_order_acquire); }
    // SendCommand, except that nothing more goes out once the worker stops.
    int Send(int id, std::string& text) const;
    // The same with the given value instead of the table's.
    int SendWith(int id, std::string_view value, std::string& text) const;
    void Log(std::string_view text) const { view_.AppendLog(text); }
    bool ValuesGiven() const { return valuesGiven_ != nullptr && valuesGiven_->load(); }
    void SetValuesGiven(bool given) const
    {
        if (valuesGiven_ != nullptr)
            valuesGiven_->store(given);
    }

    // The request text of a job started by a page request (jobs 8 to 17),
    // as it stood when the job started.
    std::string request;
    // Job 18: the values of the ids 0 to 144 before the file was read into
    // the table (empty when unknown).
    std::vector<std::string> tableBeforeLoad;

private:
    IConfigView& view_;
    CommandEngine& engine_;
    const std::atomic<bool>* stop_;
    std::atomic<bool>* valuesGiven_;
};

// Each job step that reaches the pages does so in one call into the
// interface thread (IConfigView::SetPageValues / GetPageValues), however
// many parameters it carries.
//
// Job 3 (and part of jobs 1 and 6): AT+SHOW up to three times, the report
// into the parameter table, every differing value onto its page. A failed
// read-back may have left part of a report in the table: from then on a
// save is refused until a read-back succeeds or a file is applied.
bool ReadDeviceParameters(JobContext& ctx);
// Job 1: AT up to ten times until the controller answers, then the read-back
// up to three times.
void ConnectAndReadParameters(JobContext& ctx);
// Job 2: every parameter whose page value differs from the table is stored
// and sent. Parameters without a control, or whose control shows no
// readable value, are passed over. A command that fails puts the table
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

// Runs the routine of a job code; codes without a routine (yet) run nothing.
void RunConfigJob(int code, JobContext& ctx);

} // namespace pell

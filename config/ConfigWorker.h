#pragma once
// The configuration worker: one thread that runs one job at a time. It runs
// the job whose code was set together with the running state, then sets the
// page idle; while no job runs it looks at the pages' requests and starts
// the job of the first one that is pending (clock, counters 0 to 3, records,
// serial meter ports 0 to 3). Between looks it sleeps until a job is
// started, a request is set or it is stopped, so a request or a button is
// taken at once, and an idle worker costs nothing.
#include "common/WorkerThread.h"
#include "config/ConfigJobs.h"
#include "config/JobControl.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pell {

class ConfigWorker : private RequestObserver {
public:
    // `setControlState` puts the controls into a mode (SetControlState).
    ConfigWorker(JobControl& jobs, RequestLookup requests, IConfigView& view, CommandEngine& engine,
                 std::function<void(int)> setControlState);
    ~ConfigWorker();
    ConfigWorker(const ConfigWorker&) = delete;
    ConfigWorker& operator=(const ConfigWorker&) = delete;

    void Start();
    // Ends the job that runs (its remaining commands fail at once) and joins
    // the thread.
    void Stop();
    bool IsRunning() const { return thread_.Running(); }

    // Called on the worker as each job starts, with its code and request
    // text. Set before Start.
    using JobStarted = std::function<void(int code, const std::string& request)>;
    void SetJobStarted(JobStarted observer) { jobStarted_ = std::move(observer); }

    // Jobs run so far: whoever waits for a job to end watches it grow.
    int JobsRun() const { return jobsRun_.load(std::memory_order_acquire); }
    // What the job that ended last did; kept before JobsRun() counts it.
    JobResult LastResult() const;
    // Times the worker went to sleep for lack of work: with JobsRun, how it
    // spent its time.
    int Sleeps() const { return sleeps_.load(std::memory_order_acquire); }

    // Whether the engine's table and the pages hold values that the
    // controller (a read-back that succeeded) or a configuration file (job
    // 18) gave, so that a difference between them is an edit of the user.
    // False at the start and after a failed read-back; a save is refused
    // while it is false. The jobs keep it; tests may set it.
    bool ValuesGiven() const { return valuesGiven_.load(); }
    void SetValuesGiven(bool given) { valuesGiven_.store(given); }
    // Which parameters the controller or a file gave a value (a report
    // that lacked some leaves them unknown): a save passes over the others,
    // and a file saved from the table leaves them out.
    KnownParams& Known() { return known_; }
    const KnownParams& Known() const { return known_; }

    // Whether another page (the download page) holds the line with the
    // controller; page requests are refused meanwhile. The check is called
    // on the worker and on the UI thread; setting it (also to nothing)
    // waits for a call under way, so its owner may go after clearing it.
    void SetLineCheck(std::function<bool()> otherHoldsLine);
    bool OtherHoldsLine() const;

    // The engine's table of values as it stood before a configuration file
    // was read into it, for job 18 (see ApplyLoadedParameters). Set before
    // the job is queued; the job takes it.
    void SetTableBeforeLoad(std::vector<std::string> values);

    // What the requests this worker serves tell when a page sets one:
    // whoever hands out the requests attaches it to each
    // (RequestText::SetObserver) and detaches it before the worker goes.
    RequestObserver& RequestWatcher() { return *this; }

private:
    // A page set a request: the worker wakes up, and while a job runs the
    // log says once per job that it waits ("等待当前操作完成").
    void OnRequestSet(const RequestText& request) override;
    void run();
    void runJob();
    void takeRequest();

    JobControl& jobs_;
    RequestLookup requests_;
    IConfigView& view_;
    CommandEngine& engine_;
    std::function<void(int)> setControlState_;
    JobStarted jobStarted_;
    mutable std::mutex resultMutex_;
    JobResult lastResult_;
    KnownParams known_;
    std::atomic<int> jobsRun_{0};
    std::atomic<int> sleeps_{0};
    std::atomic<bool> valuesGiven_{false};
    std::atomic<bool> waitNoted_{false};
    std::mutex tableBeforeLoadMutex_;
    std::vector<std::string> tableBeforeLoad_;
    mutable std::mutex lineCheckMutex_;
    std::function<bool()> otherHoldsLine_;
    WorkerThread thread_;
};

} // namespace pell

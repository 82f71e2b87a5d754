#include "config/ConfigWorker.h"

#include "config/ConfigTexts.h"

namespace pell {

ConfigWorker::ConfigWorker(JobControl& jobs, RequestLookup requests, IConfigView& view,
                           CommandEngine& engine, std::function<void(int)> setControlState)
    : jobs_(jobs), requests_(std::move(requests)), view_(view), engine_(engine),
      setControlState_(std::move(setControlState))
{
}

ConfigWorker::~ConfigWorker()
{
    Stop();
}

void ConfigWorker::Start()
{
    if (thread_.Running())
        return;
    thread_.Start([this] { run(); }, "config-worker");
}

void ConfigWorker::Stop()
{
    // The worker sleeps on the job wake-up, or a command of its job may be
    // just about to go out: both are cut short until the thread has left.
    thread_.Stop([this] {
        jobs_.Wake().set();
        engine_.CancelWait();
    });
}

void ConfigWorker::SetTableBeforeLoad(std::vector<std::string> values)
{
    std::lock_guard<std::mutex> lock(tableBeforeLoadMutex_);
    tableBeforeLoad_ = std::move(values);
}

void ConfigWorker::OnRequestSet(const RequestText& request)
{
    // Setting a request wakes the worker as starting a job does.
    jobs_.Wake().set();
    if (jobs_.State() != kJobRunning || !requests_)
        return;
    // A request of the job that runs is answered by it (and a new one
    // dropped with it): it waits for nothing.
    if (auto slot = RequestOfJob(jobs_.Code()); slot && requests_(*slot) == &request)
        return;
    if (!waitNoted_.exchange(true))
        view_.AppendLog(configtext::kWaitForJob);
}

void ConfigWorker::run()
{
    while (!thread_.Stopping()) {
        if (jobs_.State() == kJobRunning) {
            runJob();
            continue;
        }
        takeRequest();
        if (jobs_.State() == kJobRunning)
            continue;
        // Whatever sets the wake-up after this look has changed something
        // first: the next look finds it.
        sleeps_.fetch_add(1, std::memory_order_acq_rel);
        jobs_.Wake().wait();
        jobs_.Wake().reset();
    }
}

void ConfigWorker::runJob()
{
    const int code = jobs_.Code();
    waitNoted_.store(false);
    JobContext ctx(view_, engine_, thread_.StopFlag(), &valuesGiven_, &known_);
    ctx.result.code = code;
    if (code == kJobApplyLoaded) {
        std::lock_guard<std::mutex> lock(tableBeforeLoadMutex_);
        ctx.tableBeforeLoad = std::move(tableBeforeLoad_);
        tableBeforeLoad_.clear();
    }
    RequestText* request = nullptr;
    if (auto slot = RequestOfJob(code); slot && requests_)
        request = requests_(*slot);
    if (request != nullptr)
        ctx.request = request->Get();
    if (jobStarted_)
        jobStarted_(code, ctx.request);
    if (code >= 1 && code <= kJobCodeMax)
        RunConfigJob(code, ctx);
    // A request is answered once: whatever was asked while its job ran is
    // dropped with it.
    if (request != nullptr)
        request->Clear();
    ctx.result.stopped = thread_.Stopping();
    {
        std::lock_guard<std::mutex> lock(resultMutex_);
        lastResult_ = std::move(ctx.result);
    }
    {
        auto lock = jobs_.Transition();
        if (setControlState_)
            setControlState_(kJobIdle);
        jobs_.FinishLocked();
    }
    jobsRun_.fetch_add(1, std::memory_order_acq_rel);
}

JobResult ConfigWorker::LastResult() const
{
    std::lock_guard<std::mutex> lock(resultMutex_);
    return lastResult_;
}

void ConfigWorker::takeRequest()
{
    if (!requests_)
        return;
    int code = kJobNone;
    RequestText* taken = nullptr;
    for (RequestSlot slot : kRequestPollOrder) {
        RequestText* request = requests_(slot);
        if (request != nullptr && !request->Empty()) {
            code = RequestJobCode(slot);
            taken = request;
            break;
        }
    }
    if (code == kJobNone)
        return;
    {
        auto lock = jobs_.Transition();
        // A button or the configuration-mode banner may have started a job since.
        const int before = jobs_.State();
        if (before == kJobRunning)
            return;
        jobs_.StartLocked(code);
        // The download page publishes its claim on the line before it looks
        // at the job state, and this side the job state before it looks at
        // the claim: of two starts at the same moment at least one sees the
        // other and steps back.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (!OtherHoldsLine())
            return;
        jobs_.RevertLocked(before);
    }
    // Refused, not postponed: the controller may run other firmware when the
    // download ends.
    taken->Clear();
    view_.AppendLog(configtext::kDownloadActive);
}

void ConfigWorker::SetLineCheck(std::function<bool()> otherHoldsLine)
{
    std::lock_guard<std::mutex> lock(lineCheckMutex_);
    otherHoldsLine_ = std::move(otherHoldsLine);
}

bool ConfigWorker::OtherHoldsLine() const
{
    std::lock_guard<std::mutex> lock(lineCheckMutex_);
    return otherHoldsLine_ && otherHoldsLine_();
}

} // namespace pell

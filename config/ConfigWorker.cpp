#include "config/ConfigWorker.h"

#include <chrono>

namespace pell {

ConfigWorker::ConfigWorker(JobControl& jobs, RequestLookup requests, IConfigView& view,
                           CommandEngine& engine, std::function<void(int)> setControlState,
                           const Clock& clock)
    : jobs_(jobs), requests_(std::move(requests)), view_(view), engine_(engine),
      setControlState_(std::move(setControlState)), clock_(clock)
{
}

ConfigWorker::~ConfigWorker()
{
    Stop();
}

void ConfigWorker::Start()
{
    if (thread_.joinable())
        return;
    stop_.store(false, std::memory_order_release);
    finished_.reset();
    thread_ = std::thread([this] { run(); });
}

void ConfigWorker::Stop()
{
    if (!thread_.joinable())
        return;
    stop_.store(true, std::memory_order_release);
    jobs_.Wake().set();
    // A command may be just about to go out when the stop flag is set; keep
    // cutting its wait short until the thread has left.
    while (!finished_.waitFor(std::chrono::milliseconds(20)))
        engine_.CancelWait();
    thread_.join();
}

void ConfigWorker::run()
{
    while (!stop_.load(std::memory_order_acquire)) {
        if (jobs_.State() == kJobRunning) {
            runJob();
            continue;
        }
        takeRequest();
        if (jobs_.State() == kJobRunning)
            continue;
        jobs_.Wake().waitFor(clock_.duration(kPollMs));
        jobs_.Wake().reset();
    }
    finished_.set();
}

void ConfigWorker::runJob()
{
    const int code = jobs_.Code();
    JobContext ctx(view_, engine_, &stop_);
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
    {
        auto lock = jobs_.Transition();
        if (setControlState_)
            setControlState_(kJobIdle);
        jobs_.FinishLocked();
    }
    jobsRun_.fetch_add(1, std::memory_order_acq_rel);
}

void ConfigWorker::takeRequest()
{
    if (!requests_)
        return;
    int code = kJobNone;
    for (RequestSlot slot : kRequestPollOrder) {
        RequestText* request = requests_(slot);
        if (request != nullptr && !request->Empty()) {
            code = RequestJobCode(slot);
            break;
        }
    }
    if (code == kJobNone)
        return;
    auto lock = jobs_.Transition();
    // A button or the configuration-mode banner may have started a job since.
    if (jobs_.State() != kJobRunning)
        jobs_.StartLocked(code);
}

} // namespace pell

#include "config/JobControl.h"

namespace pell {

void JobControl::StartLocked(int code)
{
    code_.store(code, std::memory_order_release);
    state_.store(kJobRunning, std::memory_order_release);
    wake_.set();
}

void JobControl::FinishLocked()
{
    state_.store(kJobIdle, std::memory_order_release);
    code_.store(kJobNone, std::memory_order_release);
}

void JobControl::RevertLocked(int state)
{
    state_.store(state, std::memory_order_release);
    code_.store(kJobNone, std::memory_order_release);
}

std::optional<RequestSlot> RequestOfJob(int code)
{
    for (RequestSlot slot : kRequestPollOrder)
        if (RequestJobCode(slot) == code)
            return slot;
    return std::nullopt;
}

} // namespace pell

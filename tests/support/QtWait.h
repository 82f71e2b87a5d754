#pragma once
// Waiting in GUI tests: the condition is polled while the UI thread keeps
// processing its events (queued calls from workers, timers), up to a deadline.
#include "tests/support/Wait.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>

namespace pell::test {

inline bool WaitProcessing(const std::function<bool()>& condition,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(15000))
{
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        timeout);
}

} // namespace pell::test

#pragma once
// Waiting in tests: a condition polled up to a deadline.
#include <chrono>
#include <functional>

namespace pell::test {

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

} // namespace pell::test

#pragma once
// Worker threads never touch a widget: they hand a piece of code to the UI
// thread and wait until it has run (what a sent window message does). The
// UI thread never waits for a worker: at shutdown every pending and future
// call is released without running, so a worker that waits for the UI can
// always finish and be joined.
#include <functional>

namespace pell::ui {

// Runs fn on the UI thread and waits for it (runs it at once when called on
// the UI thread). False, with fn not run, once the UI is shutting down.
bool RunOnUiThread(const std::function<void()>& fn);
// Queues fn for the UI thread without waiting.
void PostToUiThread(std::function<void()> fn);
// From now on RunOnUiThread returns false at once; waiting callers are
// released. Called by the main window before it joins its threads.
void ShutdownUiCalls();
// Undoes ShutdownUiCalls (a new main window in the same process, tests).
void RestartUiCalls();
bool IsUiThread();

} // namespace pell::ui

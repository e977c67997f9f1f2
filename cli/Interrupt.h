#pragma once
// Ctrl-C (SIGINT) and SIGTERM during `duplora-cli run` act like the progress
// window's Cancel: the handler only sets a flag, the run sees it at its next
// Pump() and ends with "User break the task!", and the result lines still go
// to the log. A second signal of the same kind ends the program at once (the
// handler is reset after the first one).
//
// The headless scheduler sleeps between its checks; the handler also writes
// one byte into a pipe, so that sleep ends at once on a signal
// (WaitForInterrupt) instead of polling the flag.

#include <chrono>

namespace duplora::cli {

void InstallInterruptHandler();
bool InterruptRequested();
// For tests: raise or clear the flag as the handler would.
void SetInterruptRequested(bool on);

// Sleeps until `until` or until an interrupt arrives, whichever is first;
// true when an interrupt was requested. Without the handler installed (a
// test in-process) it looks at the flag every 100 ms.
bool WaitForInterrupt(std::chrono::steady_clock::time_point until);

} // namespace duplora::cli

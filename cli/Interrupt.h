#pragma once
// Ctrl-C (SIGINT) and SIGTERM during `duplora-cli run` act like the progress
// window's Cancel: the handler only sets a flag, the run sees it at its next
// Pump() and ends with "User break the task!", and the result lines still go
// to the log. A second signal of the same kind ends the program at once (the
// handler is reset after the first one).

namespace duplora::cli {

void InstallInterruptHandler();
bool InterruptRequested();
// For tests: raise or clear the flag as the handler would.
void SetInterruptRequested(bool on);

} // namespace duplora::cli

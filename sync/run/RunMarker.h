#pragma once
// "A run is in progress": set by the main window around the progress window
// of every run and read by the scheduler's timer thread, which starts no
// schedule while it is set. An atomic integer, so the thread needs no lock.

#include <atomic>

namespace duplora {

std::atomic<int>& RunInProgress();

// Sets the marker for its lifetime (runs are never nested, but a counter
// keeps a stray nesting from clearing it early).
class RunInProgressScope {
public:
    RunInProgressScope() { RunInProgress().fetch_add(1); }
    ~RunInProgressScope() { RunInProgress().fetch_sub(1); }
    RunInProgressScope(const RunInProgressScope&) = delete;
    RunInProgressScope& operator=(const RunInProgressScope&) = delete;
};

} // namespace duplora

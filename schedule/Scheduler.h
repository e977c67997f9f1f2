#pragma once
// The scheduler's three steps, each on its own thread or message so the slow
// part (the run) never happens on the timer's thread:
//
//   timer worker, every 20 ms    Tick()     counts; every 100th tick, unless
//                                           a run is in progress: "post a check"
//   main thread, every 2 s       Check()    first due schedule -> pending task
//                                           name, "post a run request"
//   main thread, on the request  Trigger()  every task of that name, in list
//                                           order, with the scheduled-run flag
//
// The window and the console program each own one Scheduler and do the
// posting; this class holds only the counter and the pending task name.

#include "schedule/ScheduleRecord.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace duplora {

class Scheduler {
public:
    static constexpr std::uint64_t kTickMs = 20;
    static constexpr std::uint64_t kCheckEveryMs = 2000;

    // On the timer's worker thread only; touches nothing but the counter, and
    // allocates nothing. True every 100th call (the first 2 s after the timer
    // starts) unless `runInProgress`: then the caller posts a check.
    bool Tick(bool runInProgress) {
        ticks_ += kTickMs;
        return ticks_ % kCheckEveryMs == 0 && !runInProgress;
    }
    std::uint64_t TickMs() const { return ticks_; }

    // The check, over the schedule list and the moment Now. Stops at once
    // while a trigger is pending. Walks the list from the first record:
    // overdue ones are moved on (not run), the first due one is taken (its
    // task name becomes the pending name, then the take-due step). Returns
    // the index of the record taken, or -1. Changes records in memory only;
    // it does not mark the configuration changed.
    int Check(std::vector<ScheduleRecord>& schedules, double now);

    bool Pending() const { return pending_; }
    std::string_view PendingName() const {
        return std::string_view(pendingName_.data(), pendingLength_);
    }
    void ClearPending() {
        pending_ = false;
        pendingLength_ = 0;
    }

    // The trigger: for each row 0 .. rowCount-1 (counted once, before the
    // loop) whose name equals the pending name exactly, sets
    // `scheduledRun`, calls runRow(row), and clears the flag again. The
    // pending name is emptied at the end, also when no row matched. An
    // exception out of runRow still clears the flag and the pending name
    // (or the scheduler would stay blocked and later manual runs would count
    // as scheduled ones) and then goes on to the caller. Returns the number
    // of rows run.
    std::size_t Trigger(std::size_t rowCount,
                        const std::function<std::string_view(std::size_t)>& rowName,
                        const std::function<void(std::size_t)>& runRow, bool& scheduledRun);

private:
    std::uint64_t ticks_ = 0;
    bool pending_ = false;
    std::array<char, schedule::kNameCapacity> pendingName_{};
    std::size_t pendingLength_ = 0;
};

} // namespace duplora

#pragma once
// The scheduler's three steps, each on its own thread or message so the slow
// part (the run) never happens on the timer's thread:
//
//   timer worker, every 20 ms    Tick()     when 2 s of steady time passed
//                                           since the last check, unless a run
//                                           is in progress: "post a check"
//   main thread, every 2 s       Check()    first due schedule -> pending task
//                                           name, "post a run request"
//   main thread, on the request  Trigger()  every task of that name, in list
//                                           order, with the scheduled-run flag
//
// The window and the console program each own one Scheduler and do the
// posting; this class holds only the next check's moment and the pending task
// name.

#include "schedule/ScheduleRecord.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace duplora {

class Scheduler {
public:
    using SteadyClock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kTick{20};
    static constexpr std::chrono::milliseconds kCheckEvery{2000};

    // On the timer's worker thread only; touches nothing but the next check's
    // moment, and allocates nothing. True when a check is due and no run is in
    // progress: then the caller posts a check. The first check comes 2 s
    // after the timer started (its first call is one tick after the start).
    // The period is steady time, not a count of calls: the timer drops calls
    // its handler missed, so under load a count would stretch the period. A
    // late call takes the due check at once; after a stall longer than a
    // period there is one check, not one for every period missed. A check
    // that falls during a run is skipped, as the check itself would stop.
    bool Tick(bool runInProgress, SteadyClock::time_point now = SteadyClock::now()) {
        if (!started_) {
            started_ = true;
            nextCheck_ = now - kTick + kCheckEvery;
        }
        if (now < nextCheck_)
            return false;
        nextCheck_ += kCheckEvery;
        if (nextCheck_ <= now)
            nextCheck_ = now + kCheckEvery;
        return !runInProgress;
    }

    // The moment Tick takes the next check (once Tick has been called). A
    // caller that sleeps instead of ticking every 20 ms wakes up then.
    SteadyClock::time_point NextCheck() const { return nextCheck_; }

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
    bool started_ = false;
    SteadyClock::time_point nextCheck_{};
    bool pending_ = false;
    std::array<char, schedule::kNameCapacity> pendingName_{};
    std::size_t pendingLength_ = 0;
};

} // namespace duplora

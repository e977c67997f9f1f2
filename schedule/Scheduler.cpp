#include "schedule/Scheduler.h"

#include "schedule/ScheduleRules.h"

#include <algorithm>
#include <cstring>

namespace duplora {

int Scheduler::Check(std::vector<ScheduleRecord>& schedules, double now) {
    if (pending_)
        return -1;
    for (std::size_t i = 0; i < schedules.size(); ++i) {
        ScheduleRecord& r = schedules[i];
        switch (schedule::TestDue(r, now)) {
        case schedule::Due::NotActive:
        case schedule::Due::NotYetDue:
            continue;
        case schedule::Due::Overdue:
            schedule::ApplyNextRun(r, now);
            continue;
        case schedule::Due::Due: {
            const std::string task = schedule::task_name(r);
            pendingLength_ = std::min(task.size(), pendingName_.size());
            std::memcpy(pendingName_.data(), task.data(), pendingLength_);
            pending_ = true;
            schedule::TakeDue(r, now);
            return static_cast<int>(i);
        }
        }
    }
    return -1;
}

std::size_t Scheduler::Trigger(std::size_t rowCount,
                               const std::function<std::string_view(std::size_t)>& rowName,
                               const std::function<void(std::size_t)>& runRow, bool& scheduledRun) {
    struct Reset {
        Scheduler& self;
        bool& flag;
        ~Reset() {
            flag = false;
            self.ClearPending();
        }
    } reset{*this, scheduledRun};
    std::size_t ran = 0;
    if (!pending_)
        return ran;
    for (std::size_t row = 0; row < rowCount; ++row) {
        if (rowName(row) != PendingName())
            continue;
        scheduledRun = true;
        runRow(row);
        scheduledRun = false;
        ++ran;
    }
    return ran;
}

} // namespace duplora

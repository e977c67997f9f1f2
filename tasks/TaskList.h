#pragma once
// The task list (names and records side by side, always in the same order),
// the schedule list of 52-byte records, and the changed flag. The main window
// and the console program own one TaskList each.

#include "tasks/TaskRecord.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

// A schedule record as stored. Its fields are given names by the scheduler;
// the configuration file and the task list carry it as opaque bytes.
struct ScheduleRecord {
    static constexpr std::size_t kSize = 52;
    std::array<std::uint8_t, kSize> bytes{};
    bool operator==(const ScheduleRecord&) const = default;
};

struct Task {
    std::string name;
    TaskRecord record;
    bool checked = false; // ticked for a run; never stored
};

class TaskList {
public:
    std::size_t size() const { return tasks_.size(); }
    bool empty() const { return tasks_.empty(); }
    Task& operator[](std::size_t i) { return tasks_.at(i); }
    const Task& operator[](std::size_t i) const { return tasks_.at(i); }
    std::vector<Task>& tasks() { return tasks_; }
    const std::vector<Task>& tasks() const { return tasks_; }

    void append(std::string name, TaskRecord record);
    void insert(std::size_t index, std::string name, TaskRecord record);
    void remove(std::size_t index);
    // Moves one task (name, record and check mark together).
    void move(std::size_t from, std::size_t to);
    void clear();

    // Every index whose name equals `name` without regard to ASCII case.
    std::vector<std::size_t> findNoCase(std::string_view name) const;

    std::vector<ScheduleRecord>& schedules() { return schedules_; }
    const std::vector<ScheduleRecord>& schedules() const { return schedules_; }

    // Set by every user edit of tasks or schedules; cleared by a successful
    // load or save.
    bool changed() const { return changed_; }
    void setChanged(bool on = true) { changed_ = on; }

private:
    std::vector<Task> tasks_;
    std::vector<ScheduleRecord> schedules_;
    bool changed_ = false;
};

// ASCII-only case-insensitive equality (non-ASCII bytes compare exactly).
bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace duplora

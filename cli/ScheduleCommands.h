#pragma once
// `duplora-cli schedule list|show|new|set|delete|next` and `scheduler`.
// Schedule names match exactly (case-sensitive), as in the schedule editor;
// edits follow the editor's rules and apply the next-run rule before saving.

#include "schedule/DateTime.h"
#include "tasks/TaskList.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace duplora::cli {

// The option values of `schedule new` and `schedule set`, as typed.
struct ScheduleEdits {
    std::optional<std::string> name, task, every, weekday, time, repeat;
    bool Empty() const { return !name && !task && !every && !weekday && !time && !repeat; }
};

// Checks every given option and writes it into `record`; false with a
// message naming the option when a value is refused (nothing is written
// then). `index` is the record's place in `list` (list.size() for a new
// one), so its own name is no duplicate.
bool ApplyScheduleEdits(const ScheduleEdits& edits, const std::vector<ScheduleRecord>& list,
                        std::size_t index, ScheduleRecord& record, std::string& error);

// "field: value" lines of `schedule show`, in record order; damaged values
// are shown as they are stored.
std::vector<std::pair<std::string, std::string>> DescribeSchedule(const ScheduleRecord& r);
// One tab-separated line of `schedule list`.
std::string ScheduleListLine(const ScheduleRecord& r);

// The locked "lock, load, modify, save" edit of the configuration.
using EditFunction = std::function<int(
    const std::string& configPath, const std::function<int(TaskList&)>& modify, std::ostream& err)>;

class ScheduleCommands {
public:
    ScheduleCommands();
    ~ScheduleCommands();
    // Adds `schedule` (with its sub-commands) and `scheduler` to the program.
    void Add(CLI::App& app);
    bool Parsed() const;
    // Runs the parsed command. `clock` is where Now comes from.
    int Run(const std::string& configPath, const std::string& logPath, const Clock& clock,
            const EditFunction& edit, std::ostream& out, std::ostream& err);

private:
    struct Parts;
    std::unique_ptr<Parts> p_;
};

} // namespace duplora::cli

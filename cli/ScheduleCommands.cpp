#include "cli/ScheduleCommands.h"

#include "cli/HeadlessScheduler.h"
#include "schedule/ScheduleRules.h"
#include "tasks/ConfigFile.h"
#include "tasks/TaskRules.h"
#include "tasks/TextTable.h"

#include <CLI/CLI.hpp>

#include <array>
#include <charconv>
#include <ostream>

namespace duplora::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

constexpr std::array<const char*, 7> kWeekDays{"sunday",   "monday", "tuesday", "wednesday",
                                               "thursday", "friday", "saturday"};
constexpr std::array<const char*, 3> kKinds{"interval", "every-day", "every-week"};

std::string KindName(std::uint8_t k) {
    return k < kKinds.size() ? kKinds[k] : std::to_string(k);
}

std::string WeekDayName(std::uint8_t d) {
    return d >= 1 && d <= 7 ? kWeekDays[d - 1] : std::to_string(d);
}

bool ReadInt(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

std::string NextRunText(const ScheduleRecord& r) {
    return schedule::Active(r) ? FormatDateTime(schedule::next_run(r)) : "-";
}

} // namespace

bool ApplyScheduleEdits(const ScheduleEdits& edits, const std::vector<ScheduleRecord>& list,
                        std::size_t index, ScheduleRecord& record, std::string& error) {
    ScheduleRecord r = record;
    if (edits.name) {
        const std::string refusal =
            rules::CheckScheduleName(*edits.name, [&](std::string_view name) {
                for (std::size_t i = 0; i < list.size(); ++i)
                    if (i != index && schedule::name(list[i]) == name)
                        return true;
                return false;
            });
        if (!refusal.empty()) {
            error = "--name: " + refusal;
            return false;
        }
        schedule::set_name(r, *edits.name);
    }
    if (edits.task)
        schedule::set_task_name(r, *edits.task);
    if (edits.every) {
        if (*edits.every == "interval")
            schedule::set_kind(r, ScheduleKind::Interval);
        else if (*edits.every == "day")
            schedule::set_kind(r, ScheduleKind::EveryDay);
        else if (*edits.every == "week")
            schedule::set_kind(r, ScheduleKind::EveryWeek);
        else {
            error = "--every: expected interval, day or week, got '" + *edits.every + "'";
            return false;
        }
    }
    if (edits.weekday) {
        int day = 0;
        for (std::size_t i = 0; i < kWeekDays.size(); ++i)
            if (*edits.weekday == kWeekDays[i])
                day = static_cast<int>(i) + 1;
        if (day == 0 && (!ReadInt(*edits.weekday, day) || day < 1 || day > 7)) {
            error = "--weekday: expected sunday..saturday or 1..7, got '" + *edits.weekday + "'";
            return false;
        }
        schedule::set_week_day(r, static_cast<std::uint8_t>(day));
    }
    if (edits.time) {
        double t = 0;
        if (!ParseTimeOfDay(*edits.time, t)) {
            error = "--time: expected hh:mm:ss with hours 0..23, got '" + *edits.time + "'";
            return false;
        }
        schedule::set_run_time(r, t);
    }
    if (edits.repeat) {
        int n = 0;
        if (!ReadInt(*edits.repeat, n) || n < -1 || n > 999) {
            error = "--repeat: expected -1 (no limit) or 0..999, got '" + *edits.repeat + "'";
            return false;
        }
        schedule::set_repeat_count(r, static_cast<std::int16_t>(n));
    }
    record = r;
    return true;
}

std::vector<std::pair<std::string, std::string>> DescribeSchedule(const ScheduleRecord& r) {
    return {
        {"name", schedule::name(r)},
        {"task_name", schedule::task_name(r)},
        {"kind", KindName(schedule::kind(r))},
        {"week_day", WeekDayName(schedule::week_day(r))},
        {"run_time", FormatTimeOfDay(schedule::run_time(r))},
        {"repeat_count", std::to_string(schedule::repeat_count(r))},
        {"next_run", schedule::next_run(r) > schedule::kNotSet
                         ? FormatDateTime(schedule::next_run(r))
                         : "- (" + FormatDateTime(schedule::next_run(r)) + ")"},
    };
}

std::string ScheduleListLine(const ScheduleRecord& r) {
    return schedule::name(r) + '\t' + schedule::task_name(r) + '\t' + KindName(schedule::kind(r)) +
           '\t' + FormatTimeOfDay(schedule::run_time(r)) + '\t' +
           std::to_string(schedule::repeat_count(r)) + '\t' + NextRunText(r);
}

// CLI11 fills plain strings; only options that were given become edits.
struct ScheduleCommands::Parts {
    CLI::App* schedule = nullptr;
    CLI::App* list = nullptr;
    CLI::App* show = nullptr;
    CLI::App* create = nullptr;
    CLI::App* set = nullptr;
    CLI::App* remove = nullptr;
    CLI::App* next = nullptr;
    CLI::App* scheduler = nullptr;
    std::string name;
    std::string at;
    bool waitForLock = false;
    struct Option {
        CLI::Option* option = nullptr;
        std::string value;
    };
    // Per sub-command (new, set): name, task, every, weekday, time, repeat.
    std::array<std::array<Option, 6>, 2> options;

    void AddEdits(CLI::App* sub, std::array<Option, 6>& o) {
        o[0].option = sub->add_option("--name", o[0].value, "new schedule name (15 bytes)");
        o[1].option = sub->add_option("--task", o[1].value, "name of the task to run (exact)");
        o[2].option =
            sub->add_option("--every", o[2].value, "interval | day | week: the kind of schedule");
        o[3].option = sub->add_option("--weekday", o[3].value,
                                      "sunday | monday | tuesday | wednesday | thursday | "
                                      "friday | saturday | 1..7: the day of a weekly schedule");
        o[4].option = sub->add_option("--time", o[4].value,
                                      "hh:mm:ss: the interval's length, else the time of day");
        o[5].option = sub->add_option("--repeat", o[5].value, "-1 (no limit) or 0..999");
    }
    static ScheduleEdits Edits(const std::array<Option, 6>& o) {
        ScheduleEdits e;
        std::array<std::optional<std::string>*, 6> fields{&e.name,    &e.task, &e.every,
                                                          &e.weekday, &e.time, &e.repeat};
        for (std::size_t i = 0; i < o.size(); ++i)
            if (o[i].option->count() > 0)
                *fields[i] = o[i].value;
        return e;
    }
};

ScheduleCommands::ScheduleCommands() : p_(std::make_unique<Parts>()) {}
ScheduleCommands::~ScheduleCommands() = default;

void ScheduleCommands::Add(CLI::App& app) {
    Parts& p = *p_;
    p.schedule = app.add_subcommand("schedule", "list and edit the schedules");
    p.schedule->require_subcommand(1);
    p.list = p.schedule->add_subcommand("list", "one line per schedule, tab-separated");
    p.show = p.schedule->add_subcommand("show", "the fields of one schedule");
    p.show->add_option("NAME", p.name, "schedule name (exact)")->required();
    p.create = p.schedule->add_subcommand("new", "append a schedule with the editor's values");
    p.create->add_option("NAME", p.name, "schedule name (default: \"Schedule n\")");
    p.AddEdits(p.create, p.options[0]);
    p.set = p.schedule->add_subcommand("set", "change fields of a schedule");
    p.set->add_option("NAME", p.name, "schedule name (exact)")->required();
    p.AddEdits(p.set, p.options[1]);
    p.remove = p.schedule->add_subcommand("delete", "remove a schedule");
    p.remove->add_option("NAME", p.name, "schedule name (exact)")->required();
    p.next = p.schedule->add_subcommand("next", "when each active schedule would run next");
    p.next->add_option("--at", p.at, "as if it were this local time: \"yyyy-mm-dd hh:mm:ss\"");
    p.scheduler = app.add_subcommand(
        "scheduler", "run due schedules until SIGINT or SIGTERM (one per configuration)");
    p.scheduler->add_flag("--wait", p.waitForLock,
                          "while another scheduler serves the configuration, wait for it to "
                          "end instead of exiting with 1");
}

bool ScheduleCommands::Parsed() const {
    return p_->schedule->parsed() || p_->scheduler->parsed();
}

int ScheduleCommands::Run(const std::string& configPath, const std::string& logPath,
                          const Clock& clock, const EditFunction& edit, std::ostream& out,
                          std::ostream& err) {
    Parts& p = *p_;
    auto fail = [&err](int code, const std::string& text) {
        err << "duplora-cli: " << text << '\n';
        return code;
    };
    if (p.scheduler->parsed()) {
        HeadlessOptions options;
        options.waitForLock = p.waitForLock;
        return RunHeadlessScheduler(configPath, logPath, options, out, err);
    }

    if (p.create->parsed()) {
        const ScheduleEdits edits = Parts::Edits(p.options[0]);
        const bool named = p.create->count("NAME") > 0;
        return edit(
            configPath,
            [&](TaskList& list) {
                auto& schedules = list.schedules();
                const std::string name = named ? p.name : schedule::NewName(schedules, Msg(142));
                const std::string refusal = rules::CheckScheduleName(name, [&](std::string_view n) {
                    return schedule::FindByName(schedules, std::string(n)) >= 0;
                });
                if (!refusal.empty())
                    return fail(kExitUsage, refusal);
                ScheduleRecord r = schedule::MakeNew(name);
                std::string error;
                if (!ApplyScheduleEdits(edits, schedules, schedules.size(), r, error))
                    return fail(kExitUsage, error);
                schedule::ApplyNextRun(r, clock.Now());
                schedules.push_back(r);
                list.setChanged();
                out << schedule::name(r) << '\n';
                return kExitOk;
            },
            err);
    }
    if (p.set->parsed() || p.remove->parsed()) {
        const bool set = p.set->parsed();
        const ScheduleEdits edits = Parts::Edits(p.options[1]);
        if (set && edits.Empty())
            return fail(kExitUsage, "schedule set: no option given (see schedule set --help)");
        return edit(
            configPath,
            [&](TaskList& list) {
                auto& schedules = list.schedules();
                const int found = schedule::FindByName(schedules, p.name);
                if (found < 0)
                    return fail(kExitUsage, "no schedule named '" + p.name + "'");
                const auto index = static_cast<std::size_t>(found);
                if (set) {
                    std::string error;
                    if (!ApplyScheduleEdits(edits, schedules, index, schedules[index], error))
                        return fail(kExitUsage, error);
                    schedule::ApplyNextRun(schedules[index], clock.Now());
                } else {
                    schedules.erase(schedules.begin() + found);
                }
                list.setChanged();
                return kExitOk;
            },
            err);
    }

    double at = clock.Now();
    if (p.next->parsed() && !p.at.empty() && !ParseDateTime(p.at, at))
        return fail(kExitUsage, "--at: expected \"yyyy-mm-dd hh:mm:ss\", got '" + p.at + "'");

    TaskList list;
    std::string error;
    if (LoadConfiguration(configPath, list, error) == LoadStatus::CannotOpen)
        return fail(kExitUsage, error);
    const auto& schedules = list.schedules();

    if (p.list->parsed()) {
        for (const ScheduleRecord& r : schedules)
            out << ScheduleListLine(r) << '\n';
    } else if (p.show->parsed()) {
        const int found = schedule::FindByName(schedules, p.name);
        if (found < 0)
            return fail(kExitUsage, "no schedule named '" + p.name + "'");
        for (const auto& [field, value] :
             DescribeSchedule(schedules[static_cast<std::size_t>(found)]))
            out << field << ": " << value << '\n';
    } else if (p.next->parsed()) {
        for (ScheduleRecord r : schedules) {
            if (!schedule::Active(r))
                continue;
            schedule::ApplyNextRun(r, at);
            out << schedule::name(r) << '\t' << FormatDateTime(schedule::next_run(r)) << '\n';
        }
    }
    out.flush();
    return kExitOk;
}

} // namespace duplora::cli

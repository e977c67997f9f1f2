#include "cli/Cli.h"

#include "cli/EditConfig.h"
#include "cli/Interrupt.h"
#include "cli/PlanOutput.h"
#include "cli/ProgressBar.h"
#include "cli/RunTasks.h"
#include "cli/ScheduleCommands.h"
#include "cli/TaskFields.h"
#include "sync/run/SyncRun.h"
#include "sync/share/ShareRun.h"
#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"
#include "tasks/ProgramPaths.h"
#include "tasks/TaskPresets.h"
#include "tasks/TaskRules.h"
#include "tasks/TextTable.h"

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>

namespace duplora::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The process's working folder, or "" when it cannot be told (removed).
std::string CurrentFolder() {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::current_path(ec);
    return ec ? std::string() : p.string();
}

// Binds one string option to an optional field edit: CLI11 fills `value`,
// and only an option that was given becomes an edit.
struct Binding {
    CLI::Option* option = nullptr;
    std::string value;
    std::optional<std::string>* target = nullptr;
};

// The options that change one field each, shared by `new` and `set`.
class FieldOptions {
public:
    void Add(CLI::App* sub) {
        bind(sub, "--name", "new task name (at most 15 characters)", &edits_.name);
        bind(sub, "--host", "host folder", &edits_.host);
        bind(sub, "--mirror", "mirror folder", &edits_.mirror);
        bind(sub, "--type", "folder | file", &edits_.type);
        bind(sub, "--subfolders", "on | off: include sub-folders", &edits_.subfolders);
        folders_ = sub->add_option("--folder", edits_.folders,
                                   "a folder ('/a/b') or, for a file task, a file name; "
                                   "repeat for more; replaces the list ('' empties it)")
                       ->expected(1)
                       ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        sub->add_flag("--include-folders", edits_.includeFolders,
                      "the folder list names the only sub-folders to include");
        sub->add_flag("--exclude-folders", edits_.excludeFolders,
                      "the folder list names sub-folders to leave out");
        // Each difference allows only the actions the rulebook allows for it.
        using D = rules::Difference;
        bind(sub, "--only-in-host", ActionHelp(D::OnlyInHost, "files only in the host"),
             &edits_.onlyInHost);
        bind(sub, "--only-in-mirror", ActionHelp(D::OnlyInMirror, "files only in the mirror"),
             &edits_.onlyInMirror);
        bind(sub, "--size-differs", ActionHelp(D::SizeDiffers, "same time, other size"),
             &edits_.sizeDiffers);
        bind(sub, "--newer-in-host", ActionHelp(D::NewerInHost, "newer in the host"),
             &edits_.newerInHost);
        bind(sub, "--newer-in-mirror", ActionHelp(D::NewerInMirror, "newer in the mirror"),
             &edits_.newerInMirror);
        bind(sub, "--empty-folders", ActionHelp(D::EmptyFolder, "empty folders"),
             &edits_.emptyFolders);
        bind(sub, "--description", "free text", &edits_.description);
        bind(sub, "--auto", "on | off: run unattended with /A", &edits_.autoMode);
        const char* masks = "masks separated by ';' ('' = none)";
        bind(sub, "--only-masks", masks, &edits_.onlyMasks);
        bind(sub, "--ignore-masks", masks, &edits_.ignoreMasks);
        bind(sub, "--delete-masks", masks, &edits_.deleteMasks);
        bind(sub, "--speed", "copy speed limit in KB/s, 0 to 10000 (0 = none)", &edits_.speed);
        bind(sub, "--max-errors", "failures that stop a run, 0 to 999 (0 = none)",
             &edits_.maxErrors);
        bind(sub, "--ignore-hour", "on | off: a one-hour difference counts as equal",
             &edits_.ignoreHour);
        bind(sub, "--tolerance", "time difference in seconds that counts as equal, 0 to 99",
             &edits_.tolerance);
        bind(sub, "--net-user", "user name for a network folder", &edits_.netUser);
        bind(sub, "--net-password",
             "password for a network folder; '-' reads it from standard input (a value "
             "here is visible to every user in the process list)",
             &edits_.netPassword);
        passwordFile_ = sub->add_option("--net-password-file", passwordFilePath_,
                                        "read the network folder's password from the first "
                                        "line of FILE");
        bind(sub, "--detect-moves", "on | off: rename moved files instead of copy + delete",
             &edits_.detectMoves);
        bind(sub, "--move-min-size",
             "smallest file in bytes taken for a move, 1 to 4294967295 (default 65536)",
             &edits_.moveMinSize);
        bind(sub, "--on-delete",
             "permanent | trash | versions: where deleted and replaced files go", &edits_.onDelete);
        bind(sub, "--versions-folder",
             "folder for deleted and replaced files (absolute, or relative to each side's "
             "root; at most 29 bytes)",
             &edits_.versionsFolder);
        bind(sub, "--delete-limit",
             "largest share of a side, 0 to 100 per cent, that a quiet run may delete or "
             "replace (0 = no limit)",
             &edits_.deleteLimit);
        bind(sub, "--remember",
             "on | off: remember the last run, so deletions and edits on both sides are told "
             "apart",
             &edits_.remember);
        bind(sub, "--deleted-in-host",
             ActionHelp(D::DeletedInHost, "gone from the host since the last run"),
             &edits_.deletedInHost);
        bind(sub, "--deleted-in-mirror",
             ActionHelp(D::DeletedInMirror, "gone from the mirror since the last run"),
             &edits_.deletedInMirror);
        bind(sub, "--conflict", ConflictHelp(), &edits_.conflict);
    }

    // The edits, once CLI11 has parsed the arguments. A password asked for
    // from a file or from `in` is read here; false with `error` when it
    // cannot be.
    bool Edits(std::istream& in, FieldEdits& out, std::string& error) {
        for (const auto& b : bindings_)
            if (b->option->count() > 0)
                *b->target = b->value;
        if (!ReadSecret(in, error))
            return false;
        edits_.foldersGiven = folders_->count() > 0;
        std::erase(edits_.folders, std::string());
        const std::string cwd = CurrentFolder();
        for (std::optional<std::string>* root : {&edits_.host, &edits_.mirror})
            if (*root)
                **root = AbsoluteRoot(**root, cwd);
        out = edits_;
        return true;
    }

private:
    // `--net-password -` and `--net-password-file FILE` keep the secret off
    // the command line; either gives the first line of what it reads.
    bool ReadSecret(std::istream& in, std::string& error) {
        const bool fromFile = passwordFile_->count() > 0;
        if (fromFile && edits_.netPassword) {
            error = "--net-password and --net-password-file exclude each other";
            return false;
        }
        if (fromFile)
            return ReadFirstLine(passwordFilePath_, edits_.netPassword.emplace(), error);
        if (edits_.netPassword && *edits_.netPassword == "-") {
            std::string line;
            if (!std::getline(in, line) && line.empty()) {
                error = "--net-password -: no password on standard input";
                return false;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            *edits_.netPassword = line;
        }
        return true;
    }

    static bool ReadFirstLine(const std::string& path, std::string& line, std::string& error) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[4096];
        ssize_t n = -1;
        if (fd >= 0) {
            do
                n = ::read(fd, buffer, sizeof buffer);
            while (n < 0 && errno == EINTR);
        }
        const int readError = errno;
        if (fd >= 0)
            ::close(fd);
        if (n < 0) {
            error = "--net-password-file: cannot read '" + path + "': " + std::strerror(readError);
            return false;
        }
        line.assign(buffer, static_cast<std::size_t>(n));
        line.erase(std::min(line.find('\n'), line.size()));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    }

    // "ignore | to-mirror | delete: files only in the host": the choices of
    // one kind of difference, as the rulebook allows them.
    static std::string ActionHelp(rules::Difference kind, const char* what) {
        std::string text;
        for (SyncAction a : rules::AllowedActions(kind))
            text += (text.empty() ? "" : " | ") + ActionName(static_cast<std::uint8_t>(a));
        return text + ": " + what;
    }

    // "keep-both | newer-wins | skip: ...": the answers to a file changed on
    // both sides since the last run.
    static std::string ConflictHelp() {
        std::string text;
        for (ConflictAction a : rules::kConflictActions)
            text += (text.empty() ? "" : " | ") + std::string(rules::ConflictWord(a));
        return text + ": changed on both sides since the last run";
    }

    void bind(CLI::App* sub, const char* name, const std::string& help,
              std::optional<std::string>* t) {
        bindings_.push_back(std::make_unique<Binding>());
        Binding& b = *bindings_.back();
        b.target = t;
        b.option = sub->add_option(name, b.value, help);
    }

    FieldEdits edits_;
    CLI::Option* folders_ = nullptr;
    CLI::Option* passwordFile_ = nullptr;
    std::string passwordFilePath_;
    // CLI11 keeps pointers to each value, so the bindings must not move.
    std::vector<std::unique_ptr<Binding>> bindings_;
};

class Console {
public:
    Console(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    int Fail(int code, const std::string& text) {
        err_ << "duplora-cli: " << text << '\n';
        return code;
    }

    // A missing file is an empty list; an unreadable one is an error (2).
    bool Load(const std::string& path, TaskList& list, int& code) {
        std::string error;
        if (LoadConfiguration(path, list, error) == LoadStatus::CannotOpen) {
            code = Fail(kExitUsage, error);
            return false;
        }
        return true;
    }

    // The one task whose name equals `name` without regard to case.
    bool FindOne(const TaskList& list, const std::string& name, std::size_t& index, int& code) {
        const std::vector<std::size_t> found = list.findNoCase(name);
        if (found.empty()) {
            code = Fail(kExitUsage, "no task named '" + name + "'");
            return false;
        }
        if (found.size() > 1) {
            std::string names;
            for (std::size_t i : found)
                names += "\n  " + list[i].name;
            code = Fail(kExitUsage, "'" + name + "' matches several tasks:" + names);
            return false;
        }
        index = found[0];
        return true;
    }

    std::ostream& out() { return out_; }
    std::ostream& err() { return err_; }

private:
    std::ostream& out_;
    std::ostream& err_;
};

int ShowPlan(Console& console, const Task& task, bool json) {
    ResultLines scratch;
    RunContext run;
    run.TaskName = task.name;
    run.Task = task.record;
    run.Start = RunStart::Console; // no message boxes, the quiet run's delete guard
    run.Lines = &scratch;
    // The same gate as `run`: a plan is refused where the run would be, with
    // the same line.
    ShareConnector shares;
    PlanOnly(run, &shares);
    if (!shares.DisconnectError().empty())
        console.Fail(kExitFailed, shares.DisconnectError());
    if (run.Refusal != RefusalReason::None)
        return console.Fail(kExitFailed, run.RefusedLine);
    const PlanOptions options{run.Task.detect_moves(), run.Task.remember_last_run()};
    if (json)
        WritePlanJson(run.Plan, task.name, run.HostRoot, run.MirrorRoot, console.out(), options);
    else
        WritePlanText(run.Plan, console.out(), options);
    console.out().flush();
    return shares.DisconnectError().empty() ? kExitOk : kExitFailed;
}

// The first word where a command is expected that names none, or "". CLI11
// alone would call `duplora-cli lsit` a missing command; the user deserves
// to hear which word was not understood. Options are skipped with their
// values, looked up in the command they follow and its parents (the options
// of the main command may come after a subcommand).
std::string UnknownCommand(const CLI::App& app, const std::vector<std::string>& args) {
    const CLI::App* current = &app;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--")
            break;
        if (a.size() > 1 && a[0] == '-') {
            if (a.find('=') != std::string::npos)
                continue;
            for (const CLI::App* level = current; level; level = level->get_parent()) {
                if (const CLI::Option* o = level->get_option_no_throw(a)) {
                    if (o->get_items_expected_max() > 0)
                        ++i;
                    break;
                }
            }
            continue;
        }
        const std::vector<const CLI::App*> found =
            current->get_subcommands([&a](const CLI::App* s) { return s->get_name() == a; });
        if (!found.empty()) {
            current = found.front();
            continue;
        }
        // A word after a command that has no subcommands is its argument.
        if (current->get_require_subcommand_min() > 0)
            return a;
    }
    return {};
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return RunCli(args, out, err, std::cin);
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           std::istream& in) {
    Console console(out, err);

    CLI::App app{"Keeps pairs of folders in step (the console side of Duplora).", "duplora-cli"};
    app.set_version_flag("--version", std::string("duplora-cli ") + DUPLORA_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    std::string configPath, langCode;
    app.add_option("--config", configPath,
                   "configuration file (default: the desktop program's Duplora.cfg)");
    app.add_option("--lang", langCode, "en | zh-CN | zh-TW: the interface language");

    CLI::App* cmdList = app.add_subcommand("list", "task names, one per line, in list order");

    std::string name;
    CLI::App* cmdShow = app.add_subcommand("show", "the fields of one task");
    cmdShow->add_option("NAME", name, "task name (any letter case)")->required();

    bool json = false;
    CLI::App* cmdPlan =
        app.add_subcommand("plan", "what a run of the task would do; changes nothing");
    cmdPlan->add_option("NAME", name, "task name (any letter case)")->required();
    cmdPlan->add_flag("--json", json, "one JSON object instead of text");

    std::vector<std::string> runNames;
    bool runAuto = false;
    CLI::App* cmdRun = app.add_subcommand("run", "run tasks quietly and log the result");
    cmdRun->add_option("NAME", runNames, "task names (any letter case)");
    cmdRun->add_flag("--auto", runAuto, "every task in auto mode");
    bool runJson = false;
    cmdRun->add_flag("--json", runJson, "one JSON object per run instead of the result lines");

    FieldOptions newOptions, setOptions;
    CLI::App* cmdNew = app.add_subcommand("new", "append a task with the new-task defaults");
    cmdNew->add_option("NAME", name, "task name (at most 15 characters)")->required();
    std::string presetName;
    cmdNew->add_option("--preset", presetName,
                       "start from a preset instead of the defaults: mirror or two-way");
    newOptions.Add(cmdNew);

    CLI::App* cmdSet = app.add_subcommand("set", "change fields of a task");
    cmdSet->add_option("NAME", name, "task name (any letter case)")->required();
    setOptions.Add(cmdSet);

    CLI::App* cmdDelete = app.add_subcommand("delete", "remove a task");
    cmdDelete->add_option("NAME", name, "task name (any letter case)")->required();

    ScheduleCommands scheduleCommands;
    scheduleCommands.Add(app);

    if (const std::string unknown = UnknownCommand(app, args); !unknown.empty())
        return console.Fail(kExitUsage,
                            "unknown command '" + unknown + "' (see duplora-cli --help)");
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (!langCode.empty()) {
        Language lang{};
        if (!LanguageFromCode(langCode, lang))
            return console.Fail(kExitUsage,
                                "--lang: expected en, zh-CN or zh-TW, got '" + langCode + "'");
        SetLanguage(lang);
    } else {
        SelectLanguage();
    }

    std::string logPath;
    if (configPath.empty()) {
        const ProgramPaths paths = ResolveProgramPaths();
        configPath = paths.configPath;
        logPath = paths.logPath;
    } else {
        logPath = LogPathForConfig(configPath);
    }

    if (scheduleCommands.Parsed())
        return scheduleCommands.Run(configPath, logPath, SystemClock(), EditConfig, out, err);
    // Edits read the file afresh under the edit lock (see EditConfig.h).
    if (cmdNew->parsed()) {
        FieldEdits edits;
        if (std::string error; !newOptions.Edits(in, edits, error))
            return console.Fail(kExitUsage, error);
        const std::optional<TaskPreset> preset = PresetFromName(presetName);
        if (!presetName.empty() && !preset)
            return console.Fail(kExitUsage,
                                "--preset: expected mirror or two-way, got '" + presetName + "'");
        return EditConfig(
            configPath,
            [&](TaskList& list) {
                std::string error;
                if (!CheckTaskName(name, list, list.size(), error))
                    return console.Fail(kExitUsage, error);
                Task task{name, preset ? MakePresetRecord(*preset, Msg(76))
                                       : TaskRecord::MakeNew(Msg(76))};
                if (!ApplyFieldEdits(edits, list, list.size(), task, error))
                    return console.Fail(kExitUsage, error);
                list.append(task.name, task.record);
                return kExitOk;
            },
            err);
    }
    // `set` and `delete` find one task by name, then change the list.
    auto editOne = [&](const std::function<int(TaskList&, std::size_t)>& edit) {
        return EditConfig(
            configPath,
            [&](TaskList& list) {
                std::size_t index = 0;
                int code = kExitOk;
                if (!console.FindOne(list, name, index, code))
                    return code;
                return edit(list, index);
            },
            err);
    };
    if (cmdSet->parsed()) {
        FieldEdits edits;
        if (std::string error; !setOptions.Edits(in, edits, error))
            return console.Fail(kExitUsage, error);
        if (edits.Empty())
            return console.Fail(kExitUsage, "set: no field option given (see set --help)");
        return editOne([&](TaskList& list, std::size_t index) {
            std::string error;
            if (!ApplyFieldEdits(edits, list, index, list[index], error))
                return console.Fail(kExitUsage, error);
            return kExitOk;
        });
    }
    if (cmdDelete->parsed()) {
        return editOne([](TaskList& list, std::size_t index) {
            list.remove(index);
            return kExitOk;
        });
    }

    TaskList list;
    int code = kExitOk;
    if (!console.Load(configPath, list, code))
        return code;

    if (cmdList->parsed()) {
        for (const Task& t : list.tasks())
            out << t.name << '\n';
        out.flush();
        return kExitOk;
    }

    if (cmdRun->parsed()) {
        if (runAuto == !runNames.empty())
            return console.Fail(kExitUsage, "run: give task names or --auto (not both)");
        RunRequest request;
        request.logPath = logPath;
        request.lockPath = ConfigLockPath(configPath);
        request.interrupted = InterruptRequested;
        request.json = runJson;
        std::vector<bool> chosen(list.size(), false);
        if (runAuto) {
            for (std::size_t i = 0; i < list.size(); ++i)
                chosen[i] = list[i].record.auto_mode();
        } else {
            for (const std::string& n : runNames) {
                const std::vector<std::size_t> found = list.findNoCase(n);
                if (found.empty())
                    return console.Fail(kExitUsage, "no task named '" + n + "'");
                for (std::size_t i : found)
                    chosen[i] = true;
            }
        }
        for (std::size_t i = 0; i < list.size(); ++i)
            if (chosen[i])
                request.tasks.push_back(i);
        if (request.tasks.empty())
            err << "duplora-cli: no task is in auto mode\n";
        // The live bar only for the process's own stderr, and only when it
        // is a terminal: a log file or a pipe gets result lines alone.
        std::unique_ptr<ProgressBar> bar;
        if (&err == &std::cerr && isatty(STDERR_FILENO)) {
            // One column short of the width: a line that fills the last
            // column wraps on some terminals. Asked again at each redraw, so
            // the line follows a resized window.
            auto width = [] {
                const std::size_t w = TerminalWidth(STDERR_FILENO);
                return w > 1 ? w - 1 : w;
            };
            bar = std::make_unique<ProgressBar>(err, width());
            bar->FollowWidth(width);
            bar->SetPlain(PlainTerminal(std::getenv("TERM")));
            request.bar = bar.get();
        }
        return RunTasks(list, request, out, err);
    }

    std::size_t index = 0;
    if (!console.FindOne(list, name, index, code))
        return code;

    if (cmdShow->parsed()) {
        for (const auto& [field, value] : DescribeTask(list[index]))
            out << field << ": " << value << '\n';
        out.flush();
        return kExitOk;
    }
    if (cmdPlan->parsed())
        return ShowPlan(console, list[index], json);
    return kExitUsage;
}

} // namespace duplora::cli

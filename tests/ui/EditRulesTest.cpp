// The same edit, made in the main window, in the advanced options dialog or
// with `duplora-cli new/set`, is accepted or refused alike, with the same
// text (the console puts its option name in front).
#include "cli/TaskFields.h"
#include "tasks/TaskEditRules.h"
#include "ui/AdvOptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace duplora {
namespace {

// What one front end answered: "" when it stored the edit.
using Front = std::function<std::string(const TaskList& list, Task& task)>;

struct EditRow {
    const char* what;
    std::optional<Front> window, dialog;
    std::function<void(cli::FieldEdits&)> console;
    bool accepted;
};

// The window: a change of the basic fields, stored as the controls hold it.
Front Window(std::function<void(TaskFields&)> change) {
    return [change](const TaskList& list, Task& task) {
        TaskFields f = FieldsOf(task);
        change(f);
        return StoreFields(f, task, list, 0);
    };
}

// The dialog's Ok: its checks, then the store.
Front Dialog(std::function<void(AdvValues&)> change) {
    return [change](const TaskList&, Task& task) {
        AdvValues v = LoadAdvValues(task.record);
        change(v);
        std::string refusal = FieldRefusal(v, task.record);
        if (refusal.empty())
            refusal = VersionsFolderRefusal(v, task.record);
        if (refusal.empty())
            StoreAdvValues(v, task.record);
        return refusal;
    };
}

std::string Console(const std::function<void(cli::FieldEdits&)>& change, const TaskList& list,
                    Task& task) {
    cli::FieldEdits e;
    change(e);
    std::string error;
    if (cli::ApplyFieldEdits(e, list, 0, task, error))
        return {};
    // "--option: text" -> "text"
    const std::size_t colon = error.find(": ");
    return colon == std::string::npos ? error : error.substr(colon + 2);
}

TEST(EditRules, EveryFrontEndAcceptsAndRefusesAlike) {
    const std::string longPath(600, 'p');
    const std::vector<EditRow> rows = {
        {"empty name",
         Window([](TaskFields& f) { f.name = ""; }),
         {},
         [](cli::FieldEdits& e) { e.name = ""; },
         false},
        {"16-character name",
         Window([](TaskFields& f) { f.name = "abcdefghijklmnop"; }),
         {},
         [](cli::FieldEdits& e) { e.name = "abcdefghijklmnop"; },
         false},
        {"name of the other task",
         Window([](TaskFields& f) { f.name = "OTHER"; }),
         {},
         [](cli::FieldEdits& e) { e.name = "OTHER"; },
         false},
        {"new name",
         Window([](TaskFields& f) { f.name = "Photos"; }),
         {},
         [](cli::FieldEdits& e) { e.name = "Photos"; },
         true},
        {"empty host",
         Window([](TaskFields& f) { f.hostPath = ""; }),
         {},
         [](cli::FieldEdits& e) { e.host = ""; },
         false},
        {"600-byte mirror",
         Window([longPath](TaskFields& f) { f.mirrorPath = longPath; }),
         {},
         [longPath](cli::FieldEdits& e) { e.mirror = longPath; },
         false},
        {"600-byte description",
         Window([longPath](TaskFields& f) { f.description = longPath; }),
         {},
         [longPath](cli::FieldEdits& e) { e.description = longPath; },
         false},
        {"copy to the host of a host-only file",
         Window([](TaskFields& f) { f.actions[0] = SyncAction::MirrorToHost; }),
         {},
         [](cli::FieldEdits& e) { e.onlyInHost = "to-host"; },
         false},
        {"speed above the limit",
         {},
         Dialog([](AdvValues& v) { v.speed = 10001; }),
         [](cli::FieldEdits& e) { e.speed = "10001"; },
         false},
        {"speed at the limit",
         {},
         Dialog([](AdvValues& v) { v.speed = 10000; }),
         [](cli::FieldEdits& e) { e.speed = "10000"; },
         true},
        {"delete limit 101",
         {},
         Dialog([](AdvValues& v) { v.deleteLimit = 101; }),
         [](cli::FieldEdits& e) { e.deleteLimit = "101"; },
         false},
        {"smallest moved file 2 GiB",
         {},
         Dialog([](AdvValues& v) { v.moveMinKb = 2 * 1024 * 1024; }),
         [](cli::FieldEdits& e) { e.moveMinSize = "2147483648"; },
         false},
        {"16-character user name",
         {},
         Dialog([](AdvValues& v) { v.netUser = "uuuuuuuuuuuuuuuu"; }),
         [](cli::FieldEdits& e) { e.netUser = "uuuuuuuuuuuuuuuu"; },
         false},
        {"versioning folder longer than a task keeps",
         {},
         Dialog([](AdvValues& v) {
             v.onDelete = DeleteMode::Versions;
             v.versionsFolder = std::string(TaskRecord::kVersionsFolderCapacity + 1, 'v');
         }),
         [](cli::FieldEdits& e) {
             e.onDelete = "versions";
             e.versionsFolder = std::string(TaskRecord::kVersionsFolderCapacity + 1, 'v');
         },
         false},
        {"delete limit 100",
         {},
         Dialog([](AdvValues& v) { v.deleteLimit = 100; }),
         [](cli::FieldEdits& e) { e.deleteLimit = "100"; },
         false},
    };
    for (const EditRow& row : rows) {
        SCOPED_TRACE(row.what);
        TaskList list;
        list.append("Task", TaskRecord::MakeNew("d"));
        list.append("Other", TaskRecord::MakeNew("d"));
        list[0].record.set_host_path("/data/h");
        list[0].record.set_mirror_path("/data/m");

        Task byConsole = list[0];
        const std::string console = Console(row.console, list, byConsole);
        EXPECT_EQ(console.empty(), row.accepted) << console;
        for (const std::optional<Front>& front : {row.window, row.dialog}) {
            if (!front)
                continue;
            Task task = list[0];
            EXPECT_EQ((*front)(list, task), console);
            EXPECT_EQ(task.record.bytes(), byConsole.record.bytes()) << "stored alike";
            EXPECT_EQ(task.name, byConsole.name);
        }
    }
}

} // namespace
} // namespace duplora

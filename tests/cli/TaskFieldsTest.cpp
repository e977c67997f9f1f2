// The field rules of new and set, below the command line.

#include "cli/TaskFields.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace duplora::cli {
namespace {

TEST(TaskFields, Utf8LengthCountsCharactersAndRejectsBadSequences) {
    EXPECT_EQ(Utf8Length(""), 0);
    EXPECT_EQ(Utf8Length("abc"), 3);
    EXPECT_EQ(Utf8Length("ü€😀"), 3);
    EXPECT_EQ(Utf8Length("\xC3"), -1);     // cut sequence
    EXPECT_EQ(Utf8Length("\xC0\xAF"), -1); // overlong
    EXPECT_EQ(Utf8Length("a\x80"), -1);    // stray continuation byte
    EXPECT_EQ(Utf8Length("\xF5\x80\x80\x80"), -1);
}

TEST(TaskFields, NameChecks) {
    TaskList list;
    list.append("Alpha", TaskRecord::MakeNew(""));
    list.append("Beta", TaskRecord::MakeNew(""));
    std::string error;
    EXPECT_TRUE(CheckTaskName("Gamma", list, list.size(), error));
    EXPECT_FALSE(CheckTaskName("ALPHA", list, list.size(), error));
    EXPECT_TRUE(CheckTaskName("ALPHA", list, 0, error)) << "its own name in another case";
    EXPECT_FALSE(CheckTaskName("beta", list, 0, error));
    EXPECT_FALSE(CheckTaskName("two\r\nlines", list, list.size(), error));
    EXPECT_FALSE(CheckTaskName("bad\xFF", list, list.size(), error));
}

TEST(TaskFields, ActionNamesRoundTripAndShowStrangeBytes) {
    for (std::uint8_t v = 0; v < 4; ++v)
        EXPECT_EQ(ActionFromName(ActionName(v)), static_cast<SyncAction>(v));
    EXPECT_EQ(ActionName(9), "invalid(9)");
    EXPECT_FALSE(ActionFromName("Ignore")); // names are matched by the caller in lower case

    Task task{"T", TaskRecord::MakeNew("")};
    task.record.bytes()[38] = 7; // a damaged only_in_host_action byte
    bool seen = false;
    for (const auto& [field, value] : DescribeTask(task)) {
        if (field == "only_in_host_action") {
            EXPECT_EQ(value, "invalid(7)");
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
}

TEST(TaskFields, RefusedEditsLeaveTheTaskUntouched) {
    TaskList list;
    Task task{"T", TaskRecord::MakeNew("d")};
    const Task before = task;
    FieldEdits e;
    e.host = "/new/host";
    e.speed = "20";
    e.onlyMasks = "*.a;[";
    std::string error;
    EXPECT_FALSE(ApplyFieldEdits(e, list, 0, task, error));
    EXPECT_NE(error.find("--only-masks"), std::string::npos) << error;
    EXPECT_EQ(task.record, before.record);
    EXPECT_EQ(task.name, before.name);

    e.onlyMasks = "*.a;*.b";
    ASSERT_TRUE(ApplyFieldEdits(e, list, 0, task, error)) << error;
    EXPECT_EQ(task.record.host_path(), "/new/host");
    EXPECT_EQ(task.record.speed_limit(), 20);
}

TEST(TaskFields, ActionsAreCheckedPerField) {
    TaskList list;
    Task task{"T", TaskRecord::MakeNew("")};
    std::string error;
    struct Case {
        std::optional<std::string> FieldEdits::*field;
        const char* allowed[4];
    };
    const Case cases[] = {
        {&FieldEdits::onlyInHost, {"ignore", "to-mirror", "delete"}},
        {&FieldEdits::onlyInMirror, {"ignore", "to-host", "delete"}},
        {&FieldEdits::sizeDiffers, {"ignore", "to-mirror", "to-host"}},
        {&FieldEdits::newerInHost, {"ignore", "to-mirror", "to-host"}},
        {&FieldEdits::newerInMirror, {"ignore", "to-mirror", "to-host"}},
        {&FieldEdits::emptyFolders, {"ignore", "to-mirror", "to-host", "delete"}},
        {&FieldEdits::deletedInHost, {"delete", "to-host", "ignore"}},
        {&FieldEdits::deletedInMirror, {"delete", "to-mirror", "ignore"}},
    };
    for (const Case& c : cases) {
        for (const char* action : {"ignore", "delete", "to-mirror", "to-host"}) {
            bool allowed = false;
            for (const char* a : c.allowed)
                allowed = allowed || (a && std::string(a) == action);
            FieldEdits e;
            e.*c.field = std::string(action);
            EXPECT_EQ(ApplyFieldEdits(e, list, 0, task, error), allowed) << action << error;
        }
        FieldEdits upper;
        upper.*c.field = std::string("IGNORE");
        EXPECT_TRUE(ApplyFieldEdits(upper, list, 0, task, error));
    }
}

// --remember and --conflict: a word lands in its field as show prints it;
// any other is refused by name and the task stays as it was.
TEST(TaskFields, RememberAndConflictWords) {
    TaskList list;
    using Field = std::optional<std::string> FieldEdits::*;
    const struct {
        Field field;
        const char* value;
        const char* shown; // the show field's value, or the refusal
    } cases[] = {
        {&FieldEdits::remember, "ON", "on"},
        {&FieldEdits::remember, "yes", "--remember: expected on or off, got 'yes'"},
        {&FieldEdits::conflict, "Newer-Wins", "newer-wins"},
        {&FieldEdits::conflict, "skip", "skip"},
        {&FieldEdits::conflict, "both",
         "--conflict: expected keep-both, newer-wins or skip, got 'both'"},
    };
    for (const auto& c : cases) {
        Task task{"T", TaskRecord::MakeNew("")};
        const TaskRecord before = task.record;
        FieldEdits e;
        e.*c.field = c.value;
        std::string error;
        if (!ApplyFieldEdits(e, list, 0, task, error)) {
            EXPECT_EQ(error, c.shown);
            EXPECT_EQ(task.record, before);
            continue;
        }
        const std::string key =
            c.field == &FieldEdits::remember ? "remember_last_run" : "conflict_action";
        const auto fields = DescribeTask(task);
        EXPECT_NE(std::find(fields.begin(), fields.end(), std::pair{key, std::string(c.shown)}),
                  fields.end())
            << c.value;
    }
}

} // namespace
} // namespace duplora::cli

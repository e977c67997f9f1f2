#include "app/gui/CommandLine.h"

#include <gtest/gtest.h>

using namespace duplora;

namespace {

// Tasks: 0 "Daily" (auto), 1 "Photos", 2 "daily" (auto), 3 "Music".
TaskList Sample() {
    TaskList list;
    for (const char* name : {"Daily", "Photos", "daily", "Music"}) {
        TaskRecord r = TaskRecord::MakeNew("");
        r.set_auto_mode(std::string(name) != "Photos" && std::string(name) != "Music");
        list.append(name, r);
    }
    return list;
}

struct Outcome {
    bool closeNow;
    RunFlags flags;
    std::vector<bool> ticked;
};

Outcome Apply(std::vector<std::string> args) {
    TaskList list = Sample();
    Outcome o{};
    o.closeNow = ApplyCommandLine(args, list, o.flags);
    for (const auto& t : list.tasks())
        o.ticked.push_back(t.checked);
    return o;
}

const std::vector<bool> kNone{false, false, false, false};

} // namespace

TEST(CommandLine, NoSelector) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"/A", "extra"}, {"-Aphotos", "x"}}) {
        const Outcome o = Apply(args);
        EXPECT_FALSE(o.closeNow);
        EXPECT_FALSE(o.flags.command_line_run);
        EXPECT_FALSE(o.flags.start_hidden);
        EXPECT_EQ(o.ticked, kNone);
    }
    // "/h" in any case alone only hides; more than one selector is ignored.
    for (const auto& args : std::vector<std::vector<std::string>>{{"/h"}, {"/H", "/A", "-Cx"}}) {
        const Outcome o = Apply(args);
        EXPECT_FALSE(o.closeNow);
        EXPECT_TRUE(o.flags.start_hidden);
        EXPECT_FALSE(o.flags.command_line_run);
        EXPECT_EQ(o.ticked, kNone);
    }
}

TEST(CommandLine, SelectorsTickTasks) {
    Outcome o = Apply({"/a"});
    EXPECT_FALSE(o.closeNow);
    EXPECT_TRUE(o.flags.command_line_run);
    EXPECT_EQ(o.ticked, (std::vector<bool>{true, false, true, false}));

    // Name without regard to case; every task of that name, in list order.
    o = Apply({"-aDAILY"});
    EXPECT_TRUE(o.flags.command_line_run);
    EXPECT_FALSE(o.flags.skip_mirror_scan);
    EXPECT_EQ(o.ticked, (std::vector<bool>{true, false, true, false}));

    o = Apply({"-cphotos"});
    EXPECT_TRUE(o.flags.skip_mirror_scan);
    EXPECT_EQ(o.ticked, (std::vector<bool>{false, true, false, false}));

    o = Apply({"/H", "/A"});
    EXPECT_TRUE(o.flags.start_hidden);
    EXPECT_TRUE(o.flags.command_line_run);
    EXPECT_FALSE(o.closeNow);
    EXPECT_EQ(o.ticked, (std::vector<bool>{true, false, true, false}));
}

TEST(CommandLine, NothingMatched) {
    // A selector that ticks nothing ends the program, unless it starts hidden.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-ANoSuchTask"}, {"-CNoSuchTask"}, {"-A"}, {"/X"}, {"-"}, {""}, {"-A Daily"}}) {
        const Outcome o = Apply(args);
        EXPECT_TRUE(o.closeNow) << args[0];
        EXPECT_TRUE(o.flags.command_line_run);
        EXPECT_FALSE(o.flags.skip_mirror_scan);
        EXPECT_EQ(o.ticked, kNone);
    }
    const Outcome hidden = Apply({"/H", "-Anone"});
    EXPECT_FALSE(hidden.closeNow);
    EXPECT_TRUE(hidden.flags.start_hidden);
    EXPECT_TRUE(hidden.flags.command_line_run);

    // "/A" with no auto task ticks nothing either.
    TaskList list;
    list.append("Only", TaskRecord::MakeNew(""));
    RunFlags flags;
    EXPECT_TRUE(ApplyCommandLine({"/A"}, list, flags));
}

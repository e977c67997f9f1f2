#include "tasks/TaskRecord.h"
#include "tasks/TaskList.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

using namespace duplora;

namespace {
std::uint64_t bitsOf(double d) {
    return std::bit_cast<std::uint64_t>(d);
}
} // namespace

TEST(TaskRecord, NewTaskDefaultsAndStoredBytes) {
    TaskRecord r = TaskRecord::MakeNew("Task description...");
    EXPECT_EQ(r.description(), "Task description...");
    EXPECT_EQ(r.only_in_host_action(), SyncAction::Ignore);
    EXPECT_EQ(r.empty_folder_action(), SyncAction::Ignore);
    EXPECT_EQ(r.sync_type(), SyncType::Folder);
    EXPECT_FALSE(r.include_subfolders());
    EXPECT_FALSE(r.only_include_folders());
    EXPECT_TRUE(r.ignore_hour_difference());
    EXPECT_EQ(r.speed_limit(), 3000);
    EXPECT_EQ(r.max_errors(), 10);
    EXPECT_EQ(bitsOf(r.time_tolerance()), TaskRecord::kTwoSecondsBits);
    EXPECT_EQ(r.tolerance_seconds(), 2);
    // Little-endian fields at their stored offsets.
    const auto& b = r.bytes();
    EXPECT_EQ(b[3184], 0xB8); // 3000 = 0x0BB8
    EXPECT_EQ(b[3185], 0x0B);
    EXPECT_EQ(b[3446], 10);
    EXPECT_EQ(b[3449], 0xFF);
    EXPECT_EQ(b[3457], 0x3E);
    EXPECT_EQ(std::memcmp(&b[2094], "Task description...", 19), 0);
    EXPECT_EQ(b[2094 + 19], 0);
}

TEST(TaskRecord, LoadingBaseHasEmptyDescriptionAndOverlayKeepsTail) {
    TaskRecord r = TaskRecord::MakeForLoading();
    EXPECT_EQ(r.description(), "");
    std::uint8_t old[TaskRecord::kOldSize];
    std::memset(old, 0, sizeof old);
    old[38] = 2;
    std::memcpy(old + 44, "/data", 6);
    r.overlay(old, sizeof old);
    EXPECT_EQ(r.only_in_host_action(), SyncAction::HostToMirror);
    EXPECT_EQ(r.host_path(), "/data");
    EXPECT_EQ(r.speed_limit(), 3000);
    EXPECT_EQ(r.max_errors(), 10);
    EXPECT_TRUE(r.ignore_hour_difference());
    EXPECT_EQ(bitsOf(r.time_tolerance()), TaskRecord::kTwoSecondsBits);
}

TEST(TaskRecord, TextsAreCutToCapacityOnCharacterBoundaries) {
    TaskRecord r;
    r.set_host_path(std::string(600, 'a'));
    EXPECT_EQ(r.host_path().size(), 511u);
    r.set_folder_list(std::string(2000, 'b'));
    EXPECT_EQ(r.folder_list().size(), 1023u);
    r.set_ignore_masks(std::string(300, 'c'));
    EXPECT_EQ(r.ignore_masks().size(), 255u);
    r.set_net_user(std::string(40, 'd'));
    EXPECT_EQ(r.net_user().size(), 31u);
    // 30 bytes of ASCII then a 3-byte character: only 31 bytes fit, so the
    // character is dropped whole rather than split.
    r.set_net_password(std::string(30, 'x') + "\xE4\xB8\xAD");
    EXPECT_EQ(r.net_password(), std::string(30, 'x'));
    EXPECT_EQ(Utf8Prefix("\xC3\xA9\xC3\xA9", 3), "\xC3\xA9");
    EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
}

TEST(TaskRecord, SafetyOptionsLiveInTheFormerlyUnusedBytes) {
    // Every file written before these options has zeros there: the old behaviour.
    TaskRecord r = TaskRecord::MakeNew("d");
    EXPECT_EQ(r.on_delete(), DeleteMode::Permanent);
    EXPECT_EQ(r.delete_limit(), 0);
    EXPECT_FALSE(r.detect_moves());
    EXPECT_EQ(r.move_min_size(), 64u * 1024u);
    EXPECT_EQ(r.versions_folder(), "");

    r.set_on_delete(DeleteMode::Versions);
    r.set_delete_limit(40);
    r.set_detect_moves(true);
    r.set_move_min_size(1);
    r.set_versions_folder("%HOME%/versions/of/my/files/x"); // 29 bytes: the whole capacity
    const TaskRecord copy = r;
    EXPECT_EQ(copy.on_delete(), DeleteMode::Versions);
    EXPECT_EQ(copy.delete_limit(), 40);
    EXPECT_TRUE(copy.detect_moves());
    EXPECT_EQ(copy.move_min_size(), 1u);
    EXPECT_EQ(copy.versions_folder(), "%HOME%/versions/of/my/files/x");
    // None of it reaches the first action byte.
    EXPECT_EQ(copy.only_in_host_action(), SyncAction::Ignore);

    // Damaged values read as something safe.
    r.bytes()[0] = 9;
    r.bytes()[1] = 250;
    EXPECT_EQ(r.on_delete(), DeleteMode::Permanent);
    EXPECT_EQ(r.delete_limit(), 0); // above 99: no limit, as such a limit always was
    r.set_delete_limit(100);
    EXPECT_EQ(r.delete_limit(), 0);
    r.set_delete_limit(99);
    EXPECT_EQ(r.delete_limit(), 99);
}

// A versioning folder longer than the record's 29 bytes is kept whole in the
// extension, and the record then names none; a short one is the record's.
TEST(TaskRecord, LongVersionsFolderLivesOutsideTheRecord) {
    TaskRecord r = TaskRecord::MakeForLoading();
    const TaskRecord::Bytes plain = r.bytes();
    const std::string longest(TaskRecord::kVersionsFolderCapacity, 'v');
    r.set_versions_folder("/media/usb/Backups/versions");
    EXPECT_TRUE(r.extension().empty());
    r.set_versions_folder(longest + "cut");
    EXPECT_EQ(r.versions_folder(), longest);
    EXPECT_EQ(r.bytes(), plain) << "the record keeps no part of it";
    EXPECT_EQ(r.extension().size(), 1u);
    TaskRecord copy = r;
    EXPECT_TRUE(copy == r);
    copy.set_versions_folder("short");
    EXPECT_FALSE(copy == r);
    EXPECT_TRUE(copy.extension().empty());
    EXPECT_EQ(copy.versions_folder(), "short");
}

TEST(TaskRecord, ToleranceSecondsRoundTrip) {
    TaskRecord r;
    r.set_tolerance_seconds(0);
    EXPECT_DOUBLE_EQ(r.time_tolerance(), 0.00000001);
    EXPECT_EQ(r.tolerance_seconds(), 0);
    for (int s : {1, 2, 59, 99}) {
        r.set_tolerance_seconds(s);
        EXPECT_EQ(r.tolerance_seconds(), s);
    }
}

TEST(TaskRecord, ChangeOfSyncTypeDropsFiltersButKeepsOnlyFlag) {
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_ignore_masks_enabled(true);
    r.set_delete_masks_enabled(true);
    r.set_only_masks_enabled(true);
    r.set_ignore_masks("*.tmp\r\n");
    r.set_delete_masks("*.bak\r\n");
    r.set_only_masks("*.doc\r\n");
    r.set_folder_list("/a\r\n");
    r.change_sync_type(SyncType::File);
    EXPECT_EQ(r.sync_type(), SyncType::File);
    EXPECT_FALSE(r.ignore_masks_enabled());
    EXPECT_FALSE(r.delete_masks_enabled());
    EXPECT_TRUE(r.only_masks_enabled());
    EXPECT_EQ(r.only_masks(), "");
    EXPECT_EQ(r.ignore_masks(), "");
    EXPECT_EQ(r.delete_masks(), "");
    EXPECT_EQ(r.folder_list(), "");
}

TEST(TaskRecord, ActionTexts) {
    const std::array<std::string, 4> names{"Ignore", "Delete", "Host -> Mirror", "Host <- Mirror"};
    EXPECT_EQ(ActionFromText("Host <- Mirror", names), SyncAction::MirrorToHost);
    EXPECT_EQ(ActionFromText("delete", names), SyncAction::Ignore); // exact comparison
    EXPECT_EQ(ActionToText(SyncAction::HostToMirror, names), "Host -> Mirror");
    EXPECT_EQ(ActionToText(static_cast<SyncAction>(9), names), "");
}

TEST(TaskRecord, SplitAndJoinLines) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitLines("").empty());
    EXPECT_EQ(JoinLines({"x", "y"}), "x\r\ny\r\n");
}

TEST(TaskList, KeepsNamesRecordsAndTicksPairedWhenMoving) {
    TaskList list;
    for (int i = 0; i < 4; ++i) {
        TaskRecord r = TaskRecord::MakeNew("d");
        r.set_speed_limit(i);
        list.append("t" + std::to_string(i), r);
    }
    list[1].checked = true;
    list.move(1, 3);
    EXPECT_EQ(list[3].name, "t1");
    EXPECT_EQ(list[3].record.speed_limit(), 1);
    EXPECT_TRUE(list[3].checked);
    EXPECT_EQ(list[1].name, "t2");
    list.move(3, 0);
    EXPECT_EQ(list[0].name, "t1");
    EXPECT_TRUE(list[0].checked);
    list.remove(0);
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(list.findNoCase("T3"), (std::vector<std::size_t>{2}));
    EXPECT_TRUE(EqualsNoCase("Abc", "aBC"));
    EXPECT_FALSE(EqualsNoCase("\xC3\xA4", "\xC3\x84"));
    EXPECT_THROW(list.move(0, 5), std::out_of_range);
}

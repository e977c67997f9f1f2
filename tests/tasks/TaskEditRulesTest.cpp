#include "tasks/TaskEditRules.h"

#include <gtest/gtest.h>

namespace duplora {
namespace {

TaskList ListOf(std::initializer_list<const char*> names) {
    TaskList list;
    for (const char* n : names)
        list.append(n, TaskRecord::MakeNew("d"));
    return list;
}

TEST(NewTaskName, FillsTheFirstGapIgnoringCase) {
    TaskList list = ListOf({"New Task 1", "new task 3"});
    EXPECT_EQ(NewTaskName(list, "New Task "), "New Task 2");
    list.append("NEW TASK 2", TaskRecord::MakeNew("d"));
    EXPECT_EQ(NewTaskName(list, "New Task "), "New Task 4");
    EXPECT_EQ(NewTaskName(TaskList{}, "New Task "), "New Task 1");
    // Names that only contain the pattern do not count.
    EXPECT_EQ(NewTaskName(ListOf({"New Task 1x", "xNew Task 1"}), "New Task "), "New Task 1");
}

TEST(NewTaskName, GivesUpAtTenThousand) {
    TaskList list;
    for (int n = 1; n <= 10000; ++n)
        list.append("New Task " + std::to_string(n), TaskRecord{});
    EXPECT_EQ(NewTaskName(list, "New Task "), "New Task 10000");
    list.remove(9998); // "New Task 9999"
    EXPECT_EQ(NewTaskName(list, "New Task "), "New Task 9999");
}

TEST(RelativeFolderEntry, BelowHostOrMirror) {
    auto e = RelativeFolderEntry("/data/host", "/mnt/mirror", "/data/host/sub/deep", false);
    EXPECT_EQ(e.result, FolderEntryResult::Ok);
    EXPECT_EQ(e.entry, "/sub/deep");
    e = RelativeFolderEntry("/data/host", "/mnt/mirror", "/mnt/mirror/x", false);
    EXPECT_EQ(e.result, FolderEntryResult::Ok);
    EXPECT_EQ(e.entry, "/x");
    // The file system's root as host: one level below gives "/name".
    e = RelativeFolderEntry("/", "/mnt/mirror", "/etc", false);
    EXPECT_EQ(e.result, FolderEntryResult::Ok);
    EXPECT_EQ(e.entry, "/etc");
    // A trailing '/' on the root or the folder changes nothing.
    e = RelativeFolderEntry("/data/host/", "", "/data/host/sub/", false);
    EXPECT_EQ(e.result, FolderEntryResult::Ok);
    EXPECT_EQ(e.entry, "/sub");
}

TEST(RelativeFolderEntry, RefusesTheRootsAndOutsiders) {
    EXPECT_EQ(RelativeFolderEntry("/data/host", "/m", "/data/host", false).result,
              FolderEntryResult::WholeFolder);
    EXPECT_EQ(RelativeFolderEntry("/data/host", "/m", "/m/", false).result,
              FolderEntryResult::WholeFolder);
    EXPECT_EQ(RelativeFolderEntry("/", "/m", "/", false).result, FolderEntryResult::WholeFolder);
    EXPECT_EQ(RelativeFolderEntry("/data/host", "/m", "/other", false).result,
              FolderEntryResult::Outside);
    // Starts like the host folder's name but is a sibling.
    EXPECT_EQ(RelativeFolderEntry("/data/host", "/m", "/data/hostile/x", false).result,
              FolderEntryResult::Outside);
    // Empty roots contain nothing.
    EXPECT_EQ(RelativeFolderEntry("", "", "/data", false).result, FolderEntryResult::Outside);
}

TEST(RelativeFolderEntry, CaseOnlyFoldedWhenAsked) {
    EXPECT_EQ(RelativeFolderEntry("/Data/Host", "", "/data/host/Sub", false).result,
              FolderEntryResult::Outside);
    const auto e = RelativeFolderEntry("/Data/Host", "", "/data/host/Sub", true);
    EXPECT_EQ(e.result, FolderEntryResult::Ok);
    EXPECT_EQ(e.entry, "/Sub"); // the chosen folder's spelling is kept
}

TEST(AppendFolderEntry, KeepsTheListWithin1023Bytes) {
    std::vector<std::string> lines;
    const std::string entry = "/" + std::string(99, 'a'); // 100 bytes + CR LF
    for (int i = 0; i < 9; ++i)
        ASSERT_EQ(AppendFolderEntry(lines, entry), FolderEntryResult::Ok);
    // 9 * 102 = 918; one more of 102 bytes would make 1020: still fits.
    ASSERT_EQ(AppendFolderEntry(lines, entry), FolderEntryResult::Ok);
    const auto before = lines;
    EXPECT_EQ(AppendFolderEntry(lines, "/bb"), FolderEntryResult::ListTooLong); // 1025
    EXPECT_EQ(lines, before);
    EXPECT_EQ(AppendFolderEntry(lines, "/"), FolderEntryResult::Ok); // exactly 1023
}

TEST(AppendFileEntry, NameOnlyAndNoDuplicates) {
    std::vector<std::string> lines;
    EXPECT_TRUE(AppendFileEntry(lines, "/home/u/Notes.txt", false));
    EXPECT_FALSE(AppendFileEntry(lines, "/elsewhere/Notes.txt", false));
    EXPECT_TRUE(AppendFileEntry(lines, "/home/u/notes.txt", false));
    EXPECT_FALSE(AppendFileEntry(lines, "/x/NOTES.TXT", true));
    EXPECT_FALSE(AppendFileEntry(lines, "/home/u/", false));
    EXPECT_EQ(lines, (std::vector<std::string>{"Notes.txt", "notes.txt"}));
}

TEST(TaskFields, StoreThenShowRoundTripsAndRefusesWhatDoesNotFit) {
    Task task{"A", TaskRecord::MakeNew("desc"), false};
    TaskFields f = FieldsOf(task);
    const TaskFields before = f;
    EXPECT_EQ(f.description, "desc");
    f.name = "Renamed";
    f.hostPath = "/h";
    f.mirrorPath = std::string(600, 'm');
    f.description = std::string(510, 'd') + "\xC3\xA9"; // 512 bytes: the last char must go whole
    f.folderList = {"/a", "/b"};
    f.type = SyncType::Folder;
    f.includeSubfolders = true;
    f.onlyIncludeFolders = true;
    f.actions = {SyncAction::HostToMirror, SyncAction::Delete,       SyncAction::MirrorToHost,
                 SyncAction::HostToMirror, SyncAction::MirrorToHost, SyncAction::Delete};
    TaskList list;
    EXPECT_EQ(StoreFields(f, task, list, 0), "the description is longer than 511 bytes");
    EXPECT_EQ(task.name, "Renamed");
    EXPECT_EQ(task.record.folder_list(), "/a\r\n/b\r\n");
    EXPECT_EQ(task.record.newer_in_mirror_action(), SyncAction::MirrorToHost);
    const TaskFields back = FieldsOf(task);
    // Refused, never cut: both keep what was stored before.
    EXPECT_EQ(back.mirrorPath, before.mirrorPath);
    EXPECT_EQ(back.description, before.description);
    EXPECT_EQ(back.folderList, f.folderList);
    EXPECT_EQ(back.actions, f.actions);
    EXPECT_TRUE(back.includeSubfolders);
    EXPECT_TRUE(back.onlyIncludeFolders);
}

} // namespace
} // namespace duplora

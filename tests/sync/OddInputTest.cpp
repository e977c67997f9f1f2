// Names and roots the engine must survive: newlines, backslashes, bytes that
// are not UTF-8, names of 255 bytes, masks matched against all of them.
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

using namespace duplora;
using namespace duplora::test;

using Tree = std::map<std::string, std::string>;

TEST(OddInput, UnusualNamesAreCopiedByteForByte) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_ignore_masks_enabled(true);
    f.run.Task.set_ignore_masks("*.bak\r\n?\xC3\xA9*");
    f.run.Task.set_empty_folder_action(SyncAction::HostToMirror);
    const std::string longName(255, 'L');
    const std::string longUtf8 = std::string(253, 'u') + "\xC3\xA9"; // 255 bytes, ends in é
    const std::vector<TreeFile> files = {{"new\nline", "1"},         {"back\\slash\\", "2"},
                                         {"bad\xFF\xFE utf8", "3"},  {longName, "4"},
                                         {"d\\x/" + longUtf8, "5"},  {"tab\tand space ", "6"},
                                         {"-starts-with-dash", "7"}, {"empty\ndir/"}};
    f.tmp.build(f.host, files);
    f.tmp.build(f.host, {{"x.bak", "ignored"}, {"x\xC3\xA9.txt", "ignored too"}});
    f.tmp.build(f.mirror, {});
    EXPECT_EQ(f.Run(), RunOutcome::Finished) << f.Text();
    Tree want;
    for (const TreeFile& t : files)
        want[t.path] = t.content;
    want["d\\x/"] = "";
    EXPECT_EQ(ReadTree(f.mirror), want);
    EXPECT_EQ(f.Run(), RunOutcome::NothingToDo) << f.Text();
}

TEST(OddInput, TheFileSystemRootAsAFolderListLineOrANameNeverEscapes) {
    // Exclude lines of "/" or "" and file-list lines naming the root's parent
    // or a path are passed over without touching anything outside.
    RunFixture f;
    f.OneWay();
    f.run.Task.set_folder_list("/\r\n\r\n//\r\n/../mirror\r\n");
    f.tmp.build(f.host, {{"a/b", "b"}});
    f.tmp.build(f.mirror, {});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"a/", ""}, {"a/b", "b"}}));

    RunFixture g;
    g.OneWay();
    g.run.Task.set_sync_type(SyncType::File);
    g.run.Task.set_folder_list("..\r\n/etc/hostname\r\n\\..\\x\r\n");
    g.tmp.build(g.host, {{"\\..\\x", "odd but plain"}});
    g.tmp.build(g.mirror, {});
    EXPECT_EQ(g.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(g.mirror), (Tree{{"\\..\\x", "odd but plain"}}));
    EXPECT_EQ(ReadTree(g.tmp.path().string()).count("x"), 0u);
}

#include "sync/fs/FolderOps.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace duplora;
using namespace duplora::test;

TEST(FolderOps, JoinRoot) {
    EXPECT_EQ(JoinRoot("/data", "/a/b"), "/data/a/b");
    EXPECT_EQ(JoinRoot("/", "/a"), "/a");
    EXPECT_EQ(JoinRoot("rel", "/a"), "rel/a");
}

TEST(FolderOps, RemoveOnlyRealEmptyFoldersBelowTheRoot) {
    TempRoot tmp;
    const std::string root = tmp.sub("root");
    const std::string outside = tmp.sub("outside");
    tmp.build(outside, {{"empty/"}, {"deep/empty/"}});
    tmp.build(root, {{"e/"}, {"full/zero", ""}});
    ASSERT_EQ(symlink(outside.c_str(), (root + "/link").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/empty").c_str(), (root + "/direct").c_str()), 0);

    EXPECT_TRUE(RemoveEmptyFolderBelow(root, "/e"));
    EXPECT_FALSE(fs::exists(root + "/e"));
    EXPECT_FALSE(RemoveEmptyFolderBelow(root, "/full")); // holds an empty file
    // Neither a link component on the way nor a link at the end is followed.
    EXPECT_FALSE(RemoveEmptyFolderBelow(root, "/link/empty"));
    EXPECT_FALSE(RemoveEmptyFolderBelow(root, "/link/deep/empty"));
    EXPECT_FALSE(RemoveEmptyFolderBelow(root, "/direct"));
    EXPECT_FALSE(RemoveEmptyFolderBelow(root, "/../outside/empty"));
    EXPECT_FALSE(RemoveEmptyFolderBelow(root, "/"));
    // An empty root is not the file system's root: the full path of an empty
    // folder given as the part "below" it removes nothing.
    EXPECT_FALSE(RemoveEmptyFolderBelow("", outside + "/empty"));
    EXPECT_TRUE(fs::exists(outside + "/empty"));
    EXPECT_TRUE(fs::exists(outside + "/deep/empty"));
    EXPECT_TRUE(fs::is_symlink(root + "/direct"));
}

TEST(FolderOps, CreateBelowTheRootWithoutFollowingLinks) {
    TempRoot tmp;
    const std::string root = tmp.sub("root");
    const std::string outside = tmp.sub("outside");
    tmp.build(outside, {});
    tmp.build(root, {{"file", "x"}});
    ASSERT_EQ(symlink(outside.c_str(), (root + "/link").c_str()), 0);

    EXPECT_TRUE(CreateFolderBelow(root, "/a/b/c"));
    EXPECT_TRUE(fs::is_directory(root + "/a/b/c"));
    EXPECT_TRUE(CreateFolderBelow(root, "/a/b")); // already there
    EXPECT_FALSE(CreateFolderBelow(root, "/link/new"));
    EXPECT_FALSE(CreateFolderBelow(root, "/file/new"));
    EXPECT_FALSE(CreateFolderBelow(root, "/../escape"));
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(tmp.sub("escape")));
    // A missing root is created, as the first copy into it would.
    EXPECT_TRUE(CreateFolderBelow(tmp.sub("new/root"), "/x"));
    EXPECT_TRUE(fs::is_directory(tmp.sub("new/root/x")));
}

TEST(FolderOps, CaseFoldingFileSystems) {
    TempRoot tmp;
    // The test folder is on a case-sensitive file system (ext4, tmpfs, ...);
    // a root that does not exist yet is judged by its nearest parent.
    EXPECT_FALSE(FileSystemFoldsCase(tmp.path().string()));
    EXPECT_FALSE(FileSystemFoldsCase(tmp.sub("not/there/yet")));
    EXPECT_FALSE(FileSystemFoldsCase(""));
}

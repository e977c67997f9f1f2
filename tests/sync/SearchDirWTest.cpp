#include "sync/scan/SearchDirW.h"
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

using namespace duplora;
using namespace duplora::test;

namespace {

struct Found {
    std::vector<std::string> order; // "d:/rel" or "f:/rel"
    std::map<std::string, std::int64_t> sizes;
    std::map<std::string, std::uint32_t> attrs;
    std::map<std::string, int> levels;
};

Found Scan(TSearchDirW& s) {
    Found f;
    const std::size_t rootLen = s.Root.size();
    s.OnFoundItem = [&f, rootLen](TSearchDirW& sender, TFoundItemType type, const std::string& item,
                                  std::int64_t& size, std::int32_t, std::uint32_t attr) {
        const std::string key = (type == fiDir ? "d:" : "f:") + item.substr(rootLen);
        f.order.push_back(key);
        f.sizes[key] = size;
        f.attrs[key] = attr;
        f.levels[key] = sender.Level();
    };
    s.Search();
    return f;
}

std::size_t IndexOf(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<std::size_t>(std::find(v.begin(), v.end(), s) - v.begin());
}

} // namespace

TEST(SearchDirW, PostOrderWithSubtreeTotals) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    tmp.build(root, {{"a.txt", "12345"},
                     {"sub/b.bin", "1234567890"},
                     {"sub/deep/c", "12"},
                     {"zero/empty1", ""},
                     {"zero/inner/empty2", ""},
                     {"nothing/"},
                     {".hidden", "x"}});
    chmod((root + "/a.txt").c_str(), 0444);
    TSearchDirW s;
    s.Root = root;
    s.IntoSubDir = true;
    bool ended = false;
    s.OnSearchEnd = [&](TSearchDirW&) { ended = true; };
    Found f = Scan(s);
    EXPECT_TRUE(ended);
    EXPECT_EQ(f.sizes["d:/sub"], 12);
    EXPECT_EQ(f.sizes["d:/sub/deep"], 2);
    EXPECT_EQ(f.sizes["d:/zero"], 0); // only empty files: counts as empty
    EXPECT_EQ(f.sizes["d:/nothing"], 0);
    EXPECT_EQ(f.sizes["f:/a.txt"], 5);
    EXPECT_LT(IndexOf(f.order, "f:/sub/deep/c"), IndexOf(f.order, "d:/sub/deep"));
    EXPECT_LT(IndexOf(f.order, "d:/sub/deep"), IndexOf(f.order, "d:/sub"));
    EXPECT_EQ(f.levels["f:/a.txt"], 0);
    EXPECT_EQ(f.levels["f:/sub/deep/c"], 2);
    EXPECT_EQ(f.attrs["d:/sub"], kAttrDirectory);
    EXPECT_EQ(f.attrs["f:/a.txt"], kAttrReadOnly);
    EXPECT_EQ(f.attrs["f:/.hidden"], kAttrHidden);
    EXPECT_EQ(s.Level(), -1);
    EXPECT_EQ(s.Search(), 5 + 10 + 2 + 1);
}

TEST(SearchDirW, WithoutSubfoldersFoldersReportZero) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    tmp.build(root, {{"sub/b.bin", "1234567890"}, {"a", "1"}});
    TSearchDirW s;
    s.Root = root + "/"; // a trailing '/' is optional
    Found f = Scan(s);
    EXPECT_EQ(f.sizes.count("d:sub"), 1u);
    EXPECT_EQ(f.sizes["d:sub"], 0);
    EXPECT_EQ(f.sizes.count("f:sub/b.bin"), 0u);
}

TEST(SearchDirW, MissingRootOrFileRootCallsNothing) {
    TempRoot tmp;
    tmp.build(tmp.sub("r"), {{"file", "abc"}});
    for (const std::string& root : {tmp.sub("none"), tmp.sub("r/file"), std::string()}) {
        TSearchDirW s;
        s.Root = root;
        int calls = 0;
        s.OnSearchEnd = [&](TSearchDirW&) { ++calls; };
        s.OnProgress = [&](TSearchDirW&, const std::string&) { ++calls; };
        EXPECT_EQ(s.Search(), 0);
        EXPECT_EQ(calls, 0) << root;
    }
}

TEST(SearchDirW, SkipHidesSubtreeAndAbortEndsPromptly) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    tmp.build(root, {{"skip/x", "123"}, {"keep/y", "1"}, {"keep/z", "1"}});
    TSearchDirW s;
    s.Root = root;
    s.IntoSubDir = true;
    s.OnEnquiryOperation = [&](TSearchDirW&, TFoundItemType, const std::string& item,
                               TSearchOperation& op) {
        if (item == root + "/skip")
            op = soSkip;
    };
    Found f = Scan(s);
    EXPECT_EQ(f.sizes.count("d:/skip"), 0u);
    EXPECT_EQ(f.sizes.count("f:/skip/x"), 0u);
    EXPECT_EQ(s.Search(), 2);

    int found = 0;
    bool ended = false;
    s.OnEnquiryOperation = [&](TSearchDirW&, TFoundItemType, const std::string&,
                               TSearchOperation& op) { op = soAbort; };
    s.OnFoundItem = [&](TSearchDirW&, TFoundItemType, const std::string&, std::int64_t&,
                        std::int32_t, std::uint32_t) { ++found; };
    s.OnSearchEnd = [&](TSearchDirW&) { ended = true; };
    s.Search();
    EXPECT_EQ(found, 0);
    EXPECT_TRUE(ended);
}

TEST(SearchDirW, ProgressOnEntryAndEveryIntervalEntries) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    std::vector<TreeFile> files;
    for (int i = 0; i < 40; ++i)
        files.push_back({"f" + std::to_string(i), "x"});
    tmp.build(root, files);
    TSearchDirW s;
    s.Root = root;
    std::vector<std::string> calls;
    s.OnProgress = [&](TSearchDirW&, const std::string& dir) { calls.push_back(dir); };
    s.Search();
    ASSERT_EQ(calls.size(), 3u); // on entry, after the 16th and the 32nd further entry
    for (const std::string& c : calls)
        EXPECT_EQ(c, root);
}

TEST(SearchDirW, LinksNeverLeadOutOrLoop) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    const std::string outside = tmp.sub("outside");
    tmp.build(outside, {{"secret", "0123456789"}, {"dir/x", "1"}});
    tmp.build(root, {{"real/file", "abc"}});
    ASSERT_EQ(symlink(root.c_str(), (root + "/real/loop").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (root + "/out").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/secret").c_str(), (root + "/linked-file").c_str()), 0);
    ASSERT_EQ(symlink((root + "/missing").c_str(), (root + "/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);
    TSearchDirW s;
    s.Root = root;
    s.IntoSubDir = true;
    Found f = Scan(s);
    const std::vector<std::string> want = {"d:/real", "f:/linked-file", "f:/real/file"};
    std::vector<std::string> got = f.order;
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(f.sizes["f:/linked-file"], 10); // the target's size
    EXPECT_EQ(f.sizes["d:/real"], 3);
}

TEST(SearchDirW, MaskFiltersReportsButNotTotals) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    tmp.build(root, {{"a.txt", "1"}, {"README", "22"}, {"d.x/b.txt", "333"}});
    TSearchDirW s;
    s.Root = root;
    s.IntoSubDir = true;
    s.SetMask("*.txt");
    Found f = Scan(s);
    std::vector<std::string> got = f.order;
    std::sort(got.begin(), got.end());
    // "d.x" does not match but is still entered; README counts in the total.
    EXPECT_EQ(got, (std::vector<std::string>{"f:/a.txt", "f:/d.x/b.txt"}));
    EXPECT_EQ(s.Search(), 6);
    s.SetMask("*.*"); // the shortcut: every name, dots or not
    EXPECT_EQ(Scan(s).order.size(), 4u);
}

TEST(SearchDirW, HandlerExceptionPassesOut) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    tmp.build(root, {{"a/b/c", "1"}});
    TSearchDirW s;
    s.Root = root;
    s.IntoSubDir = true;
    s.OnFoundItem = [](TSearchDirW&, TFoundItemType, const std::string&, std::int64_t&,
                       std::int32_t, std::uint32_t) { throw std::runtime_error("stop"); };
    EXPECT_THROW(s.Search(), std::runtime_error);
    EXPECT_EQ(s.Level(), -1);
}

namespace {

// Removes a tree through folder descriptors: a path too long for one system
// call is no obstacle.
void RemoveTreeAt(int dirFd, const char* name) {
    const int fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        DIR* d = fdopendir(fd);
        std::vector<std::pair<std::string, bool>> entries;
        while (const struct dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                entries.emplace_back(e->d_name, e->d_type == DT_DIR);
        for (const auto& [entry, folder] : entries) {
            if (folder)
                RemoveTreeAt(fd, entry.c_str());
            else
                unlinkat(fd, entry.c_str(), 0);
        }
        closedir(d);
    }
    unlinkat(dirFd, name, AT_REMOVEDIR);
}

} // namespace

TEST(SearchDirW, TreesDeeperThanAPathBufferReachThePlanWhole) {
    RunFixture f;
    f.OneWay();
    mkdir(f.host.c_str(), 0755);
    int fd = open(f.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string rel;
    for (int i = 0; i < 21; ++i) {
        const std::string name(240, static_cast<char>('a' + i));
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
        rel += "/" + name;
    }
    const int file = openat(fd, "f.txt", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_EQ(write(file, "deep", 4), 4);
    close(file);
    close(fd);
    rel += "/f.txt";
    ASSERT_GT(rel.size(), 5000u);

    PrepareRoots(f.run);
    std::string error;
    ASSERT_TRUE(BuildPlan(f.run, error));
    const auto& files = f.run.Plan.HostFiles;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].RelPath, rel);
    EXPECT_EQ(files[0].Size, 4);
    EXPECT_EQ(files[0].Op, opToMirror);
    EXPECT_EQ(f.run.Plan.HostFolders.size(), 21u);
    EXPECT_TRUE(f.run.Plan.HostUnreadable.empty());
    RemoveTreeAt(AT_FDCWD, f.host.c_str());
}

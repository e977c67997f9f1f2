// Roots that fold letter case, found by probing them, and what the plan does
// where one side folds and the other does not. The folding side is a real
// exFAT disk image mounted through FUSE, as a user's USB stick would be.
#include "cli/PlanOutput.h"
#include "sync/fs/CaseProbe.h"
#include "sync/run/SyncRun.h"
#include "tasks/TextTable.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace duplora;
using namespace duplora::test;

using Tree = std::map<std::string, std::string>;

namespace {

// Exit status of a shell command; its standard output into `out`.
int Sh(const std::string& cmd, std::string* out = nullptr) {
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p)
        return -1;
    char buf[256];
    std::string text;
    while (fgets(buf, sizeof buf, p))
        text += buf;
    const int status = pclose(p);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh 64 MiB exFAT image on a loop device, mounted through FUSE for the
// object's life. Reason() says why not when it could not be mounted.
class ExfatDisk {
public:
    explicit ExfatDisk(const TempRoot& tmp) : image_(tmp.sub("disk.img")), dir_(tmp.sub("disk")) {
        reason_ = Attach();
        if (reason_.empty())
            reason_ = Mount("");
    }
    ~ExfatDisk() {
        if (mounted_)
            Sh("umount '" + dir_ + "'");
        if (!loop_.empty())
            Sh("losetup -d " + loop_);
    }
    bool Ready() const { return reason_.empty(); }
    const std::string& Reason() const { return reason_; }
    std::string Path(const std::string& rel) const { return dir_ + "/" + rel; }
    // Unmounts and mounts again with `options` ("ro"); "" when it worked.
    std::string Remount(const std::string& options) {
        Sh("umount '" + dir_ + "'");
        mounted_ = false;
        return Mount(options);
    }

private:
    std::string Attach() {
        if (Sh("command -v mkfs.exfat && command -v mount.exfat-fuse && command -v losetup") != 0)
            return "exfat-fuse, exfatprogs or losetup is not installed";
        if (access("/dev/fuse", F_OK) != 0)
            Sh("modprobe fuse");
        if (access("/dev/loop-control", F_OK) != 0)
            Sh("modprobe loop");
        if (access("/dev/fuse", R_OK | W_OK) != 0)
            return "no usable /dev/fuse on this machine";
        mkdir(dir_.c_str(), 0755);
        if (Sh("truncate -s 64M '" + image_ + "' && mkfs.exfat '" + image_ + "'") != 0)
            return "mkfs.exfat failed";
        if (Sh("losetup -f --show '" + image_ + "'", &loop_) != 0 || loop_.empty()) {
            loop_.clear();
            return "no loop device could be attached";
        }
        return "";
    }
    std::string Mount(const std::string& options) {
        const std::string opt = options.empty() ? "" : " -o " + options;
        if (Sh("mount.exfat-fuse" + opt + " " + loop_ + " '" + dir_ + "'") != 0)
            return "mount.exfat-fuse failed (no FUSE mounts allowed here?)";
        mounted_ = true;
        return "";
    }

    std::string image_, dir_, loop_, reason_;
    bool mounted_ = false;
};

#define REQUIRE_EXFAT(disk)                                                                        \
    if (!(disk).Ready())                                                                           \
    GTEST_SKIP() << "exFAT through FUSE unavailable: " << (disk).Reason()

// Both ways for new files and newer files: the setting under which a wrong
// pairing overwrites one file with the other.
void BothWays(RunFixture& f) {
    f.run.Task.set_only_in_host_action(SyncAction::HostToMirror);
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Task.set_newer_in_host_action(SyncAction::HostToMirror);
    f.run.Task.set_newer_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Start = RunStart::CommandLine;
}

int CountLines(const RunFixture& f, const std::string& start) {
    int n = 0;
    for (const std::string& l : f.lines.Lines())
        n += l.rfind(start, 0) == 0;
    return n;
}

// 2015-01-01 and 2024-05-05, 12:00 UTC.
constexpr std::time_t kOld = 1420113600;
constexpr std::time_t kNew = 1714910400;

} // namespace

TEST(CaseProbe, NamesAndMountTypes) {
    EXPECT_TRUE(IsCaseProbeName(".duplora-case-probe-abc123xyz789"));
    for (const char* name : {".duplora-case-probe-abc123xyz78", ".duplora-case-probe-ABC123XYZ789",
                             "duplora-case-probe-abc123xyz789", ".duplora-case-probe-abc123xyz7890",
                             ".duplora-case-probe-abc123xyz78_"})
        EXPECT_FALSE(IsCaseProbeName(name)) << name;

    const std::string info =
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "45 27 7:0 / /media/usb rw,nosuid shared:9 - fuseblk.exfat /dev/loop0 rw,user_id=0\n"
        "46 27 7:1 / /media/win rw - fuseblk /dev/loop1 rw\n"
        "47 27 0:52 / /media/nt rw - fuse.ntfs-3g /dev/sdb1 rw\n"
        "48 27 0:53 / /media/sshfs rw - fuse.sshfs host: rw\n";
    const struct {
        dev_t dev;
        bool folds;
    } cases[] = {{makedev(8, 1), false}, {makedev(7, 0), true},   {makedev(7, 1), false},
                 {makedev(0, 52), true}, {makedev(0, 53), false}, {makedev(9, 9), false}};
    for (const auto& c : cases)
        EXPECT_EQ(FuseSubtypeFoldsCase(info, c.dev), c.folds)
            << major(c.dev) << ":" << minor(c.dev);
}

TEST(CaseProbe, AnExfatDiskFoldsAndNoProbeIsLeftBehind) {
    TempRoot tmp;
    ExfatDisk disk(tmp);
    const std::string plain = tmp.sub("plain");
    tmp.build(plain, {{"Report.txt", "r"}});
    EXPECT_FALSE(RootFoldsCase(plain));
    EXPECT_FALSE(RootFoldsCase(plain + "/missing/deeper"));
    EXPECT_EQ(ReadTree(plain), (Tree{{"Report.txt", "r"}}));
    REQUIRE_EXFAT(disk);

    // A writable root, empty: only a probe file can tell.
    EXPECT_TRUE(RootFoldsCase(disk.Path("")));
    EXPECT_TRUE(ReadTree(disk.Path("")).empty());
    // A missing root below it is asked through its parent's entries, and
    // nothing is created outside the root.
    tmp.build(disk.Path(""), {{"Report.txt", "r"}});
    EXPECT_TRUE(RootFoldsCase(disk.Path("new/backup")));
    // Read-only: an existing entry under the other spelling.
    ASSERT_EQ(disk.Remount("ro"), "");
    EXPECT_TRUE(RootFoldsCase(disk.Path("")));
    EXPECT_EQ(ReadTree(disk.Path("")), (Tree{{"Report.txt", "r"}}));
}

TEST(CaseProbe, AProbeFileOfAnotherRunIsNeverPlanned) {
    RunFixture f;
    f.OneWay();
    f.tmp.build(f.host, {{".duplora-case-probe-abc123xyz789", ""}, {"a", "1"}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"a", "1"}}));
}

TEST(CaseFold, NamesThatCollideUnderFoldingAreLeftAloneOnBothSides) {
    // The folding side is simulated here, so this holds where FUSE is not
    // available; the exFAT test below does the same on a real disk.
    RunFixture f;
    BothWays(f);
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_delete_masks_enabled(true);
    f.run.Task.set_delete_masks("*.tmp");
    // Letters beyond a-z fold on such disks too: "Ä" and "ä" collide within
    // the host, "Öl" and "öl" across the sides.
    f.tmp.build(f.host, {{"A.txt", "host", kNew},
                         {"x.TMP", "t"},
                         {"d/Q", "q"},
                         {"d/q", "q2"},
                         {"\xc3\x84.txt", "x"},
                         {"\xc3\xa4.txt", "y"},
                         {"\xc3\x96l", "o"},
                         {"caf\xc3\xa9", "same"}});
    f.tmp.build(f.mirror, {{"A.txt", "host", kNew},
                           {"a.txt", "old", kOld},
                           {"X.tmp", "t"},
                           {"x.tmp", "t"},
                           {"D/q", "other"},
                           {"\xc3\xb6l", "p"},
                           {"caf\xc3\xa9", "same"},
                           {"free", "f"}});
    PrepareRoots(f.run);
    f.run.FoldCase = true;
    std::string error;
    ASSERT_TRUE(BuildPlan(f.run, error));
    const SyncPlan& p = f.run.Plan;
    // Only the mirror's "free" is left to delete: the five groups are still,
    // and the pair "café" is an ordinary pair.
    EXPECT_EQ(p.ToMirrorCount + p.ToHostCount + p.HostDeleteCount, 0);
    EXPECT_EQ(p.MirrorDeleteCount, 1);
    EXPECT_EQ(p.FailedCount, 5);
    // The plan shows the groups a run would report, in both forms.
    std::ostringstream text, json;
    cli::WritePlanText(p, text);
    cli::WritePlanJson(p, "t", f.host, f.mirror, json);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = text.str().find("\n# " + Msg(230), at)) != std::string::npos;
         ++at)
        ++lines;
    EXPECT_EQ(lines, 5u) << text.str();
    EXPECT_NE(text.str().find(f.host + "/d/q"), std::string::npos) << text.str();
    const auto groups = nlohmann::json::parse(json.str())["case_collisions"];
    ASSERT_EQ(groups.size(), 5u) << json.str();
    for (const auto& g : groups)
        EXPECT_GE(g.size(), 2u) << g;
}

TEST(CaseFold, TwinsAcrossAnExfatDiskAreNeverOverwritten) {
    {
        // Host on the folding disk, mirror on ext4 with two spellings.
        RunFixture f;
        ExfatDisk disk(f.tmp);
        REQUIRE_EXFAT(disk);
        BothWays(f);
        const std::string host = disk.Path("h");
        f.run.Task.set_host_path(host);
        f.tmp.build(host, {{"A.txt", "host current work", kNew}});
        f.tmp.build(f.mirror,
                    {{"A.txt", "host current work", kNew}, {"a.txt", "old unrelated", kOld}});
        const Tree mirror = ReadTree(f.mirror);
        f.Run();
        EXPECT_EQ(ReadTree(host), (Tree{{"A.txt", "host current work"}}));
        EXPECT_EQ(ReadTree(f.mirror), mirror);
        ASSERT_EQ(CountLines(f, Msg(230)), 1) << f.Text();
        EXPECT_NE(f.Text().find(f.mirror + "/A.txt"), std::string::npos);
        EXPECT_NE(f.Text().find(f.mirror + "/a.txt"), std::string::npos);
        EXPECT_EQ(f.run.Plan.FailedCount, 1);
    }
    {
        // The reverse: two spellings on the ext4 host, the mirror folds.
        RunFixture f;
        ExfatDisk disk(f.tmp);
        REQUIRE_EXFAT(disk);
        BothWays(f);
        const std::string mirror = disk.Path("m");
        f.run.Task.set_mirror_path(mirror);
        f.tmp.build(f.host, {{"Report.txt", "upper", kNew}, {"report.txt", "lower", kOld}});
        mkdir(mirror.c_str(), 0755);
        for (int run = 0; run < 4; ++run)
            f.Run();
        EXPECT_EQ(ReadTree(f.host), (Tree{{"Report.txt", "upper"}, {"report.txt", "lower"}}));
        EXPECT_TRUE(ReadTree(mirror).empty());
        EXPECT_EQ(CountLines(f, Msg(230)), 4); // once per run
    }
    {
        // One file under two spellings is one pair, not a copy and a delete.
        RunFixture f;
        ExfatDisk disk(f.tmp);
        REQUIRE_EXFAT(disk);
        f.run.Task.set_only_in_host_action(SyncAction::HostToMirror);
        f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
        const std::string mirror = disk.Path("m");
        f.run.Task.set_mirror_path(mirror);
        f.tmp.build(f.host, {{"Report.txt", "same"}});
        f.tmp.build(mirror, {{"REPORT.TXT", "same"}});
        EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
        EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
        EXPECT_EQ(ReadTree(mirror), (Tree{{"REPORT.TXT", "same"}}));
    }
}

TEST(CaseFold, AMirrorInsideTheHostIsKnownByAnySpelling) {
    RunFixture f;
    ExfatDisk disk(f.tmp);
    REQUIRE_EXFAT(disk);
    const std::string host = disk.Path("H");
    f.tmp.build(host, {{"backup/a.txt", "m"}});
    f.run.Task.set_host_path(host);
    f.run.Task.set_mirror_path(host + "/BACKUP");
    f.run.Task.set_only_in_host_action(SyncAction::Delete);
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    f.Run();
    f.Run();
    EXPECT_EQ(ReadTree(host), (Tree{{"a.txt", "m"}, {"backup/", ""}, {"backup/a.txt", "m"}}));
}

TEST(CaseFold, ABindMountedMirrorInsideTheHostIsKnownByIdentity) {
    RunFixture f;
    f.tmp.build(f.host, {{"a.txt", "a"}, {"backup/b.txt", "b"}});
    const std::string bind = f.tmp.sub("bind");
    mkdir(bind.c_str(), 0755);
    if (Sh("mount --bind '" + f.host + "/backup' '" + bind + "'") != 0)
        GTEST_SKIP() << "mount --bind is not allowed here";
    struct Unmount {
        std::string dir;
        ~Unmount() { Sh("umount '" + dir + "'"); }
    } unmount{bind};
    f.run.Task.set_mirror_path(bind);
    f.run.Task.set_only_in_host_action(SyncAction::HostToMirror);
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
    EXPECT_EQ(ReadTree(f.host), (Tree{{"a.txt", "a"},
                                      {"b.txt", "b"},
                                      {"backup/", ""},
                                      {"backup/a.txt", "a"},
                                      {"backup/b.txt", "b"}}));
    // A host folder that holds nothing but the mirror is not empty.
    RunFixture g;
    g.tmp.build(g.host, {{"sub/backup/b.txt", "b"}});
    const std::string bind2 = g.tmp.sub("bind");
    mkdir(bind2.c_str(), 0755);
    ASSERT_EQ(Sh("mount --bind '" + g.host + "/sub/backup' '" + bind2 + "'"), 0);
    Unmount unmount2{bind2};
    g.run.Task.set_mirror_path(bind2);
    g.run.Task.set_empty_folder_action(SyncAction::Delete);
    PrepareRoots(g.run);
    std::string error;
    ASSERT_TRUE(BuildPlan(g.run, error));
    EXPECT_EQ(g.run.Plan.EmptyFolderCount, 0);
}

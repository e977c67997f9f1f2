#include "sync/setaside/Versions.h"

#include "TmpfsMount.h"
#include "TreeFixture.h"
#include "sync/fs/FileIo.h"
#include "tasks/TextTable.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <set>

using namespace duplora;
using namespace duplora::test;

// Which folders a Versions task may use, on real folders: H and M are the
// roots, "out" a folder beside them, "lnk" a link in the host to outside.
TEST(VersionsFolder, RefusesEveryWayOutOfItsSide) {
    SetLanguage(Language::English);
    TempRoot t;
    t.build(t.sub("H"), {{"sub/"}, {"file", "x"}});
    t.build(t.sub("M"), {{"sub/"}});
    t.build(t.sub("out"), {{"x/"}});
    ASSERT_EQ(::symlink(t.sub("out").c_str(), t.sub("H/lnk").c_str()), 0);
    ASSERT_EQ(::symlink(t.sub("M").c_str(), t.sub("out/toM").c_str()), 0);
    const std::string H = t.sub("H"), M = t.sub("M");
    struct Case {
        std::string folder;
        int text; // 0: usable
    } cases[] = {
        {"versions", 0},
        {"sub/deeper/v", 0},
        {"./versions/", 0},
        {t.sub("out/v"), 0},
        {t.sub("out") + "/", 0},
        {"", 200},
        {".", 201},
        {H, 201},
        {M + "/", 201},
        {t.sub("out/toM"), 201}, // a link to the mirror is the mirror
        {H + "/v", 202},
        {t.sub("out/toM/v"), 202},
        {t.path().string(), 203},
        {"/", 203},
        {"../v", 204},
        {"a/../../v", 204},
        {t.sub("out/../H/v"), 204},
        {"lnk", 205},
        {"lnk/v", 205},
        {"file/v", 205},
    };
    for (const Case& c : cases) {
        const std::string problem = VersionsFolderProblem(c.folder, H, M);
        if (c.text == 0) {
            EXPECT_EQ(problem, "") << c.folder;
        } else {
            // The message is the text with the folder named, as typed.
            const std::string head = Msg(c.text).substr(0, Msg(c.text).find("%1"));
            EXPECT_EQ(problem.rfind(head, 0), 0u) << c.folder << ": " << problem;
            if (c.text != 200) {
                EXPECT_NE(problem.find(c.folder), std::string::npos) << problem;
            }
        }
    }

    // Nested roots: a relative folder of the host can land in the mirror.
    EXPECT_NE(VersionsFolderProblem("sub", H, H + "/sub"), "");

    // The task form asks only in Versions mode, with the roots as a run has them.
    TaskRecord task = TaskRecord::MakeForLoading();
    task.set_host_path(H + "/");
    task.set_mirror_path(M);
    task.set_versions_folder("..");
    EXPECT_EQ(VersionsFolderProblem(task), "");
    task.set_on_delete(DeleteMode::Versions);
    EXPECT_EQ(VersionsFolderProblem(task), MsgFill(204, ".."));
    task.set_versions_folder("v");
    EXPECT_EQ(VersionsFolderProblem(task), "");

    const VersionsPlace rel = ResolveVersionsFolder("./v//w/", H, M + "/");
    EXPECT_TRUE(rel.Relative);
    EXPECT_EQ(rel.Host, H + "/v/w");
    EXPECT_EQ(rel.Mirror, M + "/v/w");
    const VersionsPlace abs = ResolveVersionsFolder("/keep/", H, M);
    EXPECT_FALSE(abs.Relative);
    EXPECT_EQ(abs.Host, "/keep");
    EXPECT_EQ(abs.Mirror, "/keep");
}

namespace {

using Tree = std::map<std::string, std::string>;

// TZ for one test, put back at its end.
struct UtcZone {
    std::string old;
    bool had = false;
    UtcZone() {
        if (const char* tz = std::getenv("TZ")) {
            old = tz;
            had = true;
        }
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~UtcZone() {
        if (had)
            ::setenv("TZ", old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
};

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

} // namespace

// Names as long as the file system allows still get their versions: the
// stamped name is cut before the extension, at a whole character, and two
// names that begin alike stay apart by the hash of what was cut.
TEST(VersionsFolder, LongNamesAreCutKeepingExtensionAndStamp) {
    UtcZone utc;
    const std::string at = " 2024-05-06 120000";
    std::string chinese;
    for (int i = 0; i < 80; ++i)
        chinese += "\u6587"; // 3 bytes each
    const std::string longA = std::string(240, 'a') + "x1.txt";
    const std::string longB = std::string(240, 'a') + "x2.txt";
    const std::string zh = chinese + ".doc";
    const std::string fits = std::string(233, 'f') + ".txt"; // 255 bytes stamped

    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_on_delete(DeleteMode::Versions);
    f.run.Task.set_versions_folder("old");
    const std::string names[] = {longA, longB, zh, fits};
    for (int i = 0; i < 4; ++i) {
        f.tmp.build(f.host, {{names[i], "new", kT0 + 100}});
        f.tmp.build(f.mirror, {{names[i], "old" + std::to_string(i), kT0}});
    }
    f.tmp.build(f.mirror, {{"gone/" + longA, "gone", kT0}});
    ASSERT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
    const Tree kept = ReadTree(f.mirror + "/old");
    ASSERT_EQ(kept.size(), 6u); // four versions, "gone/" and its file
    std::set<std::string> contents;
    for (const auto& [path, content] : kept) {
        const std::string name = path.substr(path.rfind('/', path.size() - 2) + 1);
        if (path.back() == '/')
            continue;
        contents.insert(content);
        EXPECT_LE(name.size(), 255u) << name;
        EXPECT_TRUE(ValidUtf8(name)) << name;
        const std::string ext = name.substr(name.size() - 4);
        EXPECT_EQ(name.substr(name.size() - at.size() - 4, at.size()), at) << name;
        EXPECT_TRUE(ext == ".txt" || ext == ".doc") << name;
    }
    EXPECT_EQ(contents, (std::set<std::string>{"old0", "old1", "old2", "old3", "gone"}));
    EXPECT_EQ(kept.count(fits.substr(0, 233) + at + ".txt"), 1u); // not cut: it fits
    EXPECT_EQ(VersionName(longA, kT0), VersionName(longA, kT0));
    EXPECT_NE(VersionName(longA, kT0), VersionName(longB, kT0));
    EXPECT_LE(VersionName(longA, kT0, 100000).size(), 255u);
    EXPECT_EQ(VersionName(longA, kT0, 2).substr(0, 230), VersionName(longA, kT0).substr(0, 230));
}

// A copy into a versioning folder on another volume that is killed half-way
// (kill -9) leaves its temporary file; the next run that uses the folder
// removes it and says so, and leaves the kept versions alone.
TEST(VersionsFolder, CopyKilledHalfWayIsRemovedByTheNextRun) {
    SetLanguage(Language::English);
    UtcZone utc;
    RunFixture f;
    const TmpfsMount volume(f.tmp.sub("vol"));
    if (!volume.ok()) {
        std::cout << "tmpfs not mounted (" << volume.why() << "), not tested\n";
        GTEST_SKIP() << "mount failed: " << volume.why();
    }
    const std::string keep = volume.sub("keep");
    f.tmp.build(f.mirror, {{"d/big.bin", std::string(1 << 20, 'b'), kT0}});
    f.tmp.build(keep, {{"d/older 2024-05-05 120000.bin", "kept"}});

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Dies by SIGKILL after the first part of the copy reached the disk.
        FileIoCalls dying = KernelFileIo();
        dying.copyRange = [](int in, int out, size_t) -> ssize_t {
            const ssize_t n = KernelFileIo().copyRange(in, out, 4096);
            ::kill(::getpid(), SIGKILL);
            return n;
        };
        const ScopedFileIo io(dying);
        VersionsFolder v(ResolveVersionsFolder(keep, f.host, f.mirror), f.host, f.mirror);
        const int folder = ::open((f.mirror + "/d").c_str(), O_PATH | O_DIRECTORY);
        std::string why;
        v.Put(folder, "big.bin", f.mirror, "/d/big.bin", why);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    Tree left = ReadTree(keep);
    const auto temp = std::find_if(left.begin(), left.end(), [](const auto& e) {
        return e.first.find(".duplora-tmp-") != std::string::npos;
    });
    ASSERT_NE(temp, left.end()) << "the killed copy left nothing";
    const std::string tempPath = keep + "/" + temp->first;

    // The next run replaces the file again, now whole.
    f.OneWay();
    f.run.Task.set_on_delete(DeleteMode::Versions);
    f.run.Task.set_versions_folder(keep);
    f.tmp.build(f.host, {{"d/big.bin", "new", kT0 + 100}});
    ASSERT_EQ(f.Run(), RunOutcome::Finished) << f.Text();
    EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
    EXPECT_NE(f.Text().find(Msg(237) + tempPath), std::string::npos) << f.Text();
    EXPECT_EQ(ReadTree(keep), (Tree{{"d/", ""},
                                    {"d/big 2024-05-06 120000.bin", std::string(1 << 20, 'b')},
                                    {"d/older 2024-05-05 120000.bin", "kept"}}));
}

// Copies overlapped on worker threads (a run uses them for files under 1 MiB
// onto a share, ext4 or tmpfs; forced here) give the run that one copy after
// the other gives: the same lines, failures, counts and display, in the
// plan's order. A cancel leaves no temporary file and no half-copied file.
#include "sync/execute/CopyPipeline.h"
#include "sync/execute/FileCopier.h"
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

using namespace duplora;
using namespace duplora::test;

namespace {

using Tree = std::map<std::string, std::string>;

// Everything a run reports, with the fixture's own folder replaced by "@".
struct Report {
    std::vector<std::string> lines, failures, paths, operations, totals;
    std::vector<int> fileGauge, totalGauge;
    int copied = 0;
    int failed = 0;
    Tree mirror;
    bool operator==(const Report&) const = default;
};

std::vector<std::string> Relative(const std::vector<std::string>& texts, const std::string& root) {
    std::vector<std::string> out;
    for (std::string t : texts) {
        for (std::size_t at; (at = t.find(root)) != std::string::npos;)
            t.replace(at, root.size(), "@");
        out.push_back(t);
    }
    return out;
}

// Six folders of small files, three of them below others and two (d2 and
// d2/u) missing in the mirror, so copies of different folders going at once
// create the same folders (every seventh file large enough to be overtaken
// by the next ones); one file over the overlap size in the middle (copied on
// the run's thread), one replacement, and two copies that fail while others
// are under way: a source removed and a target that appeared after the scan.
Report RunWith(int workers) {
    RunFixture f;
    f.OneWay();
    f.run.CopyWorkers = workers;
    f.run.Task.set_speed_limit(0); // a limit keeps copies on the run's thread
    const char* const folders[] = {"d0", "d1", "d2", "d0/s", "d0/s/t", "d2/u"};
    std::vector<TreeFile> files;
    for (int i = 0; i < 72; ++i)
        files.push_back(
            {std::string(folders[i % 6]) + "/f" + std::to_string(i / 6),
             std::string(i % 7 == 0 ? 700000 : 100 + 37 * i, static_cast<char>('a' + i % 26))});
    files.push_back({"d1/g-big", std::string(3 << 19, 'B')});
    f.tmp.build(f.host, files);
    f.tmp.build(f.mirror, {{"d0/f4", "old", kT0 - 3600}});
    f.run.BeforeFileOperation = [&](std::string_view rel, TSyncOp) {
        if (rel == "/d1/f7")
            ::unlink((f.host + "/d1/f7").c_str());
        else if (rel == "/d2/f3")
            f.tmp.build(f.mirror, {{"d2/f3", "the user's"}});
    };
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    Report r;
    const std::string root = f.tmp.path().string();
    r.lines = Relative(f.lines.Lines(), root);
    for (const RunFailure& fail : f.run.Failures)
        r.failures.push_back(fail.Path + " " + std::to_string(fail.Op) + " " + fail.Error);
    r.failures = Relative(r.failures, root);
    r.paths = Relative(f.ui.paths, root);
    r.operations = f.ui.operations;
    r.totals = f.ui.totals;
    r.fileGauge = f.ui.fileGauge;
    r.totalGauge = f.ui.totalGauge;
    r.copied = f.run.Plan.CopiedToMirror;
    r.failed = f.run.Plan.FailedCount;
    r.mirror = ReadTree(f.mirror);
    return r;
}

TEST(CopyOverlap, GivesTheRunOfOneCopyAfterAnother) {
    const Report serial = RunWith(0);
    EXPECT_EQ(serial.copied, 71);
    EXPECT_EQ(serial.failed, 2);
    EXPECT_EQ(serial.mirror.at("d2/f3"), "the user's");
    for (int workers : {2, 3, 3, 3})
        EXPECT_EQ(RunWith(workers), serial) << workers << " workers";
}

// Which copies overlap, by the file systems they go between.
TEST(CopyOverlap, RuleByFileSystems) {
    constexpr unsigned long kExt4 = 0xEF53, kTmpfs = 0x01021994, kXfs = 0x58465342, kVfat = 0x4d44,
                            kFuse = 0x65735546, kSmb2 = 0xFE534D42, kNfs = 0x6969;
    const OverlapRule none{};
    const OverlapRule share{3, 0, 1 << 20};
    const OverlapRule local{2, 0, 1 << 20};
    const struct {
        unsigned long source, target;
        OverlapRule rule;
    } cases[] = {
        {kExt4, kExt4, local},   {kTmpfs, kExt4, local}, {kExt4, kTmpfs, local},
        {kTmpfs, kTmpfs, local}, {kExt4, kXfs, none},    {kExt4, kVfat, none},
        {kXfs, kVfat, none},     {kFuse, kExt4, share},  {kExt4, kFuse, share},
        {kTmpfs, kSmb2, share},  {kNfs, kTmpfs, share},  {0, kExt4, local},
        {kExt4, 0, none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseOverlap(c.source, c.target), c.rule)
            << std::hex << c.source << " to " << c.target;
}

TEST(CopyOverlap, CancelLeavesOnlyWholeCopies) {
    RunFixture f;
    f.OneWay();
    f.run.CopyWorkers = 3;
    f.run.Task.set_speed_limit(0);
    std::vector<TreeFile> files;
    for (int i = 0; i < 200; ++i)
        files.push_back({"d/f" + std::to_string(i), std::string(4000 + i, 'x')});
    f.tmp.build(f.host, files);
    f.tmp.build(f.mirror, {});
    // Cancelled with copies done, copies under way and copies handed out.
    f.ui.onPump = [&] {
        if (f.run.State == RunState::ExecHost && f.run.Plan.CopiedToMirror >= 20)
            RequestCancel(f.run);
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    const Tree host = ReadTree(f.host);
    const Tree mirror = ReadTree(f.mirror);
    int copies = 0;
    for (const auto& [rel, content] : mirror) {
        if (rel.back() == '/')
            continue;
        ++copies;
        EXPECT_EQ(rel.find(kTempMarker), std::string::npos) << rel;
        EXPECT_EQ(content, host.at(rel)) << rel;
    }
    EXPECT_GT(copies, 0);
    EXPECT_LT(copies, 200);
    EXPECT_EQ(f.run.Plan.CopiedToMirror, copies);
    // The small copies under way at the cancel end as copies.
    EXPECT_EQ(f.run.Plan.FailedCount, 0);
}

} // namespace

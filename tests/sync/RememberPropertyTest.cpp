// A two-way task that remembers its last run, as a property: both sides are
// edited at random between runs (new files, edits, deletes, renames, the same
// file edited on both sides, deleted on one and edited on the other), and
// after every run
//   - nothing is lost: every version that existed before the run is on a
//     side or in the versioning folder afterwards (a conflict's losing
//     version is on both sides under its conflict name);
//   - no deleted file comes back: a file deleted on one side and left as it
//     was on the other is gone from both;
//   - both sides are equal, and the run counts no failure.
// Runs for DUPLORA_PROPERTY_SECONDS (20 by default here); a failure names its
// seed, and DUPLORA_PROPERTY_SEED replays it.

#include "sync/memory/Remember.h"
#include "tasks/TaskPresets.h"
#include "tests/sync/TreeFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>

namespace duplora::test {
namespace {

using Files = std::map<std::string, std::string>; // path -> content

Files FilesOf(const std::string& dir) {
    Files out;
    for (const auto& [path, content] : ReadTree(dir))
        if (path.back() != '/')
            out[path] = content;
    return out;
}

struct World {
    std::mt19937 rng;
    int version = 0;
    std::time_t clock = kT0;

    explicit World(unsigned seed) : rng(seed) {}
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    std::string Fresh() { return "v" + std::to_string(++version); }
    std::string Name() {
        static const char* const dirs[] = {"", "a/", "a/b/", "c/"};
        return dirs[Pick(4)] + std::string("f") + std::to_string(Pick(8)) + ".txt";
    }
    void Write(const std::string& root, const std::string& rel, const std::string& content) {
        const fs::path p = fs::path(root) / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        TempRoot::SetMtime(p.string(), clock += 10);
    }
    // One random change of a side; returns the path it deleted, if any.
    std::string Change(const std::string& root) {
        const Files now = FilesOf(root);
        std::vector<std::string> names;
        for (const auto& [path, content] : now)
            names.push_back(path);
        const int what = names.empty() ? 0 : Pick(4);
        if (what == 0) {
            const std::string rel = Name();
            if (!now.count(rel))
                Write(root, rel, Fresh());
            return {};
        }
        const std::string rel =
            names[static_cast<std::size_t>(Pick(static_cast<int>(names.size())))];
        if (what == 1) {
            Write(root, rel, Fresh());
            return {};
        }
        if (what == 2) {
            fs::remove(fs::path(root) / rel);
            return rel;
        }
        const std::string to = Name();
        if (now.count(to) || to == rel)
            return {};
        fs::create_directories((fs::path(root) / to).parent_path());
        fs::rename(fs::path(root) / rel, fs::path(root) / to);
        return rel;
    }
};

// Every content below `dir`, whatever its name.
std::multiset<std::string> Contents(const std::string& dir) {
    std::multiset<std::string> out;
    for (const auto& [path, content] : FilesOf(dir))
        out.insert(content);
    return out;
}

void OneCase(unsigned seed, int rounds) {
    RunFixture f;
    World w(seed);
    const std::string versions = f.tmp.sub("versions");
    f.run.Task = MakePresetRecord(TaskPreset::TwoWay, "");
    f.run.Task.set_host_path(f.host);
    f.run.Task.set_mirror_path(f.mirror);
    f.run.Task.set_remember_last_run(true);
    f.run.Task.set_detect_moves(true);
    f.run.Task.set_move_min_size(1);
    f.run.Task.set_on_delete(DeleteMode::Versions);
    f.run.Task.set_versions_folder(versions);
    f.run.MemoryFolder = f.tmp.sub("state");
    f.run.Clock = [&w] { return w.clock; };
    fs::create_directories(f.host);
    fs::create_directories(f.mirror);
    for (int i = 0; i < 12; ++i) {
        const std::string rel = w.Name();
        const std::string content = w.Fresh();
        w.Write(f.host, rel, content);
        w.Write(f.mirror, rel, content);
        TempRoot::SetMtime((fs::path(f.host) / rel).string(), w.clock);
    }
    f.Run();
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) +
                     "; replay with DUPLORA_PROPERTY_SEED=" + std::to_string(seed));
        const Files hostBefore = FilesOf(f.host), mirrorBefore = FilesOf(f.mirror);
        std::vector<std::pair<std::string, bool>> deleted; // path, on the host
        for (int k = w.Pick(4); k >= 0; --k) {
            if (const std::string d = w.Change(f.host); !d.empty())
                deleted.emplace_back(d, true);
            if (const std::string d = w.Change(f.mirror); !d.empty())
                deleted.emplace_back(d, false);
        }
        // Every version before the run (both sides, the versioning folder).
        std::set<std::string> before;
        for (const std::string& dir : {f.host, f.mirror, versions})
            for (const std::string& c : Contents(dir))
                before.insert(c);
        const Files hostNow = FilesOf(f.host), mirrorNow = FilesOf(f.mirror);
        w.clock += 100;
        f.lines = ResultLines();
        f.Run();
        ASSERT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
        const Files hostAfter = FilesOf(f.host), mirrorAfter = FilesOf(f.mirror);
        ASSERT_EQ(hostAfter, mirrorAfter) << f.Text();
        std::set<std::string> after;
        for (const std::string& dir : {f.host, f.mirror, versions})
            for (const std::string& c : Contents(dir))
                after.insert(c);
        for (const std::string& c : before)
            ASSERT_TRUE(after.count(c)) << "lost " << c << "\n" << f.Text();
        for (const auto& [rel, onHost] : deleted) {
            // Deleted on one side, unchanged on the other, still gone on the
            // first: it must not come back.
            const Files& other = onHost ? mirrorNow : hostNow;
            const Files& otherBefore = onHost ? mirrorBefore : hostBefore;
            const Files& same = onHost ? hostNow : mirrorNow;
            const auto it = other.find(rel), was = otherBefore.find(rel);
            if (same.count(rel) || it == other.end() || was == otherBefore.end() ||
                it->second != was->second)
                continue;
            EXPECT_FALSE(hostAfter.count(rel)) << rel << " came back\n" << f.Text();
        }
    }
}

TEST(RememberProperty, NothingLostNothingResurrectedBothSidesEqual) {
    const char* secondsText = std::getenv("DUPLORA_PROPERTY_SECONDS");
    const char* seedText = std::getenv("DUPLORA_PROPERTY_SEED");
    if (seedText != nullptr && *seedText != '\0') {
        OneCase(static_cast<unsigned>(std::stoul(seedText)), 12);
        return;
    }
    const double seconds =
        secondsText != nullptr && *secondsText != '\0' ? std::stod(secondsText) / 3 : 20.0;
    const auto start = std::chrono::steady_clock::now();
    unsigned seed = static_cast<unsigned>(std::random_device{}());
    int cases = 0;
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
           seconds) {
        OneCase(seed + static_cast<unsigned>(cases), 12);
        if (::testing::Test::HasFailure())
            return;
        ++cases;
    }
    std::printf("%d cases of 12 rounds\n", cases);
}

} // namespace
} // namespace duplora::test

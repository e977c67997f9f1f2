// A walk with folders read ahead on other threads reports what the walk alone
// reports, event for event and whatever the number of threads, faults met on
// the way included; a stop drops what was read ahead, and no thread and no
// descriptor outlives the walk.
#include "sync/fs/FileIo.h"
#include "sync/scan/SearchDirW.h"

#include "TreeFixture.h"
#include "UnreadableIo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace duplora;
using namespace duplora::test;

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A tree of odd cases: nested, empty, unreadable, listable but not
// searchable, vanishing, skipped and filtered folders, links, a volume
// trash's name away from a volume's top, and more folders than are ever
// held ahead at once.
struct OddTree {
    TempRoot tmp;
    std::string root = tmp.sub("r");
    std::atomic<int> opensAhead{0}; // folders opened off the walk's thread
    std::thread::id walker = std::this_thread::get_id();

    OddTree() {
        std::vector<TreeFile> files = {{"a/b/c/d/deep.txt", "deep"},
                                       {"a/empty2/"},
                                       {"empty/"},
                                       {"locked/x", "x"},
                                       {"locked/sub/y", "y"},
                                       {"listonly/y", "y"},
                                       {"gone/v1", "1"},
                                       {"gone/v2", "22"},
                                       {"skip/in/deep/s", "s"},
                                       {"other/o", "o"},
                                       {".Trash-0/t", "t"}};
        for (int i = 0; i < 150; ++i)
            files.push_back({"many/d" + std::to_string(i) + "/f", std::string(i % 7, 'x')});
        for (int i = 0; i < 40; ++i)
            files.push_back({"wide/w" + std::to_string(i), "w"});
        tmp.build(root, files);
        namespace fs = std::filesystem;
        fs::create_symlink("gone/v2", root + "/link-to-file");
        fs::create_symlink("a", root + "/link-to-folder");
        fs::create_symlink("nowhere", root + "/a/dangling");
    }

    // "locked" cannot be opened, no entry of "listonly" looked at, "gone/v1"
    // vanishes between the listing and its stat; every folder's opening
    // takes 100 µs, so that threads get ahead of the walk.
    FileIoCalls Faults() {
        FileIoCalls io = Unreadable("/r/locked");
        const FileIoCalls unreadable = io;
        io.openDir = [this, unreadable](int dirFd, const char* path, int flags) {
            if (std::this_thread::get_id() != walker)
                ++opensAhead;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            return unreadable.openDir(dirFd, path, flags);
        };
        io.statAt = [](int dirFd, const char* path, struct stat* st, int flags) {
            const std::string full = FullPath(dirFd, path);
            if (EndsWith(full, "/gone/v1") || full.find("/listonly/") != std::string::npos) {
                errno = EndsWith(full, "/v1") ? ENOENT : EACCES;
                return -1;
            }
            return KernelFileIo().statAt(dirFd, path, st, flags);
        };
        return io;
    }

    // Every event of a walk with `threads` threads reading ahead, in order.
    // `stopAfter` items in, a handler stops the reading ahead.
    std::vector<std::string> Walk(int threads, int stopAfter = -1) {
        TSearchDirW s;
        s.Root = root;
        s.IntoSubDir = true;
        s.ListAheadThreads = threads;
        s.ProgressInterval = 16;
        struct stat other;
        EXPECT_EQ(stat((root + "/other").c_str(), &other), 0);
        s.SkipFolders.push_back(
            {static_cast<std::uint64_t>(other.st_dev), static_cast<std::uint64_t>(other.st_ino)});
        std::vector<std::string> events;
        const auto rel = [this](const std::string& p) { return p.substr(root.size()); };
        s.OnProgress = [&](TSearchDirW&, const std::string& dir) {
            events.push_back("progress " + rel(dir));
        };
        s.OnFolderError = [&](TSearchDirW&, const std::string& dir) {
            events.push_back("error " + rel(dir));
        };
        s.OnEnquiryOperation = [&](TSearchDirW&, TFoundItemType, const std::string& item,
                                   TSearchOperation& op) {
            if (EndsWith(item, "/skip"))
                op = soSkip;
        };
        s.OnFoundItem = [&](TSearchDirW& w, TFoundItemType type, const std::string& item,
                            std::int64_t& size, std::int32_t age, std::uint32_t attr) {
            events.push_back((type == fiDir ? "folder " : "file ") + rel(item) + " " +
                             std::to_string(size) + " " + std::to_string(age) + " " +
                             std::to_string(attr) + " level " + std::to_string(w.Level()));
            if (--stopAfter == 0)
                w.StopListingAhead();
        };
        const std::int64_t total = s.Search();
        events.push_back("total " + std::to_string(total));
        return events;
    }
};

// Entries of /proc/self/fd (descriptors) or /proc/self/task (threads).
std::size_t Count(const char* folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

TEST(ListingAhead, WalkReportsWhatTheWalkAloneReports) {
    OddTree tree;
    ScopedFileIo io(tree.Faults());
    const std::vector<std::string> alone = tree.Walk(0);
    ASSERT_EQ(tree.opensAhead, 0);
    // The faults were met: one error each for "locked" and "listonly".
    EXPECT_EQ(std::count(alone.begin(), alone.end(), "error /locked"), 1);
    EXPECT_EQ(std::count(alone.begin(), alone.end(), "error /listonly"), 1);
    std::thread([] {}).join(); // a sanitizer's own thread starts with the first thread
    const std::size_t descriptors = Count("/proc/self/fd");
    const std::size_t threads = Count("/proc/self/task");
    struct Case {
        int threads;
        int stopAfter; // items before a handler stops the reading ahead
    };
    for (const Case c :
         {Case{1, -1}, Case{2, -1}, Case{4, -1}, Case{8, -1}, Case{4, 100}, Case{4, 1}}) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(testing::Message() << c.threads << " threads, stop after " << c.stopAfter
                                            << ", round " << round);
            tree.opensAhead = 0;
            EXPECT_EQ(tree.Walk(c.threads, c.stopAfter), alone);
            if (c.stopAfter < 0) {
                EXPECT_GT(tree.opensAhead, 0); // the threads did read ahead
            }
            EXPECT_EQ(Count("/proc/self/fd"), descriptors);
            EXPECT_EQ(Count("/proc/self/task"), threads);
        }
    }
}

} // namespace

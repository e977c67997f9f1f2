// Convergence of a mirror task, as a property: random trees and random
// changes between runs, and after every run the mirror is what
// `rsync -a --delete` makes of the same host (names, contents, file times to
// the second, empty folders), the run counts no failure, and a plan made
// right after has nothing to do. With move detection off and on, deleting
// permanently and to the trash (then every file that left the mirror is in
// the trash with its content, or was moved within the mirror).
//
// The test runs for a fixed time, DUPLORA_PROPERTY_SECONDS (60 by default),
// counting elapsed time rather than cases so that a slow build (sanitizers)
// stays within it. DUPLORA_PROPERTY_SEED replays one case. A failure names
// its seed.
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <set>

using namespace duplora;
using namespace duplora::test;

namespace {

struct Item {
    bool folder = false;
    std::string content;
    std::time_t mtime = 0;
    bool operator==(const Item& o) const {
        return folder == o.folder && content == o.content && mtime == o.mtime;
    }
};
using Snapshot = std::map<std::string, Item>;

Snapshot Take(const std::string& dir) {
    Snapshot out;
    if (!fs::exists(dir))
        return out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string rel = it->path().lexically_relative(dir).string();
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        Item item;
        item.folder = S_ISDIR(st.st_mode);
        if (!item.folder) {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            item.content = ss.str();
            item.mtime = st.st_mtim.tv_sec;
        }
        out[rel] = std::move(item);
    }
    return out;
}

std::string Describe(const Snapshot& want, const Snapshot& got) {
    std::string out;
    int shown = 0;
    for (const auto& [path, item] : want) {
        const auto it = got.find(path);
        if (it == got.end())
            out += "  missing in the mirror: " + path + "\n";
        else if (!(it->second == item))
            out += "  differs: " + path + (item.folder ? "/" : "") + " (size " +
                   std::to_string(item.content.size()) + " vs " +
                   std::to_string(it->second.content.size()) + ", time " +
                   std::to_string(item.mtime) + " vs " + std::to_string(it->second.mtime) + ")\n";
        else
            continue;
        if (++shown == 20)
            return out;
    }
    for (const auto& [path, item] : got)
        if (!want.count(path)) {
            out += "  only in the mirror: " + path + (item.folder ? "/" : "") + "\n";
            if (++shown == 20)
                return out;
        }
    return out;
}

bool HaveRsync() {
    return std::system("rsync --version >/dev/null 2>&1") == 0;
}

// rsync -a --delete host/ ref/, without a shell between (names are odd).
bool Rsync(const std::string& from, const std::string& to) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string src = from + "/";
        const std::string dst = to + "/";
        ::execlp("rsync", "rsync", "-a", "--delete", src.c_str(), dst.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

std::string Decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// (original full path, content) of everything in the trash folder.
std::multimap<std::string, std::string> ReadTrash(const std::string& trash) {
    std::multimap<std::string, std::string> out;
    if (!fs::exists(trash + "/info"))
        return out;
    for (const auto& e : fs::directory_iterator(trash + "/info")) {
        std::ifstream in(e.path(), std::ios::binary);
        std::string header, path;
        std::getline(in, header);
        std::getline(in, path);
        const std::string info = e.path().filename().string();
        const std::string name = info.substr(0, info.size() - std::string(".trashinfo").size());
        std::ifstream file(trash + "/files/" + name, std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        out.emplace(Decode(path.substr(5)), content.str());
    }
    return out;
}

// Names a user may give: spaces, '%', a line break, letters beyond ASCII,
// bytes that are not UTF-8, leading dots and dashes, names that differ only
// in letter case.
const char* const kNames[] = {
    "a",
    "B",
    "readme.txt",
    "README.TXT",
    "photo.JPG",
    "a b",
    "100% sure",
    "line\nbreak",
    "-dash",
    ".hidden",
    "caf\xc3\xa9",
    "\xc3\x84rger",
    "\xe6\x97\xa5\xe8\xa8\x98",
    "\xff\xfe raw",
    "x.tar.gz",
    "Docs",
    "docs",
    "trailing.",
    "0",
    "z9",
};

class World {
public:
    World(std::uint64_t seed, std::string host) : rng_(seed), host_(std::move(host)) {}

    // A first tree: nested and empty folders, files of 0 bytes to a few MiB.
    void Grow(int entries) {
        fs::create_directories(host_);
        for (int i = 0; i < entries; ++i) {
            if (Chance(30))
                NewFolder(PickFolder(), Chance(30));
            else
                NewFile(PickFolder());
        }
    }

    // One to eight random changes; what was done is in Log().
    void Change() {
        log_.clear();
        const int n = 1 + Uniform(0, 7);
        for (int i = 0; i < n; ++i)
            OneChange();
    }
    const std::string& Log() const { return log_; }

private:
    bool Chance(int percent) { return Uniform(0, 99) < percent; }
    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    std::vector<std::string> List(bool folders) const {
        std::vector<std::string> out;
        for (auto it = fs::recursive_directory_iterator(host_);
             it != fs::recursive_directory_iterator(); ++it)
            if (it->is_directory() == folders)
                out.push_back(it->path().string());
        std::sort(out.begin(), out.end()); // listing order is the file system's
        return out;
    }
    std::string PickFolder() {
        std::vector<std::string> folders = List(true);
        folders.push_back(host_);
        // Not too deep: three levels below the root at most.
        std::vector<std::string> shallow;
        for (const std::string& f : folders)
            if (std::count(f.begin() + host_.size(), f.end(), '/') < 3)
                shallow.push_back(f);
        return shallow[Uniform(0, static_cast<int>(shallow.size()) - 1)];
    }
    std::string FreeName(const std::string& folder) {
        for (int tries = 0; tries < 50; ++tries) {
            std::string name = kNames[Uniform(0, static_cast<int>(std::size(kNames)) - 1)];
            if (Chance(50))
                name += "-" + std::to_string(Uniform(0, 99));
            if (!fs::exists(fs::symlink_status(folder + "/" + name)))
                return folder + "/" + name;
        }
        return folder + "/n" + std::to_string(rng_());
    }
    std::time_t RandomTime() { return kT0 - 20000000 + Uniform(0, 40000000); }
    std::string Content() {
        const int kind = Uniform(0, 99);
        const std::size_t size = kind < 10   ? 0
                                 : kind < 85 ? static_cast<std::size_t>(Uniform(1, 4096))
                                 : kind < 97 ? static_cast<std::size_t>(Uniform(4097, 300000))
                                             : static_cast<std::size_t>(Uniform(1, 3 << 20));
        std::string s(size, '\0');
        for (char& c : s)
            c = static_cast<char>(rng_());
        return s;
    }
    void Write(const std::string& path, const std::string& content, std::time_t mtime) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        TempRoot::SetMtime(path, mtime);
    }
    void NewFile(const std::string& folder) {
        const std::string path = FreeName(folder);
        Write(path, Content(), RandomTime());
        Note("new file", path);
    }
    void NewFolder(const std::string& folder, bool empty) {
        const std::string path = FreeName(folder);
        fs::create_directory(path);
        Note("new folder", path);
        if (!empty)
            for (int i = Uniform(1, 4); i > 0; --i)
                NewFile(path);
    }
    // A new content with a time at least 4 s (and never about an hour) away,
    // so the comparison sees a change under the task's tolerance.
    void ChangeFile(const std::string& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        int delta = Uniform(4, 3000);
        if (Chance(30))
            delta += 4000 + Uniform(0, 1000000);
        Write(path, Content(), st.st_mtim.tv_sec + (Chance(50) ? delta : -delta));
        Note("changed", path);
    }
    static std::string SwapCase(std::string name) {
        for (char& c : name)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 32);
            else if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 32);
        return name;
    }
    void Rename(const std::string& path, bool caseOnly) {
        const fs::path p(path);
        std::string to;
        if (caseOnly) {
            to = (p.parent_path() / SwapCase(p.filename().string())).string();
            if (to == path || fs::exists(fs::symlink_status(to)))
                return;
        } else {
            std::string into = Chance(50) ? p.parent_path().string() : PickFolder();
            if (into == path || into.rfind(path + "/", 0) == 0)
                into = p.parent_path().string();
            to = FreeName(into);
        }
        fs::rename(path, to);
        Note(caseOnly ? "case-renamed" : "renamed", path + " -> " + to);
    }
    void OneChange() {
        const std::vector<std::string> files = List(false);
        const std::vector<std::string> folders = List(true);
        auto pick = [&](const std::vector<std::string>& v) {
            return v[Uniform(0, static_cast<int>(v.size()) - 1)];
        };
        const int what = Uniform(0, 99);
        if (what < 15 || (files.empty() && folders.empty())) {
            NewFile(PickFolder());
        } else if (what < 22) {
            NewFolder(PickFolder(), Chance(40));
        } else if (what < 40 && !files.empty()) {
            ChangeFile(pick(files));
        } else if (what < 50 && !files.empty()) {
            const std::string f = pick(files);
            fs::remove(f);
            Note("deleted", f);
        } else if (what < 62 && !files.empty()) {
            Rename(pick(files), false);
        } else if (what < 68 && !files.empty()) {
            Rename(pick(files), true);
        } else if (what < 74 && !folders.empty()) {
            const std::string d = pick(folders);
            fs::remove_all(d);
            Note("deleted folder", d);
        } else if (what < 82 && !folders.empty()) {
            Rename(pick(folders), false);
        } else if (what < 86 && !folders.empty()) {
            Rename(pick(folders), true);
        } else if (what < 93 && !files.empty()) {
            // A file becomes a folder of the same name, maybe with files.
            const std::string f = pick(files);
            fs::remove(f);
            fs::create_directory(f);
            Note("file to folder", f);
            for (int i = Uniform(0, 3); i > 0; --i)
                NewFile(f);
        } else if (what < 95 && !files.empty()) {
            // A file moved into a new folder of its own name.
            const std::string f = pick(files);
            fs::rename(f, f + ".tmp-move");
            fs::create_directory(f);
            const std::string to = FreeName(f);
            fs::rename(f + ".tmp-move", to);
            Note("file into a folder of its name", f + " -> " + to);
        } else if (!folders.empty()) {
            const std::string d = pick(folders);
            fs::remove_all(d);
            Write(d, Content(), RandomTime());
            Note("folder to file", d);
        } else {
            NewFile(PickFolder());
        }
    }
    void Note(const char* what, const std::string& path) {
        log_ += std::string("  ") + what + ": " + path.substr(host_.size()) + "\n";
    }

    std::mt19937_64 rng_;
    std::string host_;
    std::string log_;
};

struct Mode {
    const char* name;
    bool moves;
    bool trash;
};
constexpr Mode kModes[] = {
    {"moves off", false, false},
    {"moves on", true, false},
    {"moves off, trash", false, true},
    {"moves on, trash", true, true},
};

// One case: a random tree and a few runs with random changes between them.
// Returns false (after reporting) on the first run that does not converge.
struct Totals {
    int runs = 0;
    long copied = 0, deleted = 0, moved = 0, folders = 0;
};

bool RunCase(std::uint64_t seed, const Mode& mode, Totals& totals) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_newer_in_mirror_action(SyncAction::HostToMirror);
    f.run.Task.set_empty_folder_action(SyncAction::HostToMirror);
    f.run.Task.set_detect_moves(mode.moves);
    f.run.Task.set_move_min_size(1);
    f.run.Task.set_speed_limit(0);
    f.run.Start = RunStart::CommandLine;
    f.run.Clock = [] { return std::time(nullptr); };
    const std::string ref = f.tmp.sub("rsync");
    const std::string data = f.tmp.sub("data");
    if (mode.trash) {
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        f.run.Task.set_on_delete(DeleteMode::Trash);
    }
    struct Unset {
        bool on;
        ~Unset() {
            if (on)
                ::unsetenv("XDG_DATA_HOME");
        }
    } unset{mode.trash};
    World world(seed, f.host);
    std::mt19937_64 sizes(seed ^ 0x5eed);
    world.Grow(std::uniform_int_distribution<int>(5, 60)(sizes));
    const int steps = std::uniform_int_distribution<int>(3, 6)(sizes);
    auto fail = [&](int step, const std::string& what) {
        ADD_FAILURE() << "seed " << seed << " (" << mode.name << "), run " << step << ": " << what
                      << "\nchanges before this run:\n"
                      << (step == 0 ? std::string("  (the first tree)\n") : world.Log())
                      << "result lines:\n"
                      << f.Text() << "replay with DUPLORA_PROPERTY_SEED=" << seed;
        return false;
    };
    for (int step = 0; step < steps; ++step) {
        if (step > 0)
            world.Change();
        const Snapshot before = Take(f.mirror);
        f.lines = ResultLines();
        const RunOutcome outcome = f.Run();
        ++totals.runs;
        totals.copied += f.run.Plan.CopiedToMirror;
        totals.deleted += f.run.Plan.DeletedInMirror;
        totals.moved += f.run.Plan.MovedCount;
        totals.folders += f.run.Plan.EmptyFoldersDone;
        if ((outcome != RunOutcome::Finished && outcome != RunOutcome::NothingToDo) ||
            f.run.Plan.FailedCount != 0)
            return fail(step, "the run did not end cleanly");
        if (!Rsync(f.host, ref))
            return fail(step, "rsync failed");
        const Snapshot want = Take(ref);
        const Snapshot got = Take(f.mirror);
        if (want != got)
            return fail(step, "the mirror is not what rsync makes:\n" + Describe(want, got));
        std::string error;
        if (!BuildPlan(f.run, error) || f.run.Plan.WorkCount() != 0)
            return fail(step, "the next plan is not empty (" +
                                  std::to_string(f.run.Plan.WorkCount()) + " operations) " + error);
        if (!mode.trash)
            continue;
        // Every file that left the mirror is in the trash, or was moved.
        const auto trash = ReadTrash(data + "/Trash");
        std::multiset<std::string> arrived;
        for (const auto& [path, item] : got)
            if (!item.folder && !(before.count(path) && before.at(path) == item))
                arrived.insert(item.content);
        for (const auto& [path, item] : before) {
            if (item.folder || (got.count(path) && got.at(path) == item))
                continue;
            bool kept = false;
            const auto [from, to] = trash.equal_range(f.mirror + "/" + path);
            for (auto it = from; it != to && !kept; ++it)
                kept = it->second == item.content;
            if (!kept && mode.moves)
                kept = arrived.count(item.content) != 0;
            if (!kept)
                return fail(step, "left the mirror but is not in the trash: " + path);
        }
    }
    return true;
}

} // namespace

TEST(ConvergenceProperty, MirrorEqualsRsyncAfterEveryRun) {
    if (!HaveRsync())
        GTEST_SKIP() << "rsync is not installed (scripts/install-deps.sh installs it)";
    const char* secondsText = std::getenv("DUPLORA_PROPERTY_SECONDS");
    const char* seedText = std::getenv("DUPLORA_PROPERTY_SEED");
    const double seconds = secondsText ? std::atof(secondsText) : 60.0;
    int cases = 0;
    Totals totals;
    if (seedText) {
        const std::uint64_t seed = std::strtoull(seedText, nullptr, 10);
        for (const Mode& mode : kModes)
            RunCase(seed, mode, totals);
        return;
    }
    std::uint64_t seed = std::random_device{}();
    seed = (seed << 32) ^ static_cast<std::uint64_t>(std::time(nullptr));
    seed %= 1000000000000ULL;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
           seconds) {
        const Mode& mode = kModes[static_cast<std::size_t>(cases) % std::size(kModes)];
        ++cases;
        if (!RunCase(seed + static_cast<std::uint64_t>(cases), mode, totals))
            break;
    }
    std::cout << "convergence: " << cases << " cases, " << totals.runs << " runs (" << totals.copied
              << " copies, " << totals.deleted << " deletes, " << totals.moved << " moves, "
              << totals.folders << " folders made or removed) in "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              << " s (first seed " << seed + 1 << ")\n";
}

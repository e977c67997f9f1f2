#pragma once
// Trees as literals for engine tests: a temporary folder per test, trees of
// {path, content, mtime} built below it, read back for comparison. Building
// refuses any root outside the test's own temporary folder.

#include "sync/run/RunContext.h"
#include "sync/run/RunGate.h"
#include "sync/run/RunObserver.h"
#include "sync/run/SyncRun.h"
#include "sync/share/ShareRun.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace duplora::test {

namespace fs = std::filesystem;

// A fixed moment well inside the packable range (2024-05-06 12:00:00 UTC).
constexpr std::time_t kT0 = 1714996800;

struct TreeFile {
    TreeFile(std::string p, std::string c = "", std::time_t m = kT0)
        : path(std::move(p)), content(std::move(c)), mtime(m) {}
    std::string path; // relative, '/' separated; a trailing '/' makes an empty folder
    std::string content;
    std::time_t mtime;
};

class TempRoot {
public:
    TempRoot() {
        std::string tmpl = (fs::temp_directory_path() / "duplora-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        root_ = tmpl;
    }
    ~TempRoot() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& path() const { return root_; }
    std::string sub(const std::string& name) const { return (root_ / name).string(); }

    // Builds `files` below `dir`, which must lie inside this temporary root.
    void build(const std::string& dir, const std::vector<TreeFile>& files) const {
        const fs::path d = fs::weakly_canonical(dir);
        const std::string base = fs::weakly_canonical(root_).string() + "/";
        if (d.string().rfind(base, 0) != 0)
            throw std::logic_error("refusing to build a tree outside the test folder: " + dir);
        fs::create_directories(d);
        for (const TreeFile& f : files) {
            const fs::path p = d / f.path;
            if (!f.path.empty() && f.path.back() == '/') {
                fs::create_directories(p);
                continue;
            }
            fs::create_directories(p.parent_path());
            std::ofstream(p, std::ios::binary) << f.content;
            SetMtime(p.string(), f.mtime);
        }
    }

    static void SetMtime(const std::string& path, std::time_t t) {
        struct timespec ts[2] = {{t, 0}, {t, 0}};
        utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW);
    }

private:
    fs::path root_;
};

// "path" -> content for files, "path/" -> "" for folders; links are listed
// as "path@" -> link target and never followed.
inline std::map<std::string, std::string> ReadTree(const std::string& dir) {
    std::map<std::string, std::string> tree;
    if (!fs::exists(dir))
        return tree;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string rel = it->path().lexically_relative(dir).string();
        if (it->is_symlink()) {
            tree[rel + "@"] = fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[rel + "/"] = "";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            tree[rel] = ss.str();
        }
    }
    return tree;
}

// Records what a run shows; each answer can be scripted.
class RecordingObserver : public RunObserver {
public:
    std::function<void()> onPump;
    std::function<void()> onTotals;           // after every copied step
    std::function<bool(SyncPlan&)> onPreview; // empty: accept
    std::vector<std::string> messages;
    std::vector<std::string> paths;
    std::vector<std::string> statuses, operations, totals;
    std::vector<int> fileGauge, totalGauge;
    int animations = 0;
    int previews = 0;
    int results = 0;
    int pumps = 0;

    void Pump() override {
        ++pumps;
        if (onPump)
            onPump();
    }
    void SetPath(const std::string& text) override { paths.push_back(text); }
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetOperation(const std::string& text) override { operations.push_back(text); }
    void SetTotals(const std::string& text) override {
        totals.push_back(text);
        if (onTotals)
            onTotals();
    }
    void SetFileGauge(int p) override { fileGauge.push_back(p); }
    void SetTotalGauge(int p) override { totalGauge.push_back(p); }
    void StartAnimation() override { ++animations; }
    void StopAnimation() override { --animations; }
    bool ShowPreview(SyncPlan& plan, const RunContext&) override {
        ++previews;
        return onPreview ? onPreview(plan) : true;
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.push_back(caption + ": " + text);
    }
    void ShowResult() override { ++results; }
};

// A task between two folders of a temporary root, ready for RunSteps().
struct RunFixture {
    TempRoot tmp;
    std::string host = tmp.sub("host");
    std::string mirror = tmp.sub("mirror");
    ResultLines lines;
    RecordingObserver ui;
    RunContext run;

    RunFixture() {
        run.TaskName = "Test task";
        run.Task = TaskRecord::MakeNew("");
        run.Task.set_host_path(host);
        run.Task.set_mirror_path(mirror);
        run.Task.set_include_subfolders(true);
        run.Lines = &lines;
        run.Ui = &ui;
        run.Clock = [] { return kT0; };
    }
    // Host -> mirror copies for new and newer files.
    void OneWay() {
        run.Task.set_only_in_host_action(SyncAction::HostToMirror);
        run.Task.set_newer_in_host_action(SyncAction::HostToMirror);
        run.Task.set_size_differs_action(SyncAction::HostToMirror);
    }
    // Shares for RunSteps(); null: a connector of the process's GVfs mounter.
    ShareConnector* shares = nullptr;
    RunOutcome Run() { return RunSteps(run, shares); }
    // The gate alone, as every run passes it first: true when ready.
    bool Gate() {
        ShareConnector own;
        return PassGate(run, shares ? *shares : own) == GateVerdict::Ready;
    }
    std::string Text() const {
        std::string all;
        for (const std::string& l : lines.Lines())
            all += l + "\n";
        return all;
    }
};

} // namespace duplora::test

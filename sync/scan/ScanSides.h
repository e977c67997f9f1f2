#pragma once
// The scan of one run: which folders and files of each side are looked at,
// and the entry of each file found, stored in the plan's lists for the
// comparison (sync/compare/Analysis.h).

#include "sync/plan/FileEntry.h"
#include "sync/scan/SearchDirW.h"
#include "tasks/TaskRecord.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

namespace duplora {

struct RunContext;

// The folder filter: recycle-bin folders, then the folder list's lines in
// exclude mode (skip a folder the list names) or include mode (scan only
// folders that are a listed folder or lie inside one). Lines are relative
// paths starting with '/'. O(depth) per folder.
class FolderFilter {
public:
    FolderFilter(const TaskRecord& task, bool foldCase);
    // `rel` is the folder's path below the root, starting with '/'.
    TSearchOperation Ask(std::string_view rel) const;

private:
    std::string key(std::string_view rel) const;
    bool include_ = false;
    bool fold_ = false;
    std::unordered_set<std::string> lines_; // each with a trailing '/'
};

// The folders of one side that could not be read, asked whether a path of
// the other side lies below one of them. O(depth) per path.
class UnreadableFolders {
public:
    UnreadableFolders(const std::vector<std::string>& folders, bool foldCase);
    bool Empty() const { return keys_.empty(); }
    // `rel` is a file's path below the root, starting with '/'.
    bool Covers(std::string_view rel) const;

private:
    std::string key(std::string_view rel) const;
    bool fold_ = false;
    std::unordered_set<std::string> keys_;
};

// A copy's temporary file (".NAME.duplora-XXXXXX") left behind when the
// program was killed in the middle of a copy. It is never part of the plan:
// it would otherwise be copied to the other side as a file of its own.
bool IsCopyTempName(std::string_view name);

// "RECYCLED" or "RECYCLER" in any letter case.
bool IsRecycleFolderName(std::string_view name);

// Lines of a file-type task that name a plain file in the root; lines with
// '/', ".", ".." and empty ones are passed over, repeated lines kept once.
std::vector<std::string> ListedFileNames(const TaskRecord& task);

// The newest folder a scan on a thread of its own has reached, for the
// run's thread to show. The scan leaves a path only when the last one was
// taken, so a scan nobody watches pays one atomic load per progress call.
class ScanProgressSlot {
public:
    void Offer(const std::string& dir);
    // The path left since the last call, or false when there is none.
    bool Take(std::string& dir);

private:
    std::atomic<bool> wanted_{true};
    std::mutex mutex_;
    std::string path_;
    bool fresh_ = false;
};

// The mirror of a folder-type task scanned on a thread of its own while the
// run's thread scans the host. The thread writes only the mirror's part of
// the plan; the run's state, its display and the observer stay with the
// run's thread, which passes a cancel on with Stop() and, once the host is
// done, waits in Finish(). Plan, result lines and their order are those of
// a scan of one side after the other.
class MirrorScanThread {
public:
    // Empties the mirror's part of the plan and starts the scan.
    explicit MirrorScanThread(RunContext& run);
    // Stops the scan if it still runs and waits for the thread.
    ~MirrorScanThread();
    MirrorScanThread(const MirrorScanThread&) = delete;
    MirrorScanThread& operator=(const MirrorScanThread&) = delete;

    // From any thread: no further entry is kept, no further folder entered.
    void Stop();
    // On the run's thread: waits for the scan, showing the folder it is in
    // and pumping the observer every 25 ms; a cancel seen in the run's state
    // stops it. Then marks what lies below a host folder that could not be
    // read, as the serial scan does while it goes. An exception of the scan
    // passes out here.
    void Finish();

private:
    void Work(bool ownThread);

    RunContext& run_;
    std::atomic<bool> stop_{false};
    ScanProgressSlot progress_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false; // under mutex_
    std::exception_ptr error_;
    std::thread thread_;
};

// Whether StepListMain scans the mirror alongside the host: a folder-type
// task whose mirror is listed, unless RunInput::SerialScan or the
// environment variable DUPLORA_SERIAL_SCAN asks for one side after the other.
bool ScanSidesAtOnce(const RunContext& run);

// Scans one side into the plan (folder-type task) or reads the listed files
// (file-type task). `alongside`: the mirror's scan running meanwhile, stopped
// when the run is cancelled during the host's scan.
void ScanHostSide(RunContext& run, MirrorScanThread* alongside = nullptr);
void ScanMirrorSide(RunContext& run);

} // namespace duplora

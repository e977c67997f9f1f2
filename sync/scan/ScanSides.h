#pragma once
// The scan of one run: which folders and files of each side are looked at,
// and the entry of each file found, stored in the plan's lists for the
// comparison (sync/compare/Analysis.h).

#include "sync/plan/FileEntry.h"
#include "sync/scan/SearchDirW.h"
#include "tasks/TaskRecord.h"

#include <string>
#include <string_view>
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

// Scans one side into the plan (folder-type task) or reads the listed files
// (file-type task).
void ScanHostSide(RunContext& run);
void ScanMirrorSide(RunContext& run);

} // namespace duplora

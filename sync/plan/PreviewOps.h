#pragma once
// What the preview window does to a plan, without any window: the merged
// folder tree of both sides, the file rows of one folder (host and mirror
// paired by name), and switching or changing a row's operation with the
// plan's counters kept in step.
//
// Building the tree for 100,000 files in 5,000 folders is one pass over the
// folder lists and one over the files, with a hash lookup per folder change;
// listing a folder sorts only that folder's files (indexed per folder while
// the tree is built), never the whole plan.

#include "sync/plan/FileEntry.h"
#include "sync/plan/SyncPlan.h"
#include "tasks/TaskRecord.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace duplora {

// How a folder stands on each side. The last three describe the plan as it
// was when the tree was built; they do not follow later ticking.
enum TFolderFlag : std::uint8_t {
    fnOnlyHost = 0x01,    // the folder exists in the host folder only
    fnOnlyMirror = 0x02,  // in the mirror folder only
    fnMirrorEmpty = 0x04, // the mirror's copy is empty
    fnHostEmpty = 0x08,   // the host's copy is empty
    fnToMirror = 0x10,    // a file directly in it is to be copied host to mirror
    fnToHost = 0x20,      // a file is to be copied mirror to host
    fnDelete = 0x40,      // a file is to be deleted
    fnMove = 0x80,        // a file is to be moved away from here or to here
};

// One file name of the listed folder: the host file, the mirror file, or
// both. Rows point at the plan's entries and never own them.
struct TPreviewRow {
    TFileEntry* Mirror = nullptr;
    TFileEntry* Host = nullptr;
};

// The row's operation: the host entry's when there is one, else the mirror's.
TSyncOp RowOp(const TPreviewRow& row);
// The file name shown: last component of the mirror path, else the host's.
std::string_view RowName(const TPreviewRow& row);

// The tick box: 1..3 off (4..6), 4..6 back on, 0 untouched. A move (either
// of its two rows) falls back to the copy and the delete it replaced, both
// switched on, which the user can then switch one by one.
void SwitchRow(SyncPlan& plan, const TPreviewRow& row);
// Only the "on" half (4..6 -> 1..3), or only the "off" half. Switching a
// move off ("Clear Selection") leaves neither its copy nor its delete on.
void SwitchRowOn(SyncPlan& plan, const TPreviewRow& row);
void SwitchRowOff(SyncPlan& plan, const TPreviewRow& row);
// A click on the operation icon: delete -> copy to the mirror (needs a host
// file) -> copy to the host (needs a mirror file) -> delete, ending switched
// on. Ending on delete makes every present entry of the row a delete. A
// move becomes its copy and delete, as with the tick box.
void ChangeRowOp(SyncPlan& plan, const TPreviewRow& row);
// A move's row shows where the file comes from or goes to: "moved from
// /old/path" beside the new path's file, "moved to /new/path" beside the
// old one; "" for any other row.
std::string MoveNote(const SyncPlan& plan, const TPreviewRow& row);

// One folder of either side, in the merged tree.
struct TFolderNode {
    std::string_view Path; // relative, starting with '/'; the root is "/"
    std::string Label;     // last component; the root: "host <=> mirror"
    int Parent = -1;
    int Row = 0; // place among the parent's children, after sorting
    int Depth = 0;
    std::uint8_t Flags = 0;
    bool Expanded = false;
    std::vector<int> Children;
    // Indices into plan.HostFiles / plan.MirrorFiles of the files directly
    // in this folder, in list order.
    std::vector<std::uint32_t> HostFiles;
    std::vector<std::uint32_t> MirrorFiles;
};

// The merged folder tree. Paths compare like the plan's keys: byte for byte,
// or with a-z folded when the plan folds case.
class TFolderTree {
public:
    std::vector<TFolderNode> Nodes; // Nodes[0] is the root once Begin() ran

    void Clear();
    // Empties the tree and adds the root for the mirror side, then for the
    // host side, so the root carries no side flags.
    void Begin(bool foldCase, std::string_view hostRoot, std::string_view mirrorRoot);
    // Adds (or merges into) the node of `path` for one side. A missing parent
    // is added first for the same side, so no folder hangs at a wrong place.
    int AddFolder(bool hostSide, std::string_view path, bool empty);
    // Node index of a path, or -1.
    int Find(std::string_view path) const;
    // Sets fnDelete/fnToMirror/fnToHost from the files' operations and
    // indexes every file under its folder (adding folders that only files
    // reveal, so no file of the plan is left out of the preview).
    void MarkFiles(const SyncPlan& plan);
    // Expands the ancestors of every folder that has something to do.
    void ExpandQualifying(SyncAction emptyFolderAction);
    // Orders every node's children by label and numbers their rows.
    void SortByLabel();

    // The whole build. `progress(percent)` is called after every folder
    // whose index in its list is a multiple of 64 (the lists are walked from
    // last to first, so parents come before their sub-folders); returning
    // false stops the build at once (the tree is then incomplete).
    bool Build(const SyncPlan& plan, std::string_view hostRoot, std::string_view mirrorRoot,
               SyncAction emptyFolderAction, const std::function<bool(int percent)>& progress = {});

    bool FoldCase() const { return fold_; }

private:
    int addNode(bool hostSide, std::string_view path, bool empty, int depthGuard);
    bool fold_ = false;
    std::unordered_map<std::string_view, int, KeyHash, KeyEqual> index_{0, KeyHash{}, KeyEqual{}};
};

// The rows of one folder, ordered by name (a-z folded, then byte for byte),
// host and mirror files of the same name on one row. With `hideEqual`, rows
// where neither entry has an operation (0) are left out; switched-off rows
// stay.
std::vector<TPreviewRow> ListFolderRows(SyncPlan& plan, const TFolderNode& node, bool hideEqual);

// "yy-mm-dd hh:mm:ss" of a packed local time.
std::string AgeText(std::int32_t age);

// The grid's text colour for a row operation.
struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};
Rgb RowTextColour(TSyncOp op, bool selected);

// Image names of the grid and the tree (empty: none).
const char* TickImage(TSyncOp op);
const char* OpImage(TSyncOp op);
const char* HostFolderImage(std::uint8_t flags, bool selected);
const char* MirrorFolderImage(std::uint8_t flags, bool selected);

// Status bar panels 0..3: transmit count and bytes, host deletes, mirror
// deletes, empty folders; panel 4 the moves (for a task that detects them).
std::string StatusPanelText(const SyncPlan& plan, int panel);

} // namespace duplora

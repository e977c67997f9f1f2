#include "sync/plan/PreviewOps.h"

#include "sync/plan/SortList.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

#include <algorithm>
#include <cstdio>

namespace duplora {

namespace {

constexpr std::string_view kRootPath = "/";

// The folder part of a relative file path; "/" for a file in the root.
std::string_view DirPart(std::string_view relPath) {
    const std::size_t pos = relPath.rfind('/');
    if (pos == std::string_view::npos || pos == 0)
        return kRootPath;
    return relPath.substr(0, pos);
}

TFileEntry* Primary(const TPreviewRow& row) {
    return row.Host ? row.Host : row.Mirror;
}

// Every present entry of the row gets `op` (the delete case of the tick box).
void SetBoth(SyncPlan& plan, const TPreviewRow& row, TSyncOp op) {
    if (row.Host)
        plan.SetOp(*row.Host, true, op);
    if (row.Mirror)
        plan.SetOp(*row.Mirror, false, op);
}

// Display order: a-z folded first so "b" sits between "A" and "C", then byte
// for byte so names that differ only in case (distinct files when the plan
// does not fold) still have a fixed order.
int RowOrder(std::string_view a, std::string_view b, bool fold) {
    const int c = CompareKeysFolded(a, b);
    if (c != 0 || fold)
        return c;
    return CompareKeysExact(a, b);
}

} // namespace

TSyncOp RowOp(const TPreviewRow& row) {
    const TFileEntry* e = Primary(row);
    return e ? e->Op : opNone;
}

std::string_view RowName(const TPreviewRow& row) {
    const TFileEntry* e = row.Mirror ? row.Mirror : row.Host;
    if (!e)
        return {};
    const std::size_t pos = e->RelPath.rfind('/');
    return pos == std::string_view::npos ? e->RelPath : e->RelPath.substr(pos + 1);
}

// Counters move through SyncPlan::SetOp, which takes off the entry's old
// contribution and adds the new one, so they stay equal to a recount even
// when the two entries of a row had different operations (a host delete
// beside a mirror entry without one).
// The move a row's entry belongs to, or -1.
int RowMove(const SyncPlan& plan, const TPreviewRow& row) {
    const TFileEntry* e = Primary(row);
    return e ? plan.MoveOf(*e, e == row.Host) : -1;
}

void SwitchRowOff(SyncPlan& plan, const TPreviewRow& row) {
    TFileEntry* e = Primary(row);
    if (!e)
        return;
    if (const int m = RowMove(plan, row); m >= 0) {
        const TMove move = plan.Moves[static_cast<std::size_t>(m)];
        plan.DissolveMove(m);
        TFileEntry& host = plan.HostFiles[move.Host];
        TFileEntry& mirror = plan.MirrorFiles.Items(static_cast<int>(move.Mirror));
        plan.SetOp(host, true, ToggledOp(host.Op));
        plan.SetOp(mirror, false, ToggledOp(mirror.Op));
        return;
    }
    switch (e->Op) {
    case opDelete:
        SetBoth(plan, row, opDeleteOff);
        break;
    case opToMirror:
        plan.SetOp(*e, e == row.Host, opToMirrorOff);
        break;
    case opToHost:
        plan.SetOp(*e, e == row.Host, opToHostOff);
        break;
    default:
        break;
    }
}

void SwitchRowOn(SyncPlan& plan, const TPreviewRow& row) {
    TFileEntry* e = Primary(row);
    if (!e)
        return;
    switch (e->Op) {
    case opDeleteOff:
        SetBoth(plan, row, opDelete);
        break;
    case opToMirrorOff:
        plan.SetOp(*e, e == row.Host, opToMirror);
        break;
    case opToHostOff:
        plan.SetOp(*e, e == row.Host, opToHost);
        break;
    default:
        break;
    }
}

void SwitchRow(SyncPlan& plan, const TPreviewRow& row) {
    if (const int m = RowMove(plan, row); m >= 0) {
        plan.DissolveMove(m);
        return;
    }
    const TSyncOp op = RowOp(row);
    if (IsSwitchedOff(op))
        SwitchRowOn(plan, row);
    else
        SwitchRowOff(plan, row);
}

void ChangeRowOp(SyncPlan& plan, const TPreviewRow& row) {
    TFileEntry* e = Primary(row);
    if (!e || e->Op == opNone)
        return;
    if (const int m = RowMove(plan, row); m >= 0) {
        plan.DissolveMove(m);
        return;
    }
    if (IsMoveOp(e->Op))
        return; // a move entry without its move: nothing to cycle
    SwitchRowOff(plan, row);
    TSyncOp next = e->Op;
    switch (e->Op) {
    case opDeleteOff:
        next = row.Host ? opToMirrorOff : opToHostOff;
        break;
    case opToMirrorOff:
        next = row.Mirror ? opToHostOff : opDeleteOff;
        break;
    case opToHostOff:
        next = opDeleteOff;
        break;
    default:
        break;
    }
    plan.SetOp(*e, e == row.Host, next);
    SwitchRowOn(plan, row);
}

std::string MoveNote(const SyncPlan& plan, const TPreviewRow& row) {
    const int m = RowMove(plan, row);
    if (m < 0)
        return {};
    const TMove& move = plan.Moves[static_cast<std::size_t>(m)];
    const TFileEntry* e = Primary(row);
    const TFileEntry& from = plan.MoveOld(move);
    const TFileEntry& to = plan.MoveNew(move);
    return e == &from ? MsgFill(228, to.RelPath) : MsgFill(227, from.RelPath);
}

// ---------------------------------------------------------------------------

void TFolderTree::Clear() {
    Nodes.clear();
    Nodes.shrink_to_fit();
    index_.clear();
}

void TFolderTree::Begin(bool foldCase, std::string_view hostRoot, std::string_view mirrorRoot) {
    Clear();
    fold_ = foldCase;
    index_ = decltype(index_)(0, KeyHash{fold_}, KeyEqual{fold_});
    AddFolder(false, kRootPath, false);
    AddFolder(true, kRootPath, false);
    Nodes[0].Label = std::string(hostRoot) + " <=> " + std::string(mirrorRoot);
}

int TFolderTree::Find(std::string_view path) const {
    const auto it = index_.find(path);
    return it == index_.end() ? -1 : it->second;
}

int TFolderTree::AddFolder(bool hostSide, std::string_view path, bool empty) {
    return addNode(hostSide, path, empty, 0);
}

int TFolderTree::addNode(bool hostSide, std::string_view path, bool empty, int depthGuard) {
    if (path.size() < 2)
        path = kRootPath; // the root, however it is spelt
    if (const int found = Find(path); found >= 0) {
        TFolderNode& n = Nodes[static_cast<std::size_t>(found)];
        n.Flags &= static_cast<std::uint8_t>(~(hostSide ? fnOnlyMirror : fnOnlyHost));
        if (empty)
            n.Flags |= hostSide ? fnHostEmpty : fnMirrorEmpty;
        return found;
    }
    TFolderNode node;
    node.Path = path;
    if (path != kRootPath) {
        const std::size_t pos = path.rfind('/');
        const std::string_view parentPath =
            (pos == std::string_view::npos || pos == 0) ? kRootPath : path.substr(0, pos);
        node.Label = std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
        // The scanner lists folders after their contents, so walking its
        // lists backwards meets parents first; a list in another order still
        // gets its parents (added for the same side, as not empty). The guard
        // bounds the recursion by the path's own depth.
        int parent = Find(parentPath);
        if (parent < 0 && depthGuard < 4096)
            parent = addNode(hostSide, parentPath, false, depthGuard + 1);
        node.Parent = parent < 0 ? 0 : parent;
        node.Depth = Nodes[static_cast<std::size_t>(node.Parent)].Depth + 1;
    }
    node.Flags = hostSide ? fnOnlyHost : fnOnlyMirror;
    if (empty)
        node.Flags |= hostSide ? fnHostEmpty : fnMirrorEmpty;
    const int idx = static_cast<int>(Nodes.size());
    Nodes.push_back(std::move(node));
    if (Nodes.back().Parent >= 0)
        Nodes[static_cast<std::size_t>(Nodes.back().Parent)].Children.push_back(idx);
    index_.emplace(Nodes.back().Path, idx);
    return idx;
}

void TFolderTree::MarkFiles(const SyncPlan& plan) {
    auto mark = [this](bool hostSide, const TFileEntry& e, std::uint32_t i,
                       std::string_view& prevDir, int& node) {
        const std::string_view dir = DirPart(e.RelPath);
        if (node < 0 || dir != prevDir) {
            prevDir = dir;
            node = Find(dir);
            if (node < 0)
                node = AddFolder(hostSide, dir, false);
        }
        TFolderNode& n = Nodes[static_cast<std::size_t>(node)];
        (hostSide ? n.HostFiles : n.MirrorFiles).push_back(i);
        switch (e.Op) {
        case opDelete:
            n.Flags |= fnDelete;
            break;
        case opToMirror:
            n.Flags |= fnToMirror;
            break;
        case opToHost:
            n.Flags |= fnToHost;
            break;
        case opMoveFrom:
        case opMoveTo:
            n.Flags |= fnMove;
            break;
        default:
            break;
        }
    };
    std::string_view prevDir;
    int node = -1;
    for (std::size_t i = 0; i < plan.HostFiles.size(); ++i)
        mark(true, plan.HostFiles[i], static_cast<std::uint32_t>(i), prevDir, node);
    node = -1;
    const int mirrorCount = plan.MirrorFiles.Count();
    for (int i = 0; i < mirrorCount; ++i)
        mark(false, plan.MirrorFiles.Items(i), static_cast<std::uint32_t>(i), prevDir, node);
}

void TFolderTree::ExpandQualifying(SyncAction emptyFolderAction) {
    for (std::size_t k = Nodes.size(); k-- > 0;) {
        const std::uint8_t f = Nodes[k].Flags;
        if (f == 0)
            continue;
        bool qualifies = (f & (fnToMirror | fnToHost | fnDelete | fnMove)) != 0;
        if (!qualifies && emptyFolderAction != SyncAction::Ignore &&
            (f & (fnHostEmpty | fnMirrorEmpty)) != 0)
            qualifies =
                emptyFolderAction == SyncAction::Delete || (f & (fnOnlyHost | fnOnlyMirror)) != 0;
        if (!qualifies)
            continue;
        // Every expanded node has all its ancestors expanded, so the walk can
        // stop at the first one: the whole step stays linear.
        for (int p = Nodes[k].Parent; p >= 0 && !Nodes[static_cast<std::size_t>(p)].Expanded;
             p = Nodes[static_cast<std::size_t>(p)].Parent)
            Nodes[static_cast<std::size_t>(p)].Expanded = true;
    }
}

void TFolderTree::SortByLabel() {
    for (TFolderNode& n : Nodes) {
        std::stable_sort(n.Children.begin(), n.Children.end(), [this](int a, int b) {
            return RowOrder(Nodes[static_cast<std::size_t>(a)].Label,
                            Nodes[static_cast<std::size_t>(b)].Label, false) < 0;
        });
        for (std::size_t r = 0; r < n.Children.size(); ++r)
            Nodes[static_cast<std::size_t>(n.Children[r])].Row = static_cast<int>(r);
    }
}

bool TFolderTree::Build(const SyncPlan& plan, std::string_view hostRoot,
                        std::string_view mirrorRoot, SyncAction emptyFolderAction,
                        const std::function<bool(int)>& progress) {
    Begin(plan.FoldCase(), hostRoot, mirrorRoot);
    const long long mirrorCount = static_cast<long long>(plan.MirrorFolders.size());
    const long long hostCount = static_cast<long long>(plan.HostFolders.size());
    const long long total = mirrorCount + hostCount;
    Nodes.reserve(static_cast<std::size_t>(total) + 1);
    index_.reserve(static_cast<std::size_t>(total) + 1);
    for (long long i = mirrorCount - 1; i >= 0; --i) {
        const FolderItem& f = plan.MirrorFolders[static_cast<std::size_t>(i)];
        AddFolder(false, f.Path, f.Total == 0);
        if (i % 64 == 0 && progress && !progress(static_cast<int>((mirrorCount - i) * 100 / total)))
            return false;
    }
    for (long long i = hostCount - 1; i >= 0; --i) {
        const FolderItem& f = plan.HostFolders[static_cast<std::size_t>(i)];
        AddFolder(true, f.Path, f.Total == 0);
        if (i % 64 == 0 && progress &&
            !progress(static_cast<int>((hostCount - i + mirrorCount) * 100 / total)))
            return false;
    }
    MarkFiles(plan);
    ExpandQualifying(emptyFolderAction);
    SortByLabel();
    return true;
}

// ---------------------------------------------------------------------------

std::vector<TPreviewRow> ListFolderRows(SyncPlan& plan, const TFolderNode& node, bool hideEqual) {
    const bool fold = plan.FoldCase();
    std::vector<TFileEntry*> mirror;
    std::vector<TFileEntry*> host;
    mirror.reserve(node.MirrorFiles.size());
    host.reserve(node.HostFiles.size());
    for (std::uint32_t i : node.MirrorFiles)
        mirror.push_back(&plan.MirrorFiles.Items(static_cast<int>(i)));
    for (std::uint32_t i : node.HostFiles)
        host.push_back(&plan.HostFiles[i]);
    auto less = [fold](const TFileEntry* a, const TFileEntry* b) {
        return RowOrder(a->RelPath, b->RelPath, fold) < 0;
    };
    std::stable_sort(mirror.begin(), mirror.end(), less);
    std::stable_sort(host.begin(), host.end(), less);

    // One merge of the two sorted lists: a name pairs with at most one file
    // of the other side, so two host files that both match one mirror file
    // under folding both stay visible.
    std::vector<TPreviewRow> rows;
    rows.reserve(std::max(mirror.size(), host.size()));
    auto keep = [hideEqual](const TPreviewRow& r) {
        if (!hideEqual)
            return true;
        return (r.Host && r.Host->Op != opNone) || (r.Mirror && r.Mirror->Op != opNone);
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < mirror.size() || j < host.size()) {
        TPreviewRow r;
        if (j == host.size()) {
            r.Mirror = mirror[i++];
        } else if (i == mirror.size()) {
            r.Host = host[j++];
        } else {
            const int c = RowOrder(mirror[i]->RelPath, host[j]->RelPath, fold);
            if (c <= 0)
                r.Mirror = mirror[i++];
            if (c >= 0)
                r.Host = host[j++];
        }
        if (keep(r))
            rows.push_back(r);
    }
    return rows;
}

std::string AgeText(std::int32_t age) {
    const auto a = static_cast<std::uint32_t>(age);
    const unsigned year = ((a >> 25) & 0x7F) + 1980;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u-%02u-%02u %02u:%02u:%02u", year % 100, (a >> 21) & 0x0F,
                  (a >> 16) & 0x1F, (a >> 11) & 0x1F, (a >> 5) & 0x3F, (a & 0x1F) * 2);
    return buf;
}

Rgb RowTextColour(TSyncOp op, bool selected) {
    constexpr Rgb white{255, 255, 255};
    switch (op) {
    case opDelete:
    case opDeleteOff:
        return {255, 0, 0};
    case opToMirror:
    case opToMirrorOff:
        return selected ? white : Rgb{0, 0, 255};
    case opToHost:
    case opToHostOff:
        return selected ? white : Rgb{255, 0, 255};
    case opMoveFrom:
    case opMoveTo:
        return selected ? white : Rgb{0, 128, 0};
    default:
        return selected ? Rgb{192, 192, 192} : Rgb{64, 64, 64};
    }
}

const char* TickImage(TSyncOp op) {
    if ((op >= opDelete && op <= opToHost) || IsMoveOp(op))
        return "CHECK4";
    if (IsSwitchedOff(op))
        return "UNCHECK4";
    return "";
}

const char* OpImage(TSyncOp op) {
    switch (op) {
    case opDelete:
    case opDeleteOff:
        return "DEL4";
    case opToMirror:
    case opToMirrorOff:
        return "RARROW4";
    case opToHost:
    case opToHostOff:
        return "LARROW4";
    case opMoveFrom:
    case opMoveTo:
        return "MOVE4";
    default:
        return "";
    }
}

const char* HostFolderImage(std::uint8_t flags, bool selected) {
    if (flags & fnOnlyMirror)
        return "TFOLDERNO";
    if (flags & fnHostEmpty)
        return "TFOLDERE";
    if (selected)
        return "TFOLDERO";
    if (flags & fnToMirror)
        return "TFOLDER2RIGHT";
    return "TFOLDER";
}

const char* MirrorFolderImage(std::uint8_t flags, bool selected) {
    if (flags & fnOnlyHost)
        return "TFOLDERNO";
    if (flags & fnMirrorEmpty)
        return "TFOLDERE";
    if (selected)
        return "TFOLDERO";
    if (flags & fnToHost)
        return "TFOLDER2LEFT";
    return "TFOLDER";
}

std::string StatusPanelText(const SyncPlan& plan, int panel) {
    switch (panel) {
    case 0:
        return MsgFill(
            83, std::to_string(static_cast<std::int64_t>(plan.ToMirrorCount) + plan.ToHostCount),
            ShortSizeText(plan.TotalBytes));
    case 1:
        return MsgFill(84, std::to_string(plan.HostDeleteCount));
    case 2:
        return MsgFill(85, std::to_string(plan.MirrorDeleteCount));
    case 3:
        return MsgFill(86, std::to_string(plan.EmptyFolderCount));
    case 4:
        return MsgFill(222, std::to_string(plan.MoveCount));
    default:
        return {};
    }
}

} // namespace duplora

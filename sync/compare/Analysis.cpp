#include "sync/compare/Analysis.h"

#include "sync/execute/FileCopier.h"
#include "sync/fs/CaseProbe.h"
#include "sync/fs/FileTime.h"
#include "sync/fs/FolderOps.h"
#include "sync/run/RunContext.h"
#include "sync/run/RunDisplay.h"
#include "sync/setaside/Trash.h"
#include "sync/setaside/Versions.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

namespace duplora {

std::string CaseCollisionLine(const std::vector<std::string>& names) {
    std::string line = Msg(230);
    for (std::size_t i = 0; i < names.size(); ++i)
        line += (i == 0 ? "" : ", ") + names[i];
    return line;
}

namespace {

// A group of names that differ only in letter case is one failure: named by
// its first path, with all of them in the reason.
constexpr std::string_view kCaseCollision = "names that differ only in letter case: ";

RunFailure CaseFailure(const std::vector<std::string>& group) {
    std::string names;
    for (const std::string& path : group)
        names += (names.empty() ? "" : ", ") + path;
    return {group.empty() ? std::string() : group.front(), opNone,
            std::string(kCaseCollision) + names};
}

std::string UpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return out;
}

std::string_view LastComponent(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

bool IsCopyTempName(std::string_view name) {
    constexpr std::size_t kTail = kTempMarker.size() + kTempRandomLength;
    if (name.size() < 1 + 1 + kTail || name.front() != '.')
        return false;
    const std::string_view tail = name.substr(name.size() - kTail);
    if (tail.substr(0, kTempMarker.size()) != kTempMarker)
        return false;
    for (char c : tail.substr(kTempMarker.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool IsRecycleFolderName(std::string_view name) {
    if (name.size() != 8)
        return false;
    const std::string up = UpperAscii(name);
    return up == "RECYCLED" || up == "RECYCLER";
}

FolderFilter::FolderFilter(const TaskRecord& task, bool foldCase)
    : include_(task.only_include_folders()), fold_(foldCase) {
    for (const std::string& raw : SplitLines(task.folder_list())) {
        std::string line = raw;
        while (!line.empty() && line.back() == '/')
            line.pop_back();
        if (line.empty())
            continue; // an empty line names no folder
        if (line.front() != '/')
            line.insert(line.begin(), '/');
        lines_.insert(key(line) + '/');
    }
}

std::string FolderFilter::key(std::string_view rel) const {
    return fold_ ? UpperAscii(rel) : std::string(rel);
}

TSearchOperation FolderFilter::Ask(std::string_view rel) const {
    const std::string r = key(rel) + '/';
    if (!include_)
        return lines_.count(r) != 0 ? soSkip : soContinue;
    // Include mode: go on when any leading part of R that ends at a '/' is a
    // listed line (R begins with that line).
    for (std::size_t i = 1; i < r.size(); ++i) {
        if (r[i] == '/' && lines_.count(r.substr(0, i + 1)) != 0)
            return soContinue;
    }
    return soSkip;
}

UnreadableFolders::UnreadableFolders(const std::vector<std::string>& folders, bool foldCase)
    : fold_(foldCase) {
    for (const std::string& f : folders)
        keys_.insert(key(f));
}

std::string UnreadableFolders::key(std::string_view rel) const {
    return fold_ ? UpperAscii(rel) : std::string(rel);
}

bool UnreadableFolders::Covers(std::string_view rel) const {
    if (keys_.empty())
        return false;
    // Every folder above the file: "" (the root), "/a", "/a/b", ...
    for (std::size_t i = rel.find('/'); i != std::string_view::npos; i = rel.find('/', i + 1))
        if (keys_.count(key(rel.substr(0, i))) != 0)
            return true;
    return false;
}

std::vector<std::string> ListedFileNames(const TaskRecord& task) {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen; // a list of 10,000 names stays linear
    for (const std::string& line : SplitLines(task.folder_list())) {
        if (line.empty() || line == "." || line == ".." || line.find('/') != std::string::npos)
            continue;
        if (seen.insert(line).second)
            names.push_back(line);
    }
    return names;
}

bool SameTime(std::int32_t hostAge, std::int32_t mirrorAge, double toleranceDays,
              bool ignoreHourDifference) {
    if (hostAge == mirrorAge)
        return true;
    const double d =
        static_cast<double>(std::llabs(AgeWallSeconds(hostAge) - AgeWallSeconds(mirrorAge)));
    const double tolerance = toleranceDays * 86400.0;
    if (d < tolerance)
        return true;
    return ignoreHourDifference && 3600.0 - tolerance < d && d < 3600.0 + tolerance;
}

TSyncOp ComparePair(const TFileEntry& host, const TFileEntry& mirror, const TaskRecord& task) {
    if (SameTime(host.Age, mirror.Age, task.time_tolerance(), task.ignore_hour_difference()))
        return host.Size == mirror.Size ? opNone : static_cast<TSyncOp>(task.size_differs_action());
    return AgeLater(host.Age, mirror.Age) ? static_cast<TSyncOp>(task.newer_in_host_action())
                                          : static_cast<TSyncOp>(task.newer_in_mirror_action());
}

namespace {

// The entries of one side whose paths are equal under folding.
struct CaseGroup {
    std::vector<std::uint32_t> host; // indices into HostFiles
    std::uint32_t mirrorBegin = 0;   // [begin, end) in the sorted MirrorFiles
    std::uint32_t mirrorEnd = 0;
};

bool HasNonAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

// The path with every letter upper-cased as the C.UTF-8 locale knows it;
// a byte that is not part of valid UTF-8 stays itself (as 0xDC00 + byte,
// which no decoded character gives). Empty when the locale is missing.
std::u32string WideFoldKey(std::string_view s) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    std::u32string key;
    if (!utf8)
        return key;
    key.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80         ? 1
                        : (b >> 5) == 6  ? 2
                        : (b >> 4) == 14 ? 3
                        : (b >> 3) == 30 ? 4
                                         : 0;
        char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < n; ++k) {
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                n = 0;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        if (n == 0) {
            key.push_back(0xDC00 + b);
            ++i;
            continue;
        }
        key.push_back(static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8)));
        i += n;
    }
    return key;
}

// Letters beyond a-z: exFAT, NTFS and SMB servers fold "Ä" and "ä" as well,
// so two such names are one file there, though the plan's comparison keeps
// them apart. Only paths with a byte above 0x7F are looked at, so a tree of
// ASCII names costs one pass over its bytes.
void LeaveWideCaseCollisionsAlone(RunContext& run) {
    SyncPlan& plan = run.Plan;
    struct Member {
        bool host;
        std::uint32_t index;
    };
    std::unordered_map<std::u32string, std::vector<Member>> byKey;
    for (std::uint32_t i = 0; i < plan.HostFiles.size(); ++i)
        if (HasNonAscii(plan.HostFiles[i].RelPath))
            byKey[WideFoldKey(plan.HostFiles[i].RelPath)].push_back({true, i});
    const int mirrorCount = plan.MirrorFiles.Count();
    for (int i = 0; i < mirrorCount; ++i)
        if (HasNonAscii(plan.MirrorFiles.Items(i).RelPath))
            byKey[WideFoldKey(plan.MirrorFiles.Items(i).RelPath)].push_back(
                {false, static_cast<std::uint32_t>(i)});
    for (auto& [key, members] : byKey) {
        if (key.empty() || members.size() < 2)
            continue;
        auto entry = [&](const Member& m) -> TFileEntry& {
            return m.host ? plan.HostFiles[m.index]
                          : plan.MirrorFiles.Items(static_cast<int>(m.index));
        };
        // Equal under the a-z folding: a pair, or a group met above.
        bool distinct = false;
        for (const Member& m : members)
            distinct = distinct ||
                       CompareKeysFolded(entry(m).RelPath, entry(members.front()).RelPath) != 0;
        if (!distinct)
            continue;
        std::vector<std::string> group;
        for (const Member& m : members) {
            TFileEntry& e = entry(m);
            e.Op = opNone;
            group.push_back(JoinRoot(m.host ? run.HostRoot : run.MirrorRoot, e.RelPath));
        }
        run.Lines->Append(CaseCollisionLine(group));
        ++plan.FailedCount;
        run.Failures.push_back(CaseFailure(group));
        plan.CaseCollisions.push_back(std::move(group));
    }
}

// Paths of one side that differ only in letter case, where the other side
// folds case: there they are one and the same file, so whatever the plan
// did with one of them would copy over, or delete, the other. Every entry
// of such a group is left alone on both sides (delete masks included), and
// each group gives one failure line naming its entries. O(n) for the host
// (one hash lookup per file), O(n) for the mirror (colliding entries are
// neighbours in the folded order); only when paths are folded at all.
void LeaveCaseCollisionsAlone(RunContext& run) {
    SyncPlan& plan = run.Plan;
    std::vector<TFileEntry>& host = plan.HostFiles;
    TSortList& mirror = plan.MirrorFiles;
    std::unordered_map<std::string_view, std::uint32_t, KeyHash, KeyEqual> firstHost(
        host.size(), KeyHash{true}, KeyEqual{true});
    std::vector<std::pair<std::uint32_t, std::uint32_t>> laterHost; // (first, same key)
    for (std::uint32_t i = 0; i < host.size(); ++i) {
        const auto [it, fresh] = firstHost.try_emplace(host[i].RelPath, i);
        if (!fresh)
            laterHost.emplace_back(it->second, i);
    }
    const int mirrorCount = mirror.Count();
    auto mirrorRange = [&](std::string_view key, CaseGroup& g) {
        int at = mirror.Find(key);
        if (at < 0)
            return;
        int end = at + 1;
        while (at > 0 && mirror.Compare(key, mirror.Items(at - 1).RelPath) == 0)
            --at;
        while (end < mirrorCount && mirror.Compare(key, mirror.Items(end).RelPath) == 0)
            ++end;
        g.mirrorBegin = static_cast<std::uint32_t>(at);
        g.mirrorEnd = static_cast<std::uint32_t>(end);
    };
    // Sorted by first index, so the members of one host group are found in
    // O(log n) and groups are met one after the other.
    std::sort(laterHost.begin(), laterHost.end());
    auto laterOf = [&](std::uint32_t first) {
        return std::equal_range(laterHost.begin(), laterHost.end(),
                                std::make_pair(first, std::uint32_t{0}),
                                [](const auto& x, const auto& y) { return x.first < y.first; });
    };
    auto hostMembers = [&](std::string_view key, CaseGroup& g) {
        const auto it = firstHost.find(key);
        if (it == firstHost.end())
            return;
        g.host.push_back(it->second);
        const auto [from, to] = laterOf(it->second);
        for (auto p = from; p != to; ++p)
            g.host.push_back(p->second);
    };

    std::vector<CaseGroup> groups;
    for (std::size_t k = 0; k < laterHost.size(); ++k) {
        if (k > 0 && laterHost[k].first == laterHost[k - 1].first)
            continue;
        CaseGroup g;
        hostMembers(host[laterHost[k].first].RelPath, g);
        mirrorRange(host[laterHost[k].first].RelPath, g);
        groups.push_back(std::move(g));
    }
    for (int i = 0; i + 1 < mirrorCount;) {
        const std::string_view key = mirror.Items(i).RelPath;
        int end = i + 1;
        while (end < mirrorCount && mirror.Compare(key, mirror.Items(end).RelPath) == 0)
            ++end;
        const auto it = end - i > 1 ? firstHost.find(key) : firstHost.end();
        const bool hostGroup =
            it != firstHost.end() && laterOf(it->second).first != laterOf(it->second).second;
        if (end - i > 1 && !hostGroup) {
            CaseGroup g;
            hostMembers(key, g);
            g.mirrorBegin = static_cast<std::uint32_t>(i);
            g.mirrorEnd = static_cast<std::uint32_t>(end);
            groups.push_back(std::move(g));
        }
        i = end;
    }

    for (const CaseGroup& g : groups) {
        // Named from the side (or sides) where the names collide.
        const bool hostCollides = g.host.size() > 1;
        const bool mirrorCollides = g.mirrorEnd - g.mirrorBegin > 1;
        std::vector<std::string> group;
        for (std::uint32_t i : g.host) {
            host[i].Op = opNone;
            if (hostCollides)
                group.push_back(JoinRoot(run.HostRoot, host[i].RelPath));
        }
        for (std::uint32_t i = g.mirrorBegin; i < g.mirrorEnd; ++i) {
            TFileEntry& e = mirror.Items(static_cast<int>(i));
            e.Op = opNone;
            if (mirrorCollides)
                group.push_back(JoinRoot(run.MirrorRoot, e.RelPath));
        }
        run.Lines->Append(CaseCollisionLine(group));
        ++plan.FailedCount;
        run.Failures.push_back(CaseFailure(group));
        plan.CaseCollisions.push_back(std::move(group));
    }
    LeaveWideCaseCollisionsAlone(run);
}

} // namespace

void CompareHostEntries(RunContext& run) {
    SyncPlan& plan = run.Plan;
    const TSyncOp onlyInHost = static_cast<TSyncOp>(run.Task.only_in_host_action());
    const UnreadableFolders unread(plan.MirrorUnreadable, run.FoldCase);
    plan.MirrorFiles.Sort();
    for (TFileEntry& host : plan.HostFiles) {
        if (host.Op != opNone)
            continue; // marked for deletion by the delete masks
        const int i = plan.MirrorFiles.Find(host.RelPath);
        if (i < 0) {
            // Below a mirror folder that could not be read the file may well
            // be in the mirror: neither delete it nor copy it over the twin.
            host.Op = unread.Covers(host.RelPath) ? opNone : onlyInHost;
            continue;
        }
        TFileEntry& mirror = plan.MirrorFiles.Items(i);
        mirror.Op = opNone; // the pair is handled from the host side
        host.Op = ComparePair(host, mirror, run.Task);
    }
    if (!unread.Empty())
        for (FolderItem& f : plan.HostFolders)
            f.OtherUnknown = unread.Covers(f.Path);
    if (plan.FoldCase())
        LeaveCaseCollisionsAlone(run);
}

namespace {

// Files of a file-type task: root + '/' + each listed name that is a file
// (a link to a file counts).
void ReadListedFiles(RunContext& run, bool hostSide) {
    const std::string& root = hostSide ? run.HostRoot : run.MirrorRoot;
    const std::string base = (!root.empty() && root.back() == '/') ? root : root + '/';
    const TSyncOp mirrorOp = static_cast<TSyncOp>(run.Task.only_in_mirror_action());
    ResetLocalTimeCache();
    for (const std::string& name : ListedFileNames(run.Task)) {
        const std::string path = base + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        TFileEntry e;
        const std::string rel = '/' + name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        e.Size = fd >= 0 ? static_cast<std::int64_t>(st.st_size) : -1;
        if (fd >= 0)
            close(fd);
        e.Age = PackLocalTime(st.st_mtim.tv_sec);
        e.TimeTag = TimeTagOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        if (hostSide) {
            e.RelPath = run.Plan.StoreHostPath(rel);
            e.Op = opNone;
            run.Plan.HostFiles.push_back(e);
        } else {
            e.RelPath = run.Plan.StoreMirrorPath(rel);
            e.Op = mirrorOp;
            run.Plan.MirrorFiles.Append(e); // sorted once, before the comparison
        }
    }
}

// When the other root lies inside this one (a mirror kept in a sub-folder of
// the host, say), its path relative to this root. Scanning it as part of this
// side would make the other side's files look like files of this side: they
// would be copied into themselves run after run, or deleted as "only here".
std::string NestedRootRel(const std::string& root, const std::string& other) {
    char* a = realpath(root.c_str(), nullptr);
    char* b = realpath(other.c_str(), nullptr);
    std::string rel;
    if (a && b) {
        const std::string outer = std::string(a) == "/" ? std::string() : std::string(a);
        const std::string inner = b;
        if (inner.size() > outer.size() + 1 && inner.compare(0, outer.size(), outer) == 0 &&
            inner[outer.size()] == '/')
            rel = inner.substr(outer.size());
    }
    std::free(a);
    std::free(b);
    return rel;
}

// The other side's root, held open while this side is scanned: a file
// system that hands out inode numbers only while a folder is in use (FUSE)
// keeps the number it gave.
class OtherRootHold {
public:
    explicit OtherRootHold(const std::string& path)
        : fd_(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~OtherRootHold() {
        if (fd_ >= 0)
            close(fd_);
    }
    OtherRootHold(const OtherRootHold&) = delete;
    OtherRootHold& operator=(const OtherRootHold&) = delete;
    void AddTo(std::vector<FolderIdentity>& ids) const {
        struct stat st;
        if (fd_ >= 0 && fstat(fd_, &st) == 0)
            ids.push_back(
                {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
    }

private:
    int fd_;
};

void ScanFolderSide(RunContext& run, bool hostSide) {
    const std::string& root = hostSide ? run.HostRoot : run.MirrorRoot;
    const std::string& other = hostSide ? run.MirrorRoot : run.HostRoot;
    // The other root inside this one is found by identity wherever the scan
    // meets it (a bind mount included), and by its spelling as well, folded
    // where this side folds case: a FUSE file system may give one folder a
    // different inode number per spelling.
    const OtherRootHold otherHold(other);
    const std::string otherRoot = NestedRootRel(root, other);
    // The versioning folder keeps what runs set aside and is never scanned:
    // found the same two ways (a relative one also by its spelling here).
    std::string versionsPath;
    bool versionsRelative = false;
    if (run.Task.on_delete() == DeleteMode::Versions && !run.Task.versions_folder().empty()) {
        const VersionsPlace place =
            ResolveVersionsFolder(run.Task.versions_folder(), run.HostRoot, run.MirrorRoot);
        versionsPath = hostSide ? place.Host : place.Mirror;
        versionsRelative = place.Relative;
    }
    const OtherRootHold versionsHold(versionsPath);
    // So is the home trash a Trash task puts files in (a volume's own trash
    // folders are left out by the scanner, whatever the mode).
    const bool trashMode = run.Task.on_delete() == DeleteMode::Trash;
    const OtherRootHold homeTrashHold(trashMode ? HomeTrashFolder() : std::string());
    // FoldCase set by a caller without the probes' answers (a share the run
    // connected after the probe) folds both sides.
    const bool ownFold = (hostSide ? run.HostFoldsCase : run.MirrorFoldsCase) ||
                         (run.FoldCase && !run.HostFoldsCase && !run.MirrorFoldsCase);
    // Item paths are root + '/' + relative part; the relative path keeps that
    // '/' (for the root "/" the item is "/name").
    const std::size_t relStart =
        (!root.empty() && root.back() == '/') ? root.size() - 1 : root.size();
    const std::string versionsRel =
        versionsRelative && versionsPath.size() > relStart ? versionsPath.substr(relStart) : "";
    const FolderFilter filter(run.Task, run.FoldCase);
    const TaskRecord& task = run.Task;
    const bool onlyMasks = task.only_masks_enabled();
    const bool ignoreMasks = task.ignore_masks_enabled();
    const bool deleteMasks = task.delete_masks_enabled();
    const TSyncOp mirrorOp = static_cast<TSyncOp>(task.only_in_mirror_action());
    SyncPlan& plan = run.Plan;
    RunObserver& ui = run.ui();
    // The host is scanned first: its unreadable folders are known when the
    // mirror's entries are built.
    const UnreadableFolders hostUnread(hostSide ? std::vector<std::string>() : plan.HostUnreadable,
                                       run.FoldCase);

    TSearchDirW scanner;
    scanner.Root = root;
    otherHold.AddTo(scanner.SkipFolders);
    versionsHold.AddTo(scanner.SkipFolders);
    homeTrashHold.AddTo(scanner.SkipFolders);
    scanner.IntoSubDir = task.include_subfolders();
    scanner.OnProgress = [&](TSearchDirW&, const std::string& dir) {
        ShowPath(run, dir);
        ui.Pump();
    };
    scanner.OnFolderError = [&](TSearchDirW&, const std::string& dir) {
        const std::string_view rel =
            dir.size() <= root.size() ? std::string_view() : std::string_view(dir).substr(relStart);
        (hostSide ? plan.HostUnreadable : plan.MirrorUnreadable).emplace_back(rel);
    };
    scanner.OnEnquiryOperation = [&](TSearchDirW&, TFoundItemType type, const std::string& item,
                                     TSearchOperation& op) {
        if (run.State == RunState::Cancelled) {
            op = soSkip;
            return;
        }
        if (type == fiFile)
            return;
        const std::string_view rel = std::string_view(item).substr(relStart);
        const bool isOther = !otherRoot.empty() &&
                             (ownFold ? CompareKeysFolded(rel, otherRoot) == 0 : rel == otherRoot);
        const bool isVersions =
            !versionsRel.empty() &&
            (ownFold ? CompareKeysFolded(rel, versionsRel) == 0 : rel == versionsRel);
        const std::string_view last = LastComponent(rel);
        if (IsRecycleFolderName(last) || isOther || isVersions)
            op = soSkip;
        else
            op = filter.Ask(rel);
    };
    scanner.OnFoundItem = [&](TSearchDirW&, TFoundItemType type, const std::string& item,
                              std::int64_t& size, std::int32_t age, std::uint32_t attr) {
        if (run.State != RunState::ScanHost && run.State != RunState::ScanMirror)
            return;
        const std::string_view rel = std::string_view(item).substr(relStart);
        if (type == fiDir) {
            FolderItem f;
            f.Path = hostSide ? plan.StoreHostPath(rel) : plan.StoreMirrorPath(rel);
            // A folder not read wholly may hold anything: never empty.
            f.Total = (attr & kAttrUnreadPart) ? -1 : size;
            f.OtherUnknown = hostUnread.Covers(rel);
            (hostSide ? plan.HostFolders : plan.MirrorFolders).push_back(f);
            return;
        }
        const std::string_view name = LastComponent(rel);
        if (IsCopyTempName(name)) {
            // Removed by the run when no copy holds it any more.
            (hostSide ? plan.HostTemporaries : plan.MirrorTemporaries)
                .push_back(hostSide ? plan.StoreHostPath(rel) : plan.StoreMirrorPath(rel));
            return;
        }
        if (IsCaseProbeName(name))
            return; // another run's probe, there for a moment
        if (onlyMasks && !MatchesAnyMask(name, run.OnlyMasks))
            return;
        if (ignoreMasks && MatchesAnyMask(name, run.IgnoreMasks))
            return;
        const bool del = deleteMasks && MatchesAnyMask(name, run.DeleteMasks);
        TFileEntry e;
        e.Size = size;
        e.Age = age;
        const struct stat& st = scanner.FoundStat();
        e.TimeTag = TimeTagOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        if (hostSide) {
            e.RelPath = plan.StoreHostPath(rel);
            e.Op = del ? opDelete : opNone;
            plan.HostFiles.push_back(e);
        } else {
            e.RelPath = plan.StoreMirrorPath(rel);
            e.Op = del ? opDelete : hostUnread.Covers(rel) ? opNone : mirrorOp;
            plan.MirrorFiles.Append(e);
        }
    };
    scanner.Search();
    if (!hostSide)
        plan.MirrorFiles.Sort();
}

} // namespace

void ScanHostSide(RunContext& run) {
    if (run.Task.sync_type() == SyncType::File)
        ReadListedFiles(run, true);
    else
        ScanFolderSide(run, true);
}

void ScanMirrorSide(RunContext& run) {
    if (run.Task.sync_type() == SyncType::File)
        ReadListedFiles(run, false);
    else
        ScanFolderSide(run, false);
}

} // namespace duplora

#include "sync/compare/Analysis.h"

#include "sync/execute/FileCopier.h"
#include "sync/fs/CaseProbe.h"
#include "sync/fs/FileTime.h"
#include "sync/fs/FolderOps.h"
#include "sync/memory/Remember.h"
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

} // namespace

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
    LoadMemory(run);
    const bool memory = HasMemory(run);
    const double tolerance = run.Task.time_tolerance();
    const bool hour = run.Task.ignore_hour_difference();
    for (TFileEntry& host : plan.HostFiles) {
        if (host.Op != opNone) {
            // Marked for deletion by the delete masks. The record still
            // needs to know the mirror has a twin, which is not gone from
            // the host.
            if (run.Memory)
                if (const int i = plan.MirrorFiles.Find(host.RelPath); i >= 0)
                    NoteTwin(run, i);
            continue;
        }
        const int i = plan.MirrorFiles.Find(host.RelPath);
        if (i >= 0)
            NoteTwin(run, i);
        if (i < 0) {
            // Below a mirror folder that could not be read the file may well
            // be in the mirror: neither delete it nor copy it over the twin.
            const bool unknown = unread.Covers(host.RelPath);
            host.Op = unknown ? opNone : onlyInHost;
            if (memory && !unknown)
                RememberHostOnly(run, host);
            continue;
        }
        TFileEntry& mirror = plan.MirrorFiles.Items(i);
        mirror.Op = opNone; // the pair is handled from the host side
        host.Op = ComparePair(host, mirror, run.Task);
        if (memory &&
            (host.Size != mirror.Size || !SameTime(host.Age, mirror.Age, tolerance, hour)))
            RememberPair(run, host, mirror);
    }
    if (memory)
        RememberMirrorEntries(run);
    if (!unread.Empty())
        for (FolderItem& f : plan.HostFolders)
            f.OtherUnknown = unread.Covers(f.Path);
    if (plan.FoldCase())
        LeaveCaseCollisionsAlone(run);
}

} // namespace duplora

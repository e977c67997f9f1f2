#include "sync/memory/Remember.h"

#include "sync/compare/Analysis.h"
#include "sync/fs/FileTime.h"
#include "sync/fs/FolderOps.h"
#include "sync/memory/LastRun.h"
#include "sync/run/RunContext.h"
#include "tasks/Helpers.h"
#include "tasks/ProgramPaths.h"
#include "tasks/TextTable.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <deque>

namespace duplora {

namespace {

// "2026-12-08 14:03" in local time.
std::string MinuteText(std::int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

// The record's values of one side still describe the file: the same size
// and the same moment. The time tag holds the exact time independent of
// the time zone; the packed age only counts where a tag is missing.
bool Unchanged(const TFileEntry& e, std::int64_t size, std::int32_t age, std::uint32_t tag) {
    if (e.Size != size)
        return false;
    if (e.TimeTag != 0 && tag != 0)
        return e.TimeTag == tag;
    return e.Age == age;
}

TSyncOp OpOf(SyncAction a, TSyncOp copy) {
    switch (a) {
    case SyncAction::Delete:
        return opDelete;
    case SyncAction::Ignore:
        return opNone;
    default:
        return copy;
    }
}

const RememberedFile* Lookup(const RunContext& run, std::string_view rel) {
    return run.Memory->Last.Find(PathKey(rel, run.FoldCase));
}

} // namespace

void StartLoadingMemory(RunContext& run) {
    run.Memory.reset();
    if (!run.Task.remember_last_run() || run.SkipMirrorScan)
        return;
    auto memory = std::make_shared<RunMemory>();
    memory->Owner = {run.TaskName, run.ShownHostRoot(), run.ShownMirrorRoot(), run.FoldCase};
    memory->File = MemoryFileOf(run.MemoryFolder.empty() ? ResolveMemoryFolder() : run.MemoryFolder,
                                memory->Owner);
    RunMemory* m = memory.get();
    memory->Reading =
        std::async(std::launch::async, [m] { return m->Last.Read(m->File, m->Owner); });
    run.Memory = std::move(memory);
}

void LoadMemory(RunContext& run) {
    if (!run.Memory || !run.Memory->Reading.valid())
        StartLoadingMemory(run);
    if (!run.Memory)
        return;
    const std::shared_ptr<RunMemory>& memory = run.Memory;
    int why = 0;
    switch (memory->Reading.get()) {
    case MemoryRead::Ok:
        run.Plan.RememberedSince = std::max<std::int64_t>(1, memory->Last.Time);
        break;
    case MemoryRead::Missing:
        why = 276;
        break;
    case MemoryRead::Damaged:
        why = 277;
        break;
    case MemoryRead::Foreign:
        why = 278;
        break;
    }
    if (why != 0) {
        run.Plan.MemoryNote = MsgFill(275, Msg(why));
        run.Lines->Append(run.Plan.MemoryNote);
    }
    memory->Twinned.assign(static_cast<std::size_t>(run.Plan.MirrorFiles.Count()), false);
}

bool HasMemory(const RunContext& run) {
    return run.Memory && run.Plan.RememberedSince != 0;
}

void NoteTwin(RunContext& run, int mirrorIndex) {
    if (run.Memory)
        run.Memory->Twinned[static_cast<std::size_t>(mirrorIndex)] = true;
}

void RememberPair(RunContext& run, TFileEntry& host, TFileEntry& mirror) {
    const RememberedFile* was = Lookup(run, host.RelPath);
    if (was == nullptr || Unchanged(host, was->Size, was->HostAge, was->HostTag) ||
        Unchanged(mirror, was->Size, was->MirrorAge, was->MirrorTag))
        return; // one side as it was: the comparison's own operation stands
    SyncPlan& plan = run.Plan;
    plan.SetRemembered(host, true, Remembered::ChangedOnBoth);
    switch (run.Task.conflict_action()) {
    case ConflictAction::KeepBoth:
        plan.KeepBothConflicts = true;
        // The newer version keeps the name; at the same time the larger.
        host.Op = AgeLater(host.Age, mirror.Age)   ? opToMirror
                  : AgeLater(mirror.Age, host.Age) ? opToHost
                  : host.Size >= mirror.Size       ? opToMirror
                                                   : opToHost;
        break;
    case ConflictAction::NewerWins:
        break;
    case ConflictAction::Skip:
        host.Op = opNone;
        break;
    }
}

void RememberHostOnly(RunContext& run, TFileEntry& host) {
    const RememberedFile* was = Lookup(run, host.RelPath);
    if (was == nullptr)
        return;
    if (Unchanged(host, was->Size, was->HostAge, was->HostTag)) {
        run.Plan.SetRemembered(host, true, Remembered::DeletedInMirror);
        host.Op = OpOf(run.Task.deleted_in_mirror_action(), opToMirror);
    } else {
        run.Plan.SetRemembered(host, true, Remembered::ChangedDeletedInMirror);
        host.Op = opToMirror;
    }
}

void RememberMirrorEntries(RunContext& run) {
    SyncPlan& plan = run.Plan;
    const UnreadableFolders unread(plan.HostUnreadable, run.FoldCase);
    const std::vector<bool>& twinned = run.Memory->Twinned;
    const int count = plan.MirrorFiles.Count();
    for (int i = 0; i < count; ++i) {
        TFileEntry& mirror = plan.MirrorFiles.Items(i);
        if (twinned[static_cast<std::size_t>(i)] || unread.Covers(mirror.RelPath) ||
            run.MaskedForDelete(mirror.RelPath))
            continue;
        const RememberedFile* was = Lookup(run, mirror.RelPath);
        if (was == nullptr)
            continue;
        if (Unchanged(mirror, was->Size, was->MirrorAge, was->MirrorTag)) {
            plan.SetRemembered(mirror, false, Remembered::DeletedInHost);
            mirror.Op = OpOf(run.Task.deleted_in_host_action(), opToHost);
        } else {
            plan.SetRemembered(mirror, false, Remembered::ChangedDeletedInHost);
            mirror.Op = opToHost;
        }
    }
}

void NoteSettled(RunContext& run, std::string rel) {
    if (run.Memory)
        run.Memory->Settled.push_back(std::move(rel));
}

namespace {

// Builds the next record from the plan after the run (see SaveMemory). A
// file found equal is referred to by its two entries; the few others (kept
// from the old record, or looked at on disk) carry their values along.
class RecordBuilder {
public:
    explicit RecordBuilder(RunContext& run) : run_(run), fold_(run.FoldCase) {}

    void Equal(std::uint32_t host, std::uint32_t mirror) {
        refs_.push_back({PathKey(run_.Plan.HostFiles[host].RelPath, fold_), host, mirror});
    }
    // The previous record's entry, for a file the run did not bring in step.
    void Carry(std::string_view rel) {
        if (const RememberedFile* was = run_.Memory->Last.Find(PathKey(rel, fold_)))
            Keep(*was, rel);
    }
    void Keep(const RememberedFile& values, std::string_view rel) {
        refs_.push_back({values.Key, kKept, static_cast<std::uint32_t>(kept_.size())});
        kept_.push_back({values, rel});
    }
    // A file the run worked on: what the two sides hold now decides.
    void Check(std::string_view rel) {
        struct stat h {
        }, m{};
        const bool hostThere = ::lstat(JoinRoot(run_.HostRoot, rel).c_str(), &h) == 0;
        const bool mirrorThere = ::lstat(JoinRoot(run_.MirrorRoot, rel).c_str(), &m) == 0;
        if (!hostThere && !mirrorThere)
            return; // gone from both: nothing to remember
        if (hostThere && mirrorThere && S_ISREG(h.st_mode) && S_ISREG(m.st_mode) &&
            h.st_size == m.st_size) {
            const std::int32_t hostAge = PackLocalTime(h.st_mtim.tv_sec);
            const std::int32_t mirrorAge = PackLocalTime(m.st_mtim.tv_sec);
            if (SameTime(hostAge, mirrorAge, run_.Task.time_tolerance(),
                         run_.Task.ignore_hour_difference())) {
                Keep({PathKey(rel, fold_), h.st_size, hostAge,
                      TimeTagOf(h.st_mtim.tv_sec, h.st_mtim.tv_nsec), mirrorAge,
                      TimeTagOf(m.st_mtim.tv_sec, m.st_mtim.tv_nsec)},
                     rel);
                return;
            }
        }
        Carry(rel);
    }
    std::string_view Own(std::string s) { return owned_.emplace_back(std::move(s)); }
    std::vector<MemoryRef>& Refs() { return refs_; }
    void Resolve(const MemoryRef& ref, RememberedFile& values, std::string_view& rel) const {
        if (ref.A == kKept) {
            values = kept_[ref.B].first;
            rel = kept_[ref.B].second;
            return;
        }
        const TFileEntry& host = run_.Plan.HostFiles[ref.A];
        const TFileEntry& mirror = run_.Plan.MirrorFiles.Items(static_cast<int>(ref.B));
        values = {ref.Key, host.Size, host.Age, host.TimeTag, mirror.Age, mirror.TimeTag};
        rel = host.RelPath;
    }

private:
    static constexpr std::uint32_t kKept = 0xFFFFFFFF;
    RunContext& run_;
    bool fold_;
    std::vector<MemoryRef> refs_;
    std::vector<std::pair<RememberedFile, std::string_view>> kept_;
    std::deque<std::string> owned_;
};

} // namespace

void SaveMemory(RunContext& run) {
    if (!run.Memory)
        return;
    SyncPlan& plan = run.Plan;
    RecordBuilder record(run);
    const bool remembered = HasMemory(run);
    auto kindOf = [&](const TFileEntry& e, bool host) {
        return remembered ? plan.RememberedOf(e, host) : Remembered::None;
    };
    const double tolerance = run.Task.time_tolerance();
    const bool hour = run.Task.ignore_hour_difference();
    const std::vector<bool>& twinned = run.Memory->Twinned;
    record.Refs().reserve(plan.HostFiles.size() + static_cast<std::size_t>(std::count(
                                                      twinned.begin(), twinned.end(), false)));
    for (std::uint32_t h = 0; h < plan.HostFiles.size(); ++h) {
        const TFileEntry& host = plan.HostFiles[h];
        const int i = plan.MirrorFiles.Find(host.RelPath);
        const TFileEntry* mirror = i >= 0 ? &plan.MirrorFiles.Items(i) : nullptr;
        const bool worked = host.Op != opNone || (mirror != nullptr && mirror->Op != opNone) ||
                            kindOf(host, true) != Remembered::None;
        if (worked)
            record.Check(host.RelPath);
        else if (mirror != nullptr && host.Size == mirror->Size &&
                 SameTime(host.Age, mirror->Age, tolerance, hour))
            record.Equal(h, static_cast<std::uint32_t>(i));
        else
            record.Carry(host.RelPath);
    }
    for (int i = 0; i < plan.MirrorFiles.Count(); ++i) {
        if (twinned[static_cast<std::size_t>(i)])
            continue;
        const TFileEntry& mirror = plan.MirrorFiles.Items(i);
        if (mirror.Op != opNone || kindOf(mirror, false) != Remembered::None)
            record.Check(mirror.RelPath);
        else
            record.Carry(mirror.RelPath);
    }
    for (const std::string& rel : run.Memory->Settled)
        record.Check(rel);
    run.Memory->Last.Files = {};
    // Files below a folder that could not be read are in neither list:
    // what the record knew of them stays.
    if (remembered && (!plan.HostUnreadable.empty() || !plan.MirrorUnreadable.empty())) {
        const UnreadableFolders hostUnread(plan.HostUnreadable, run.FoldCase);
        const UnreadableFolders mirrorUnread(plan.MirrorUnreadable, run.FoldCase);
        std::vector<std::uint64_t> listed;
        for (const MemoryRef& r : record.Refs())
            listed.push_back(r.Key);
        std::sort(listed.begin(), listed.end());
        ReadLastRunPaths(run.Memory->File, run.Memory->Owner,
                         [&](std::string_view rel, const RememberedFile& was) {
                             if ((hostUnread.Covers(rel) || mirrorUnread.Covers(rel)) &&
                                 !std::binary_search(listed.begin(), listed.end(), was.Key))
                                 record.Keep(was, record.Own(std::string(rel)));
                         });
    }
    std::string error;
    if (!WriteLastRun(
            run.Memory->File, run.Memory->Owner, run.now(), record.Refs(),
            [&](const MemoryRef& r, RememberedFile& v, std::string_view& rel) {
                record.Resolve(r, v, rel);
            },
            error))
        run.Lines->Append(MsgFill(289, error));
}

std::string RememberedReason(Remembered kind, std::int64_t since) {
    if (kind == Remembered::None)
        return {};
    // Texts 270..274 follow the order of the kinds.
    return MsgFill(269 + static_cast<int>(kind), MinuteText(since));
}

std::string ConflictName(std::string_view name, std::time_t when, bool hostSide, int attempt) {
    // The extension is what follows the last dot, unless that dot starts
    // the name (".bashrc" has none).
    const std::size_t dot = name.find_last_of('.');
    const bool hasExt = dot != std::string_view::npos && dot > 0;
    const std::string_view stem = hasExt ? name.substr(0, dot) : name;
    const std::string_view ext = hasExt ? name.substr(dot) : std::string_view();
    std::tm tm{};
    localtime_r(&when, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &tm);
    std::string out(stem);
    out += " (conflict ";
    out += stamp;
    out += hostSide ? " host" : " mirror";
    if (attempt > 1)
        out += " " + std::to_string(attempt);
    out += ")";
    out += ext;
    return out;
}

} // namespace duplora

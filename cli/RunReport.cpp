#include "cli/RunReport.h"

#include "cli/PlanOutput.h"
#include "cli/TaskFields.h"
#include "sync/plan/DeleteGuard.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace duplora::cli {

namespace {

using Json = nlohmann::ordered_json;

// `key` with the path as text and, when the path is not valid UTF-8 (its
// text then shows U+FFFD for the bad bytes), `key_bytes` with the exact bytes.
void PutPath(Json& j, const std::string& key, const std::string& path) {
    j[key] = path;
    if (Utf8Length(path) < 0)
        j[key + "_bytes"] = Base64(path);
}

Json Side(const SideLoss& side, int limit) {
    return Json{{"files", side.Files},
                {"lost", side.Lost},
                {"percent", side.Percent()},
                {"over", side.Over(limit)}};
}

Json Failure(const RunFailure& f) {
    Json j;
    switch (f.Op) {
    case opToMirror:
    case opToHost:
        j["op"] = "copy";
        j["to"] = f.Op == opToMirror ? "mirror" : "host";
        break;
    case opDelete:
        j["op"] = "delete";
        break;
    case opMoveFrom:
        j["op"] = "move";
        break;
    default:
        j["op"] = "other";
        break;
    }
    PutPath(j, "path", f.Path);
    j["error"] = f.Error;
    return j;
}

} // namespace

std::string IsoLocalTime(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[40];
    // %z writes +0100; ISO 8601's extended form wants +01:00.
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string out(text, n);
    if (out.size() >= 5)
        out.insert(out.size() - 2, 1, ':');
    return out;
}

ReportOutcome ClassifyRun(const RunReport& run) {
    switch (run.Refusal) {
    case RefusalReason::None:
        break;
    case RefusalReason::InvalidFolders:
    case RefusalReason::RelativeRoot:
        return {"refused", "invalid_folders"};
    case RefusalReason::NoOperation:
        return {"refused", "no_operation"};
    case RefusalReason::InvalidMask:
        // An invalid mask ends the run the way a cancel does, before any
        // file operation; for a script it is a refusal with a reason.
        return {"refused", "invalid_mask"};
    case RefusalReason::HostMissing:
        return {"refused", "host_missing"};
    case RefusalReason::Unreachable:
        return {"refused", "share_connect"};
    case RefusalReason::SameFolder:
        return {"refused", "same_folder"};
    case RefusalReason::VersionsFolder:
        return {"refused", "versions_folder"};
    case RefusalReason::ShareTrash:
        return {"refused", "share_trash"};
    case RefusalReason::DeleteLimit:
        return {"refused", "delete_limit"};
    case RefusalReason::SafetyTest:
    case RefusalReason::NestedDeclined:
        return {"refused", "safety_test"};
    }
    switch (run.Outcome) {
    case RunOutcome::NothingToDo:
        return {"nothing_to_do", nullptr};
    case RunOutcome::Declined:
        return {"declined", nullptr};
    case RunOutcome::Finished:
        return {"finished", nullptr};
    case RunOutcome::Cancelled:
        return {"cancelled", nullptr};
    case RunOutcome::ErrorLimit:
        return {"error_limit", nullptr};
    case RunOutcome::NotRun:
    case RunOutcome::Skipped:
    case RunOutcome::Unreachable:
        break;
    }
    return {"refused", "invalid_folders"};
}

std::string RunReportJson(const RunReport& run, const RunTimes& times) {
    const ReportOutcome how = ClassifyRun(run);
    Json j;
    j["format_version"] = kJsonFormatVersion;
    j["task"] = run.TaskName;
    PutPath(j, "host_root", run.HostRoot);
    PutPath(j, "mirror_root", run.MirrorRoot);
    j["start"] = IsoLocalTime(times.start);
    j["end"] = IsoLocalTime(times.end);
    j["outcome"] = how.outcome;
    if (how.reason) {
        j["reason"] = how.reason;
        j["message"] = run.Line;
    }
    j["counts"] = Json{{"to_mirror", run.CopiedToMirror},
                       {"to_host", run.CopiedToHost},
                       {"delete_host", run.DeletedInHost},
                       {"delete_mirror", run.DeletedInMirror},
                       {"moves", run.Moved},
                       {"empty_folders", run.EmptyFoldersDone},
                       {"failures", run.Failed}};
    const RunReport::Counts& p = run.Planned;
    j["planned"] = Json{{"to_mirror", p.ToMirror},
                        {"to_host", p.ToHost},
                        {"delete_host", p.DeleteHost},
                        {"delete_mirror", p.DeleteMirror},
                        {"moves", p.Moves},
                        {"empty_folders", p.EmptyFolders}};
    j["bytes"] = Json{{"total", run.TotalBytes}, {"done", run.DoneBytes}};
    if (run.RememberOn) {
        j["remembered"] = run.Remembered;
        j["memory_note"] = run.MemoryNote.empty() ? Json() : Json(run.MemoryNote);
        j["remembered_since"] =
            run.Remembered ? Json(IsoLocalTime(static_cast<std::time_t>(run.RememberedSince)))
                           : Json();
        const RunReport::RememberedCounts& k = run.PlannedRemembered;
        j["planned_remembered"] = Json{{"deleted_in_host", k.DeletedInHost},
                                       {"deleted_in_mirror", k.DeletedInMirror},
                                       {"changed_on_both", k.ChangedOnBoth},
                                       {"changed_deleted_in_mirror", k.ChangedDeletedInMirror},
                                       {"changed_deleted_in_host", k.ChangedDeletedInHost}};
        j["conflicts_kept"] = run.ConflictsKept;
        j["conflicts_skipped"] = run.ConflictsSkipped;
    }
    if (run.Guard) {
        const DeleteGuard& guard = *run.Guard;
        j["delete_guard"] = Json{{"limit", guard.Limit},
                                 {"host", Side(guard.Host, guard.Limit)},
                                 {"mirror", Side(guard.Mirror, guard.Limit)}};
    } else {
        j["delete_guard"] = nullptr;
    }
    Json failures = Json::array();
    for (const RunFailure& f : run.Failures)
        failures.push_back(Failure(f));
    j["failures"] = std::move(failures);
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace duplora::cli

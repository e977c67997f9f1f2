#pragma once
// Everything one run of one task works with: the task, its prepared roots and
// masks, the plan, the run state and where the result lines go.

#include "sync/plan/SyncPlan.h"
#include "sync/run/ResultLines.h"
#include "sync/run/RunObserver.h"
#include "sync/setaside/SetAside.h"
#include "tasks/TaskRecord.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

enum class RunState : std::uint8_t {
    Idle = 0,
    ScanHost = 1,
    ScanMirror = 2,
    ExecHost = 3,   // executing HostFiles
    ExecMirror = 4, // executing MirrorFiles and empty folders
    Cancelled = 5,  // cancel confirmed, host root missing or invalid mask
    ErrorLimit = 6, // stopped at max_errors failures
};

// How the run ended, for callers that need more than the result lines.
enum class RunOutcome {
    NotRun,      // a check before the run refused it (messages 32, 33, relative root)
    Skipped,     // the safety test refused it; nothing written
    NothingToDo, // message 55
    Declined,    // message 63: the preview was declined
    Finished,    // message 69
    Cancelled,   // message 67
    ErrorLimit,  // message 68
    Unreachable, // message 108: a network share could not be connected
};

class ShareConnector;
struct RunMemory;

// How a run was started: decides whether it may show and ask things.
enum class RunStart : std::uint8_t {
    Window,      // Go Sync in the main window
    CommandLine, // the desktop program's -A, -C or /A
    Schedule,    // a due schedule, in the window's or the headless scheduler
    Console,     // duplora-cli run or plan
};

// Why a run was refused before any file operation.
enum class RefusalReason {
    None,
    // RunOutcome::NotRun: the task cannot run as it stands.
    InvalidFolders, // message 32: a path is empty
    RelativeRoot,   // message 32 and a note: a root is not a full path
    NoOperation,    // message 33: all six actions are Ignore
    // RunOutcome::Cancelled: the run stopped before its first file operation.
    InvalidMask, // a mask of a list in use is invalid; RefusedLine is its error
    HostMissing, // the host root is not a folder at the scan; message 191
    // RunOutcome::Unreachable: a share could not be connected.
    Unreachable,
    // RunOutcome::Skipped:
    NestedDeclined, // roots one inside the other, and the user said No
    SafetyTest,     // a missing folder would make the other side's files look deletable
    SameFolder,     // host and mirror are one folder
    // The versioning folder is unusable (inside the other side, a root
    // itself, or leaving its side): refused before the scan.
    VersionsFolder,
    // "Move to the trash" with a root on a share, which has no trash: every
    // delete would fail. Refused before the connection.
    ShareTrash,
    // A quiet run would delete or replace more of a side than the task's
    // delete limit allows: refused after the scan, before any file operation.
    DeleteLimit,
};

// One failed file operation of a run, for a machine-readable report: the
// result lines say the same in words.
struct RunFailure {
    std::string Path;    // full path of the file the operation failed on
    TSyncOp Op = opNone; // opToMirror, opToHost, opDelete or opMoveFrom
    std::string Error;   // the system's error text (strerror), or why it was left
};

// What the caller gives a run; the run itself never changes it.
struct RunInput {
    std::string TaskName;
    TaskRecord Task;
    RunStart Start = RunStart::Window;
    bool SkipMirrorScan = false;        // -C: the mirror counts as empty
    RunObserver* Ui = nullptr;          // null: nothing shown
    ResultLines* Lines = nullptr;       // must be set; the program-wide result lines
    std::function<std::time_t()> Clock; // empty: std::time
    // Called right before each file copy or delete with the entry's path and
    // operation, after the scan saw the files; tests change files here.
    std::function<void(std::string_view relPath, TSyncOp op)> BeforeFileOperation;
    // Worker threads for small-file copies: -1 decides by the roots
    // (ChooseOverlap: a share or FUSE on either side, ext4 as the target), 0
    // copies on the run's thread only, more overlaps copies under 1 MiB anywhere.
    int CopyWorkers = -1;
    // Where a task that remembers its last run keeps its record; "" for
    // ResolveMemoryFolder() (tasks/ProgramPaths.h).
    std::string MemoryFolder;
    // Scan the host, then the mirror, on the run's thread (both at once
    // otherwise; see ScanSidesAtOnce).
    bool SerialScan = false;

    // A quiet run shows no preview, no box for message 55 and no result.
    bool Quiet() const { return Start != RunStart::Window || Task.auto_mode(); }
};

// What the gate prepares from the input (PrepareRoots, the share
// connection): the roots and masks every later step works with.
struct PreparedRoots {
    std::string HostRoot; // no trailing '/', macros expanded, a share's local folder
    std::string MirrorRoot;
    // A share root as the task names it (smb://nas/backup), while HostRoot
    // or MirrorRoot is its local mount; "" for a local root. What the user
    // is shown: the preview's root and the result lines.
    std::string HostShown;
    std::string MirrorShown;
    const std::string& ShownHostRoot() const { return HostShown.empty() ? HostRoot : HostShown; }
    const std::string& ShownMirrorRoot() const {
        return MirrorShown.empty() ? MirrorRoot : MirrorShown;
    }
    std::vector<std::string> OnlyMasks;
    std::vector<std::string> IgnoreMasks;
    std::vector<std::string> DeleteMasks;
    // Fold a-z in path comparisons: set when either root folds case, as a
    // probe of each root finds (see CaseProbe.h); a caller may override it.
    bool FoldCase = false;
    bool HostFoldsCase = false; // the probes' answers, per root
    bool MirrorFoldsCase = false;
};

// How the run ended, as the steps leave it; ReportOf (RunReport.h) turns it
// with the plan's counters into the report the caller renders.
struct RunEnd {
    RunOutcome Outcome = RunOutcome::NotRun;
    // Set when the run was refused or stopped before any file operation: the
    // reason and the line that says so in words (written to the result
    // lines where the run has a block there).
    RefusalReason Refusal = RefusalReason::None;
    std::string RefusedLine;
    std::string EndLine; // 67, 68 or 69: the main window's status bar text after the run
    bool ResultShown = false;
    bool InvalidMaskFound = false; // the run ended on an invalid mask
    bool HostMissing = false;      // ... or on a host root that is not a folder
    // Every failure counted in Plan.FailedCount, in the order they happened.
    std::vector<RunFailure> Failures;
};

// One run: its input, its prepared roots, how it ended, and the state the
// steps keep between them.
struct RunContext : RunInput, PreparedRoots, RunEnd {
    // Whether a file (its path below the root) is one the task's delete masks
    // let the run delete where it would otherwise keep it.
    bool MaskedForDelete(std::string_view rel) const;

    // --- the steps' own state ---
    RunState State = RunState::Idle;
    RunState CancelState = RunState::Idle; // State when the user confirmed a cancel
    // StepListMain scanned the mirror alongside the host: StepListMirror
    // goes on from that scan.
    bool MirrorScanned = false;
    // Where this run puts the files it deletes or replaces (the trash, the
    // versioning folder); null for a task that deletes permanently. Made by
    // BeginRun() from the task's on_delete, kept for the whole run so that
    // the trash of each volume is looked up once.
    std::shared_ptr<SetAside> Aside;
    SyncPlan Plan;
    // The last run as remembered, from the comparison to the end of the run;
    // null for a task without the option (see sync/memory/Remember.h).
    std::shared_ptr<RunMemory> Memory;

    // What the observer was last given, so it is called only on a change (a
    // label or gauge update per 16 KiB chunk would slow the copy).
    struct Shown {
        std::string status, operation, path, totals;
        int fileGauge = -1;
        int totalGauge = -1;
    } Display;

    RunObserver& ui();
    std::time_t now() const;
};

} // namespace duplora

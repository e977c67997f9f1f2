#pragma once
// The rulebook of task and schedule edits: every field's limits, the actions
// each kind of difference allows, and each check with its refusal text. The
// main window, the advanced options dialog, `duplora-cli new/set` and
// `duplora-cli schedule new/set` convert their inputs and ask these; a
// refusal reads the same everywhere (the console puts its option name in
// front). A value is refused, never cut: a cut path names another folder.
//
// Each Check* returns "" when the value may be stored, else the refusal.

#include "tasks/TaskList.h"
#include "tasks/TaskRecord.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace duplora::rules {

// --- The limits table -------------------------------------------------------

// Task names are at most 15 characters (UTF-8 characters, not bytes).
inline constexpr std::size_t kTaskNameMaxChars = 15;
// Schedule names are kept in 15 bytes of their record.
inline constexpr std::size_t kScheduleNameMaxBytes = 15;
// Network user name and password: 15 characters, although the record could
// hold 31 bytes.
inline constexpr std::size_t kCredentialMaxChars = 15;

enum class Number {
    Speed,       // KB/s, 0 = no limit
    MaxErrors,   // failed operations, 0 = no limit
    Tolerance,   // seconds of time tolerance
    DeleteLimit, // per cent of a side, 0 = no limit
    MoveMinSize, // bytes: the smallest file a move takes
};

struct NumberRange {
    std::int64_t min;
    std::int64_t max;
    const char* what; // the field in words, for the refusal
};

inline constexpr NumberRange RangeOf(Number n) {
    switch (n) {
    case Number::Speed:
        return {0, 10000, "the copy speed limit (KB/s)"};
    case Number::MaxErrors:
        return {0, 999, "the error limit"};
    case Number::Tolerance:
        return {0, 99, "the time tolerance (seconds)"};
    case Number::DeleteLimit:
        // 100 would never stop a run: no run deletes more than every file.
        return {0, TaskRecord::kDeleteLimitMax, "the delete limit (per cent)"};
    case Number::MoveMinSize:
        // 1 byte to 1 GiB: the dialog shows it in whole KB, 1 to 1,048,576.
        return {1, std::int64_t{1} << 30, "the smallest moved file (bytes)"};
    }
    return {0, 0, ""};
}

// --- Actions per kind of difference --------------------------------------------

enum class Difference {
    OnlyInHost = 0,
    OnlyInMirror = 1,
    SizeDiffers = 2,
    NewerInHost = 3,
    NewerInMirror = 4,
    EmptyFolder = 5,
    // Only for tasks that remember their last run (see TaskRecord).
    DeletedInHost = 6,
    DeletedInMirror = 7,
};
inline constexpr std::array<Difference, 6> kDifferences = {
    Difference::OnlyInHost,  Difference::OnlyInMirror,  Difference::SizeDiffers,
    Difference::NewerInHost, Difference::NewerInMirror, Difference::EmptyFolder};

inline constexpr std::array<Difference, 2> kRememberedDifferences = {Difference::DeletedInHost,
                                                                     Difference::DeletedInMirror};

// The actions a kind allows, in the order the window's lists show them: a
// file only in the host can be copied to the mirror or deleted, never
// "copied" to the host it is already in.
std::span<const SyncAction> AllowedActions(Difference kind);
std::string CheckAction(Difference kind, SyncAction action);

SyncAction ActionOf(const TaskRecord& record, Difference kind);
void SetAction(TaskRecord& record, Difference kind, SyncAction action);

// The answers to a file changed on both sides, in list order, with the words
// the console program takes ("keep-both", "newer-wins", "skip").
inline constexpr std::array<ConflictAction, 3> kConflictActions = {
    ConflictAction::KeepBoth, ConflictAction::NewerWins, ConflictAction::Skip};
const char* ConflictWord(ConflictAction a);
// False for any other word.
bool ConflictFromWord(std::string_view word, ConflictAction& out);

// --- Checks ----------------------------------------------------------------

// Characters (lead bytes) of valid UTF-8; -1 when `s` is not valid UTF-8.
long ValidUtf8Chars(std::string_view s);
bool HasControl(std::string_view s);

// Not empty, at most 15 characters, valid UTF-8, no control characters
// (names are stored as lines of text), and not another task's name (compared
// without regard to case). `self` is the index to leave out (list.size() for
// a task not yet in the list).
std::string CheckTaskName(std::string_view name, const TaskList& list, std::size_t self);
// A host or mirror folder: not empty, at most 511 bytes, UTF-8 without
// control characters. `host` picks the field's name in the text.
std::string CheckRoot(bool host, std::string_view path);
// The description: at most 511 bytes.
std::string CheckDescription(std::string_view text);
// The network user name or password: at most 15 characters of UTF-8 text
// without control characters.
std::string CheckCredential(bool password, std::string_view text);
// A number within its field's range.
std::string CheckNumber(Number field, std::int64_t value);
// A versioning folder as text: UTF-8 without control characters, within
// what the task can keep. Where it may lie is the run's check
// (VersionsFolderProblem), asked by the front ends after this one.
std::string CheckVersionsFolderText(std::string_view folder);
// A schedule name: not empty, at most 15 bytes, no control characters, and
// not the name of another schedule (`taken` answers for a name).
std::string CheckScheduleName(std::string_view name,
                              const std::function<bool(std::string_view)>& taken);

} // namespace duplora::rules

#pragma once
// The rules of the advanced options dialog, apart from its widgets: what the
// controls show for a task record, what Ok writes back, the 255-byte check
// and which controls are enabled. Plain C++ so tests need no window.

#include "tasks/TaskRecord.h"
#include "tasks/TaskRules.h"

#include <string>
#include <string_view>

namespace duplora {

// Limits of the dialog's fields.
// The largest value of a number field of the rulebook's table, as an int.
constexpr int RuleMax(rules::Number n) {
    return static_cast<int>(rules::RangeOf(n).max);
}

// Limits of the dialog's fields, from the rulebook's table (TaskRules.h).
struct AdvLimits {
    static constexpr int kSpeedMax = RuleMax(rules::Number::Speed);      // KB/s, 0 = no limit
    static constexpr int kErrorsMax = RuleMax(rules::Number::MaxErrors); // 0 = no limit
    static constexpr int kShiftMax = RuleMax(rules::Number::Tolerance);  // seconds of tolerance
    static constexpr int kDeleteLimitMax = RuleMax(rules::Number::DeleteLimit); // per cent
    static constexpr int kCredentialChars = static_cast<int>(rules::kCredentialMaxChars);
    static constexpr std::size_t kMaskBytes = TaskRecord::kMaskCapacity; // 255
    // The smallest moved file in whole KB: 1 KB to the rulebook's 1 GiB.
    static constexpr int kMoveMinKbMax = RuleMax(rules::Number::MoveMinSize) / 1024;
    static constexpr std::size_t kVersionsFolderBytes = TaskRecord::kVersionsFolderCapacity;
};

// What the dialog's controls hold. Mask lists are kept as the text areas
// show them: lines separated by '\n'.
struct AdvValues {
    std::string netUser;
    std::string netPassword;
    bool onlyOn = false;
    std::string onlyText;
    bool ignoreOn = false;
    std::string ignoreText;
    bool deleteOn = false;
    std::string deleteText;
    bool autoMode = false;
    int speed = 0;
    int maxErrors = 0;
    bool ignoreHour = false;
    int shiftSeconds = 0;
    bool detectMoves = false;
    int moveMinKb = 64; // the record keeps bytes; shown rounded to KB
    DeleteMode onDelete = DeleteMode::Permanent;
    std::string versionsFolder;
    int deleteLimit = 0;
    // Remembering the last run, and the answers to its three kinds.
    bool remember = false;
    SyncAction deletedInHost = SyncAction::Delete;
    SyncAction deletedInMirror = SyncAction::Delete;
    ConflictAction conflict = ConflictAction::KeepBoth;

    bool operator==(const AdvValues&) const = default;
};

// Which of the three lists, in the order Ok checks them.
enum class AdvList { Only = 0, Ignore = 1, Delete = 2, None = -1 };

struct AdvEnabled {
    bool chkOnlyType = true;
    bool chkIgnore = true;
    bool chkDel = true;
    bool liOnlyType = false;
    bool liIgnore = false;
    bool liDel = false;
    bool operator==(const AdvEnabled&) const = default;
};

// A spin field's reading of its text: a whole number brought into
// min..max; anything else (empty, letters, a fraction) reads as min.
int SpinValue(std::string_view text, int min, int max);

// A mask list's text area -> the stored form: every line followed by CR LF.
// A final line break adds no empty line ("a\n" is one line), an empty text
// gives "".
std::string MemoToStored(std::string_view memoText);
// The stored form -> the text area's lines joined with '\n'.
std::string StoredToMemo(std::string_view stored);

AdvValues LoadAdvValues(const TaskRecord& record);
// The smallest moved file as the dialog shows it: whole KB, at least 1.
int MoveMinKb(const TaskRecord& record);
// The first ticked list holding a mask that a run would refuse, with the
// mask's error ("'[abc' is an invalid mask at (1)"); which = None when every
// ticked list is valid. Lists are read line by line as a run reads them.
struct AdvMaskProblem {
    AdvList which = AdvList::None;
    std::string message;
};
AdvMaskProblem FindInvalidMask(const AdvValues& values);
// The first ticked list whose stored form is longer than 255 bytes, or None.
AdvList FindOverlongList(const AdvValues& values);
// Why Ok cannot store the versioning folder ("" = it can): with Versions
// chosen, a folder longer than the record keeps (never cut: a cut path names
// another folder), or one that a run would refuse for `record`'s roots
// (VersionsFolderProblem: empty, a root, inside or around a side, "..", a
// link on the way).
std::string VersionsFolderRefusal(const AdvValues& values, const TaskRecord& record);
// The rulebook's refusal of a number, a changed credential or an action the
// kind does not allow ("" = all may be stored over `record`). The spin fields and the text fields'
// lengths keep a user from typing most of these; the check makes sure nothing out of range is
// stored.
std::string FieldRefusal(const AdvValues& values, const TaskRecord& record);
// Writes every field (lists cut to 255 bytes at a character boundary; a
// versioning folder too long for the record keeps the stored one).
// Does not check: call FindOverlongList and VersionsFolderRefusal first.
void StoreAdvValues(const AdvValues& values, TaskRecord& record);
// What Defaults does to the values: only-list off, ignore-list on with
// "*.tmp", "*.bak", "*.~*", delete-list off, auto mode off.
void ApplyAdvDefaults(AdvValues& values);

// Enabled state when the dialog is shown. A file task has no use for the
// ignore and delete masks, so their boxes and all three lists start
// disabled; a folder task enables each list with its box.
AdvEnabled EnabledOnShow(SyncType type, const AdvValues& values);

} // namespace duplora

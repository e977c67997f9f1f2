#include "tasks/TaskRules.h"

#include "platform/Utf8.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

namespace duplora::rules {

namespace {

using A = SyncAction;
constexpr std::array<SyncAction, 3> kOnlyInHost = {A::Ignore, A::HostToMirror, A::Delete};
constexpr std::array<SyncAction, 3> kOnlyInMirror = {A::Ignore, A::MirrorToHost, A::Delete};
constexpr std::array<SyncAction, 3> kEitherWay = {A::Ignore, A::HostToMirror, A::MirrorToHost};
// A file gone from one side since the last run: delete it on the other side
// too, copy it back, or leave it.
constexpr std::array<SyncAction, 3> kDeletedInHost = {A::Delete, A::MirrorToHost, A::Ignore};
constexpr std::array<SyncAction, 3> kDeletedInMirror = {A::Delete, A::HostToMirror, A::Ignore};
constexpr std::array<SyncAction, 4> kEmptyFolder = {A::Ignore, A::HostToMirror, A::MirrorToHost,
                                                    A::Delete};

const char* ActionWord(SyncAction a) {
    switch (a) {
    case A::Ignore:
        return "ignore";
    case A::Delete:
        return "delete";
    case A::HostToMirror:
        return "to-mirror";
    case A::MirrorToHost:
        return "to-host";
    }
    return "?";
}

// The shared part of every text field's check.
std::string CheckTextField(std::string_view what, std::string_view text, std::size_t maxBytes) {
    if (text.size() > maxBytes)
        return std::string(what) + " is longer than " + std::to_string(maxBytes) + " bytes";
    if (ValidUtf8Chars(text) < 0)
        return std::string(what) + " is not valid UTF-8";
    return {};
}

} // namespace

std::span<const SyncAction> AllowedActions(Difference kind) {
    switch (kind) {
    case Difference::OnlyInHost:
        return kOnlyInHost;
    case Difference::OnlyInMirror:
        return kOnlyInMirror;
    case Difference::EmptyFolder:
        return kEmptyFolder;
    case Difference::DeletedInHost:
        return kDeletedInHost;
    case Difference::DeletedInMirror:
        return kDeletedInMirror;
    case Difference::SizeDiffers:
    case Difference::NewerInHost:
    case Difference::NewerInMirror:
        break;
    }
    return kEitherWay;
}

std::string CheckAction(Difference kind, SyncAction action) {
    std::string names;
    for (SyncAction ok : AllowedActions(kind)) {
        if (ok == action)
            return {};
        if (!names.empty())
            names += ", ";
        names += ActionWord(ok);
    }
    const auto byte = static_cast<unsigned>(action);
    return std::string("'") + (byte <= 3 ? ActionWord(action) : std::to_string(byte).c_str()) +
           "' is not allowed here (allowed: " + names + ")";
}

SyncAction ActionOf(const TaskRecord& r, Difference kind) {
    switch (kind) {
    case Difference::OnlyInHost:
        return r.only_in_host_action();
    case Difference::OnlyInMirror:
        return r.only_in_mirror_action();
    case Difference::SizeDiffers:
        return r.size_differs_action();
    case Difference::NewerInHost:
        return r.newer_in_host_action();
    case Difference::NewerInMirror:
        return r.newer_in_mirror_action();
    case Difference::DeletedInHost:
        return r.deleted_in_host_action();
    case Difference::DeletedInMirror:
        return r.deleted_in_mirror_action();
    case Difference::EmptyFolder:
        break;
    }
    return r.empty_folder_action();
}

void SetAction(TaskRecord& r, Difference kind, SyncAction action) {
    switch (kind) {
    case Difference::OnlyInHost:
        return r.set_only_in_host_action(action);
    case Difference::OnlyInMirror:
        return r.set_only_in_mirror_action(action);
    case Difference::SizeDiffers:
        return r.set_size_differs_action(action);
    case Difference::NewerInHost:
        return r.set_newer_in_host_action(action);
    case Difference::NewerInMirror:
        return r.set_newer_in_mirror_action(action);
    case Difference::DeletedInHost:
        return r.set_deleted_in_host_action(action);
    case Difference::DeletedInMirror:
        return r.set_deleted_in_mirror_action(action);
    case Difference::EmptyFolder:
        break;
    }
    r.set_empty_folder_action(action);
}

const char* ConflictWord(ConflictAction a) {
    switch (a) {
    case ConflictAction::KeepBoth:
        return "keep-both";
    case ConflictAction::NewerWins:
        return "newer-wins";
    case ConflictAction::Skip:
        return "skip";
    }
    return "?";
}

bool ConflictFromWord(std::string_view word, ConflictAction& out) {
    for (ConflictAction a : kConflictActions)
        if (word == ConflictWord(a)) {
            out = a;
            return true;
        }
    return false;
}

long ValidUtf8Chars(std::string_view s) {
    return duplora::ValidUtf8Chars(s);
}

bool HasControl(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string CheckTaskName(std::string_view name, const TaskList& list, std::size_t self) {
    if (name.empty())
        return "the task name is empty";
    const long chars = ValidUtf8Chars(name);
    if (chars < 0)
        return "the task name is not valid UTF-8";
    if (static_cast<std::size_t>(chars) > kTaskNameMaxChars)
        return "the task name '" + std::string(name) + "' is longer than " +
               std::to_string(kTaskNameMaxChars) + " characters";
    if (HasControl(name))
        return "the task name holds a control character";
    for (std::size_t i : list.findNoCase(name))
        if (i != self)
            return "a task named '" + list[i].name + "' already exists";
    return {};
}

std::string CheckRoot(bool host, std::string_view path) {
    const std::string what = host ? "the host folder" : "the mirror folder";
    if (path.empty())
        return what + " is empty";
    if (std::string problem = CheckTextField(what, path, TaskRecord::kPathCapacity);
        !problem.empty())
        return problem;
    if (HasControl(path))
        return what + " holds a control character";
    return {};
}

std::string CheckDescription(std::string_view text) {
    return CheckTextField("the description", text, TaskRecord::kDescriptionCapacity);
}

std::string CheckCredential(bool password, std::string_view text) {
    const long chars = ValidUtf8Chars(text);
    if (chars < 0 || static_cast<std::size_t>(chars) > kCredentialMaxChars || HasControl(text))
        return std::string(password ? "the network password" : "the network user name") +
               " takes at most " + std::to_string(kCredentialMaxChars) +
               " characters of UTF-8 text";
    return {};
}

std::string CheckNumber(Number field, std::int64_t value) {
    const NumberRange r = RangeOf(field);
    if (value >= r.min && value <= r.max)
        return {};
    if (field == Number::DeleteLimit && value == 100)
        return "100 would never stop a run (no run deletes or replaces more than every file of "
               "a side); give 1 to " +
               std::to_string(r.max) + ", or 0 for no limit";
    return std::string(r.what) + " must be a whole number from " + std::to_string(r.min) + " to " +
           std::to_string(r.max) + ", not " + std::to_string(value);
}

std::string CheckVersionsFolderText(std::string_view folder) {
    if (ValidUtf8Chars(folder) < 0 || HasControl(folder))
        return "the versioning folder must be UTF-8 text without control characters";
    if (folder.size() > TaskRecord::kVersionsFolderCapacity)
        return MsgFill(219, std::to_string(TaskRecord::kVersionsFolderCapacity),
                       std::to_string(folder.size()));
    return {};
}

std::string CheckScheduleName(std::string_view name,
                              const std::function<bool(std::string_view)>& taken) {
    if (name.empty())
        return "the schedule name is empty";
    if (name.size() > kScheduleNameMaxBytes)
        return "the schedule name '" + std::string(name) + "' is longer than " +
               std::to_string(kScheduleNameMaxBytes) + " bytes";
    if (ValidUtf8Chars(name) < 0 || HasControl(name))
        return "the schedule name must be UTF-8 text without control characters";
    if (taken && taken(name))
        return Msg(144);
    return {};
}

} // namespace duplora::rules

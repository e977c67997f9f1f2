#include "ui/AdvOptions.h"

#include "sync/setaside/Versions.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace duplora {

int SpinValue(std::string_view text, int min, int max) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long long v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec == std::errc::invalid_argument || ptr != end)
        return min;
    if (ec == std::errc::result_out_of_range) // far beyond either bound
        return text.front() == '-' ? min : max;
    return static_cast<int>(std::clamp<long long>(v, min, max));
}

std::string MemoToStored(std::string_view memoText) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < memoText.size()) {
        std::size_t nl = memoText.find('\n', start);
        if (nl == std::string_view::npos)
            nl = memoText.size();
        std::string_view line = memoText.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        start = nl + 1;
    }
    return JoinLines(lines);
}

std::string StoredToMemo(std::string_view stored) {
    std::string out;
    const std::vector<std::string> lines = SplitLines(stored);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out += '\n';
        out += lines[i];
    }
    return out;
}

AdvValues LoadAdvValues(const TaskRecord& r) {
    AdvValues v;
    v.netUser = r.net_user();
    v.netPassword = r.net_password();
    v.onlyOn = r.only_masks_enabled();
    v.onlyText = StoredToMemo(r.only_masks());
    v.ignoreOn = r.ignore_masks_enabled();
    v.ignoreText = StoredToMemo(r.ignore_masks());
    v.deleteOn = r.delete_masks_enabled();
    v.deleteText = StoredToMemo(r.delete_masks());
    v.autoMode = r.auto_mode();
    // Values outside a field's range are shown brought into it.
    v.speed = std::clamp(r.speed_limit(), 0, AdvLimits::kSpeedMax);
    v.maxErrors = std::clamp<int>(r.max_errors(), 0, AdvLimits::kErrorsMax);
    v.ignoreHour = r.ignore_hour_difference();
    v.shiftSeconds = std::clamp(r.tolerance_seconds(), 0, AdvLimits::kShiftMax);
    v.detectMoves = r.detect_moves();
    v.moveMinKb = MoveMinKb(r);
    v.onDelete = r.on_delete();
    v.versionsFolder = r.versions_folder();
    v.deleteLimit = r.delete_limit();
    v.remember = r.remember_last_run();
    v.deletedInHost = r.deleted_in_host_action();
    v.deletedInMirror = r.deleted_in_mirror_action();
    v.conflict = r.conflict_action();
    return v;
}

int MoveMinKb(const TaskRecord& r) {
    return std::clamp(static_cast<int>((r.move_min_size() + 512) / 1024), 1,
                      AdvLimits::kMoveMinKbMax);
}

namespace {

// The three mask lists of the dialog, in the order their checks report them.
struct MaskList {
    bool on;
    const std::string& text;
    AdvList which;
};
std::array<MaskList, 3> MaskLists(const AdvValues& v) {
    return {{{v.onlyOn, v.onlyText, AdvList::Only},
             {v.ignoreOn, v.ignoreText, AdvList::Ignore},
             {v.deleteOn, v.deleteText, AdvList::Delete}}};
}

} // namespace

AdvList FindOverlongList(const AdvValues& v) {
    for (const MaskList& l : MaskLists(v))
        if (l.on && MemoToStored(l.text).size() > AdvLimits::kMaskBytes)
            return l.which;
    return AdvList::None;
}

AdvMaskProblem FindInvalidMask(const AdvValues& v) {
    for (const MaskList& l : MaskLists(v)) {
        if (!l.on)
            continue;
        for (const std::string& mask : SplitLines(MemoToStored(l.text))) {
            if (mask.empty())
                continue;
            try {
                ValidateMask(mask);
            } catch (const InvalidMask& e) {
                return {l.which, e.what()};
            }
        }
    }
    return {};
}

std::string VersionsFolderRefusal(const AdvValues& v, const TaskRecord& r) {
    if (v.onDelete != DeleteMode::Versions)
        return {};
    if (std::string refusal = rules::CheckVersionsFolderText(v.versionsFolder); !refusal.empty())
        return refusal;
    TaskRecord asStored = r;
    asStored.set_on_delete(DeleteMode::Versions);
    asStored.set_versions_folder(v.versionsFolder);
    return VersionsFolderProblem(asStored);
}

std::string FieldRefusal(const AdvValues& v, const TaskRecord& r) {
    const std::pair<rules::Number, std::int64_t> numbers[] = {
        {rules::Number::Speed, v.speed},
        {rules::Number::MaxErrors, v.maxErrors},
        {rules::Number::Tolerance, v.shiftSeconds},
        {rules::Number::DeleteLimit, v.deleteLimit},
        {rules::Number::MoveMinSize, std::int64_t{v.moveMinKb} * 1024},
    };
    for (const auto& [field, value] : numbers)
        if (std::string refusal = rules::CheckNumber(field, value); !refusal.empty())
            return refusal;
    const std::pair<rules::Difference, SyncAction> actions[] = {
        {rules::Difference::DeletedInHost, v.deletedInHost},
        {rules::Difference::DeletedInMirror, v.deletedInMirror},
    };
    for (const auto& [kind, action] : actions)
        if (std::string refusal = rules::CheckAction(kind, action); !refusal.empty())
            return refusal;
    // Credentials stored longer by an older version are kept as they are;
    // only a changed one is checked.
    if (v.netUser != r.net_user())
        if (std::string refusal = rules::CheckCredential(false, v.netUser); !refusal.empty())
            return refusal;
    if (v.netPassword != r.net_password())
        return rules::CheckCredential(true, v.netPassword);
    return {};
}

void StoreAdvValues(const AdvValues& v, TaskRecord& r) {
    // The record's setters cut texts to their capacity without splitting a
    // character: masks to 255 bytes, credentials to 31.
    r.set_ignore_masks_enabled(v.ignoreOn);
    r.set_ignore_masks(MemoToStored(v.ignoreText));
    r.set_delete_masks_enabled(v.deleteOn);
    r.set_delete_masks(MemoToStored(v.deleteText));
    r.set_only_masks_enabled(v.onlyOn);
    r.set_only_masks(MemoToStored(v.onlyText));
    r.set_auto_mode(v.autoMode);
    r.set_net_user(v.netUser);
    r.set_net_password(v.netPassword);
    r.set_speed_limit(std::clamp(v.speed, 0, AdvLimits::kSpeedMax));
    r.set_max_errors(static_cast<std::uint16_t>(std::clamp(v.maxErrors, 0, AdvLimits::kErrorsMax)));
    r.set_ignore_hour_difference(v.ignoreHour);
    r.set_tolerance_seconds(std::clamp(v.shiftSeconds, 0, AdvLimits::kShiftMax));
    r.set_detect_moves(v.detectMoves);
    // A size set in bytes elsewhere (duplora-cli) stays as it is unless the
    // user changed the rounded figure the dialog shows.
    if (v.moveMinKb != MoveMinKb(r))
        r.set_move_min_size(
            static_cast<std::uint32_t>(std::clamp(v.moveMinKb, 1, AdvLimits::kMoveMinKbMax)) *
            1024u);
    r.set_on_delete(v.onDelete);
    if (v.versionsFolder.size() <= AdvLimits::kVersionsFolderBytes)
        r.set_versions_folder(v.versionsFolder);
    r.set_delete_limit(std::clamp(v.deleteLimit, 0, AdvLimits::kDeleteLimitMax));
    r.set_remember_last_run(v.remember);
    r.set_deleted_in_host_action(v.deletedInHost);
    r.set_deleted_in_mirror_action(v.deletedInMirror);
    r.set_conflict_action(v.conflict);
}

void ApplyAdvDefaults(AdvValues& v) {
    v.onlyOn = false;
    v.ignoreOn = true;
    v.ignoreText = "*.tmp\n*.bak\n*.~*";
    v.deleteOn = false;
    v.autoMode = false;
}

AdvEnabled EnabledOnShow(SyncType type, const AdvValues& v) {
    AdvEnabled e;
    if (type == SyncType::File) {
        e.chkIgnore = false;
        e.chkDel = false;
        e.liOnlyType = e.liIgnore = e.liDel = false;
    } else {
        e.liOnlyType = v.onlyOn;
        e.liIgnore = v.ignoreOn;
        e.liDel = v.deleteOn;
    }
    return e;
}

} // namespace duplora

#include "tasks/TaskRecord.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace duplora {

namespace {

// Offsets of the stored layout.
enum Offset : std::size_t {
    kOnDelete = 0,
    kDeleteLimit = 1,
    kDetectMoves = 2,
    kMoveMinSize = 4,    // uint32
    kVersionsFolder = 8, // 30-byte text buffer
    kReservedEnd = 38,
    kOnlyInHost = 38,
    kOnlyInMirror = 39,
    kSizeDiffers = 40,
    kNewerInHost = 41,
    kNewerInMirror = 42,
    kIncludeSub = 43,
    kHostPath = 44,     // 512-byte text buffer
    kMirrorPath = 556,  // 512-byte text buffer
    kFolderList = 1068, // 1024-byte text buffer
    kEmptyFolder = 2092,
    kAutoMode = 2093,
    kDescription = 2094, // 512-byte text buffer
    kIgnoreMasksOn = 2606,
    kDeleteMasksOn = 2607,
    kIgnoreMasks = 2608, // 256, length-prefixed
    kDeleteMasks = 2864, // 256, length-prefixed
    kNetUser = 3120,     // 32, length-prefixed
    kNetPassword = 3152, // 32, length-prefixed
    kSpeedLimit = 3184,  // int32
    kSyncType = 3188,
    kOnlyMasksOn = 3189,
    kOnlyMasks = 3190, // 256, length-prefixed
    kMaxErrors = 3446, // uint16
    kOnlyIncludeFolders = 3448,
    kIgnoreHour = 3449,
    kTolerance = 3450, // double
};

template <typename T> T loadLE(const std::uint8_t* p) {
    T v{};
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        auto* b = reinterpret_cast<std::uint8_t*>(&v);
        for (std::size_t i = 0; i < sizeof v / 2; ++i)
            std::swap(b[i], b[sizeof v - 1 - i]);
    }
    return v;
}

template <typename T> void storeLE(std::uint8_t* p, T v) {
    if constexpr (std::endian::native == std::endian::big) {
        auto* b = reinterpret_cast<std::uint8_t*>(&v);
        for (std::size_t i = 0; i < sizeof v / 2; ++i)
            std::swap(b[i], b[sizeof v - 1 - i]);
    }
    std::memcpy(p, &v, sizeof v);
}

std::string readBuffer(const std::uint8_t* p, std::size_t width) {
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(p, 0, width));
    std::size_t n = end ? static_cast<std::size_t>(end - p) : width;
    return std::string(reinterpret_cast<const char*>(p), n);
}

void writeBuffer(std::uint8_t* p, std::size_t width, std::string_view s) {
    std::string_view cut = Utf8Prefix(s, width - 1);
    std::memcpy(p, cut.data(), cut.size());
    p[cut.size()] = 0;
}

std::string readPrefixed(const std::uint8_t* p, std::size_t width) {
    std::size_t n = std::min<std::size_t>(p[0], width - 1);
    return std::string(reinterpret_cast<const char*>(p + 1), n);
}

void writePrefixed(std::uint8_t* p, std::size_t width, std::string_view s) {
    std::string_view cut = Utf8Prefix(s, width - 1);
    p[0] = static_cast<std::uint8_t>(cut.size());
    std::memcpy(p + 1, cut.data(), cut.size());
}

} // namespace

TaskRecord TaskRecord::MakeForLoading() {
    TaskRecord r;
    r.set_speed_limit(3000);
    r.set_max_errors(10);
    r.set_only_include_folders(false);
    r.set_ignore_hour_difference(true);
    storeLE<std::uint64_t>(&r.bytes_[kTolerance], kTwoSecondsBits);
    return r;
}

TaskRecord TaskRecord::MakeNew(std::string_view description) {
    TaskRecord r = MakeForLoading();
    r.set_description(description);
    return r;
}

void TaskRecord::overlay(const std::uint8_t* data, std::size_t count) {
    std::memcpy(bytes_.data(), data, std::min(count, kSize));
}

#define DUPLORA_ACTION(name, off)                                                                  \
    SyncAction TaskRecord::name() const {                                                          \
        return static_cast<SyncAction>(bytes_[off]);                                               \
    }                                                                                              \
    void TaskRecord::set_##name(SyncAction a) {                                                    \
        bytes_[off] = static_cast<std::uint8_t>(a);                                                \
    }
DUPLORA_ACTION(only_in_host_action, kOnlyInHost)
DUPLORA_ACTION(only_in_mirror_action, kOnlyInMirror)
DUPLORA_ACTION(size_differs_action, kSizeDiffers)
DUPLORA_ACTION(newer_in_host_action, kNewerInHost)
DUPLORA_ACTION(newer_in_mirror_action, kNewerInMirror)
DUPLORA_ACTION(empty_folder_action, kEmptyFolder)
#undef DUPLORA_ACTION

#define DUPLORA_FLAG(name, off)                                                                    \
    bool TaskRecord::name() const {                                                                \
        return bytes_[off] != 0;                                                                   \
    }                                                                                              \
    void TaskRecord::set_##name(bool on) {                                                         \
        bytes_[off] = on ? 0xFF : 0;                                                               \
    }
DUPLORA_FLAG(include_subfolders, kIncludeSub)
DUPLORA_FLAG(auto_mode, kAutoMode)
DUPLORA_FLAG(ignore_masks_enabled, kIgnoreMasksOn)
DUPLORA_FLAG(delete_masks_enabled, kDeleteMasksOn)
DUPLORA_FLAG(only_masks_enabled, kOnlyMasksOn)
DUPLORA_FLAG(only_include_folders, kOnlyIncludeFolders)
DUPLORA_FLAG(ignore_hour_difference, kIgnoreHour)
#undef DUPLORA_FLAG

#define DUPLORA_BUFFER(name, off, width)                                                           \
    std::string TaskRecord::name() const {                                                         \
        return readBuffer(&bytes_[off], width);                                                    \
    }                                                                                              \
    void TaskRecord::set_##name(std::string_view s) {                                              \
        writeBuffer(&bytes_[off], width, s);                                                       \
    }
DUPLORA_BUFFER(host_path, kHostPath, 512)
DUPLORA_BUFFER(mirror_path, kMirrorPath, 512)
DUPLORA_BUFFER(folder_list, kFolderList, 1024)
DUPLORA_BUFFER(description, kDescription, 512)
#undef DUPLORA_BUFFER

#define DUPLORA_PREFIXED(name, off, width)                                                         \
    std::string TaskRecord::name() const {                                                         \
        return readPrefixed(&bytes_[off], width);                                                  \
    }                                                                                              \
    void TaskRecord::set_##name(std::string_view s) {                                              \
        writePrefixed(&bytes_[off], width, s);                                                     \
    }
DUPLORA_PREFIXED(ignore_masks, kIgnoreMasks, 256)
DUPLORA_PREFIXED(delete_masks, kDeleteMasks, 256)
DUPLORA_PREFIXED(only_masks, kOnlyMasks, 256)
DUPLORA_PREFIXED(net_user, kNetUser, 32)
DUPLORA_PREFIXED(net_password, kNetPassword, 32)
#undef DUPLORA_PREFIXED

std::int32_t TaskRecord::speed_limit() const {
    return loadLE<std::int32_t>(&bytes_[kSpeedLimit]);
}
void TaskRecord::set_speed_limit(std::int32_t v) {
    storeLE(&bytes_[kSpeedLimit], v);
}
SyncType TaskRecord::sync_type() const {
    return static_cast<SyncType>(bytes_[kSyncType]);
}
void TaskRecord::set_sync_type(SyncType t) {
    bytes_[kSyncType] = static_cast<std::uint8_t>(t);
}
std::uint8_t TaskRecord::sync_type_byte() const {
    return bytes_[kSyncType];
}
std::uint16_t TaskRecord::max_errors() const {
    return loadLE<std::uint16_t>(&bytes_[kMaxErrors]);
}
void TaskRecord::set_max_errors(std::uint16_t n) {
    storeLE(&bytes_[kMaxErrors], n);
}
double TaskRecord::time_tolerance() const {
    return loadLE<double>(&bytes_[kTolerance]);
}
void TaskRecord::set_time_tolerance(double d) {
    storeLE(&bytes_[kTolerance], d);
}

int TaskRecord::tolerance_seconds() const {
    double s = std::round(time_tolerance() * 86400.0);
    if (!(s >= -2147483647.0 && s <= 2147483647.0)) // NaN or out of range from a damaged file
        return 0;
    return static_cast<int>(s);
}

void TaskRecord::set_tolerance_seconds(int seconds) {
    set_time_tolerance(seconds / 86400.0 + 0.00000001);
}

void TaskRecord::change_sync_type(SyncType t) {
    set_sync_type(t);
    set_ignore_masks_enabled(false);
    set_delete_masks_enabled(false);
    set_only_masks("");
    set_ignore_masks("");
    set_delete_masks("");
    set_folder_list("");
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

SyncAction ActionFromText(std::string_view text, const std::array<std::string, 4>& names) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == text)
            return static_cast<SyncAction>(i);
    return SyncAction::Ignore;
}

const std::string& ActionToText(SyncAction a, const std::array<std::string, 4>& names) {
    static const std::string empty;
    auto i = static_cast<std::size_t>(a);
    return i < names.size() ? names[i] : empty;
}

DeleteMode TaskRecord::on_delete() const {
    const std::uint8_t v = bytes_[kOnDelete];
    return v <= 2 ? static_cast<DeleteMode>(v) : DeleteMode::Permanent;
}
void TaskRecord::set_on_delete(DeleteMode m) {
    bytes_[kOnDelete] = static_cast<std::uint8_t>(m);
}

int TaskRecord::delete_limit() const {
    const int stored = bytes_[kDeleteLimit];
    return stored > kDeleteLimitMax ? 0 : stored;
}
void TaskRecord::set_delete_limit(int percent) {
    bytes_[kDeleteLimit] =
        static_cast<std::uint8_t>(percent > kDeleteLimitMax ? 0 : std::max(percent, 0));
}

bool TaskRecord::detect_moves() const {
    return bytes_[kDetectMoves] != 0;
}
void TaskRecord::set_detect_moves(bool on) {
    bytes_[kDetectMoves] = on ? 1 : 0;
}

std::uint32_t TaskRecord::move_min_size() const {
    const auto v = loadLE<std::uint32_t>(&bytes_[kMoveMinSize]);
    return v == 0 ? kDefaultMoveMinSize : v;
}
void TaskRecord::set_move_min_size(std::uint32_t bytes) {
    storeLE<std::uint32_t>(&bytes_[kMoveMinSize], bytes);
}

namespace {
constexpr char kVersionsFolderKey[] = "versions_folder";
} // namespace

std::string TaskRecord::versions_folder() const {
    if (const auto found = extension_.find(kVersionsFolderKey); found != extension_.end())
        return found->second;
    return readBuffer(&bytes_[kVersionsFolder], kReservedEnd - kVersionsFolder);
}
void TaskRecord::set_versions_folder(std::string_view s) {
    s = Utf8Prefix(s.substr(0, s.find('\0')), kVersionsFolderCapacity);
    if (s.size() <= kVersionsFolderInRecord) {
        writeBuffer(&bytes_[kVersionsFolder], kReservedEnd - kVersionsFolder, s);
        extension_.erase(kVersionsFolderKey);
    } else {
        std::fill(&bytes_[kVersionsFolder], &bytes_[kReservedEnd], std::uint8_t{0});
        extension_[kVersionsFolderKey] = std::string(s);
    }
}

namespace {
constexpr char kRememberKey[] = "remember_last_run";
constexpr char kDeletedInHostKey[] = "deleted_in_host_action";
constexpr char kDeletedInMirrorKey[] = "deleted_in_mirror_action";
constexpr char kConflictKey[] = "conflict_action";

// A stored digit 0..max, or `fallback` when missing or anything else.
int ExtensionDigit(const TaskRecord::Extension& e, const char* key, int max, int fallback) {
    const auto found = e.find(key);
    if (found == e.end() || found->second.size() != 1)
        return fallback;
    const int v = found->second[0] - '0';
    return v >= 0 && v <= max ? v : fallback;
}
// The default is not stored, so a task that never changed it keeps the
// record it always had.
void SetExtensionDigit(TaskRecord::Extension& e, const char* key, int v, int fallback) {
    if (v == fallback)
        e.erase(key);
    else
        e[key] = std::string(1, static_cast<char>('0' + v));
}
} // namespace

bool TaskRecord::remember_last_run() const {
    return ExtensionDigit(extension_, kRememberKey, 1, 0) == 1;
}
void TaskRecord::set_remember_last_run(bool on) {
    SetExtensionDigit(extension_, kRememberKey, on ? 1 : 0, 0);
}
SyncAction TaskRecord::deleted_in_host_action() const {
    const int v = ExtensionDigit(extension_, kDeletedInHostKey, 3, 1);
    return v == 2 ? SyncAction::Delete : static_cast<SyncAction>(v); // never "to the mirror"
}
void TaskRecord::set_deleted_in_host_action(SyncAction a) {
    SetExtensionDigit(extension_, kDeletedInHostKey, static_cast<int>(a), 1);
}
SyncAction TaskRecord::deleted_in_mirror_action() const {
    const int v = ExtensionDigit(extension_, kDeletedInMirrorKey, 3, 1);
    return v == 3 ? SyncAction::Delete : static_cast<SyncAction>(v); // never "to the host"
}
void TaskRecord::set_deleted_in_mirror_action(SyncAction a) {
    SetExtensionDigit(extension_, kDeletedInMirrorKey, static_cast<int>(a), 1);
}
ConflictAction TaskRecord::conflict_action() const {
    return static_cast<ConflictAction>(ExtensionDigit(extension_, kConflictKey, 2, 0));
}
void TaskRecord::set_conflict_action(ConflictAction a) {
    SetExtensionDigit(extension_, kConflictKey, static_cast<int>(a), 0);
}

} // namespace duplora

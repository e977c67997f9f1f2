#pragma once
// The task record: one fixed 3458-byte little-endian block per task, kept in
// memory exactly as the configuration file stores it. Every field is reached
// through a named accessor; the offsets live only in TaskRecord.cpp.
//
// The first 38 bytes were unused by the original layout and are zero in
// every file written before the safety options; zero keeps the old behaviour
// for each of the options kept there:
//   0      uint8   on_delete: 0 delete permanently, 1 move to the trash,
//                  2 move to the versioning folder
//   1      uint8   delete_limit: 0 no limit, 1..100 per cent of a side
//   2      uint8   detect_moves: 0 off, anything else on
//   3      uint8   unused, zero
//   4..7   uint32  move_min_size in bytes, 0 = the default 64 KiB
//   8..37  text    versions_folder, NUL-terminated UTF-8 (29 bytes of text)
//
// Options that do not fit the record live in the task's extension: named
// values that the configuration file keeps in an extension block after its
// schedules (layout in ConfigFile.h), which readers of the record alone never
// see. A versioning folder longer than 29 bytes is kept there under
// "versions_folder" and bytes 8..37 are left zero: a reader that knows only
// the record sees a Versions task without a folder and refuses to run it,
// rather than putting versions into a cut path, which names another folder.
// A record without extension options is byte for byte what it always was.

#include "platform/Utf8.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

enum class SyncAction : std::uint8_t { Ignore = 0, Delete = 1, HostToMirror = 2, MirrorToHost = 3 };
enum class SyncType : std::uint8_t { Folder = 0, File = 1 };
// Where deleted and replaced files go.
enum class DeleteMode : std::uint8_t { Permanent = 0, Trash = 1, Versions = 2 };
// What a task that remembers its last run does with a file changed on both
// sides since then.
enum class ConflictAction : std::uint8_t { KeepBoth = 0, NewerWins = 1, Skip = 2 };

class TaskRecord {
public:
    static constexpr std::size_t kSize = 3458;
    // Records of the oldest configuration layout end here.
    static constexpr std::size_t kOldSize = 2092;
    using Bytes = std::array<std::uint8_t, kSize>;

    // Field capacities in bytes (text buffers keep one byte for the NUL,
    // length-prefixed texts one for the length).
    static constexpr std::size_t kPathCapacity = 511;
    static constexpr std::size_t kFolderListCapacity = 1023;
    static constexpr std::size_t kDescriptionCapacity = 511;
    static constexpr std::size_t kMaskCapacity = 255;
    static constexpr std::size_t kCredentialCapacity = 31;
    // The longest versioning folder a task keeps (PATH_MAX less its NUL);
    // up to kVersionsFolderInRecord bytes of it stay in the record.
    static constexpr std::size_t kVersionsFolderCapacity = 4095;
    static constexpr std::size_t kVersionsFolderInRecord = 29;
    // The largest delete limit in per cent. 100 would never stop a run (no
    // run deletes or replaces more than every file of a side), so it is not
    // offered; a stored 100 or more reads as 0, no limit, which is what it
    // always did.
    static constexpr int kDeleteLimitMax = 99;
    static constexpr std::uint32_t kDefaultMoveMinSize = 64 * 1024;
    static constexpr std::uint64_t kTwoSecondsBits = 0x3EF84877D2AA973BULL;

    // All zero: not a valid task until one of the factories fills it.
    TaskRecord() { bytes_.fill(0); }

    // A new task: `description` is interface text 76 of the current language.
    static TaskRecord MakeNew(std::string_view description);
    // The base a stored record is laid over: the new-task values with an
    // empty description, so fields an older, shorter record lacks keep them.
    static TaskRecord MakeForLoading();

    const Bytes& bytes() const { return bytes_; }
    Bytes& bytes() { return bytes_; }
    // Lays up to kSize stored bytes over the record from offset 0.
    void overlay(const std::uint8_t* data, std::size_t count);

    SyncAction only_in_host_action() const;
    void set_only_in_host_action(SyncAction a);
    SyncAction only_in_mirror_action() const;
    void set_only_in_mirror_action(SyncAction a);
    SyncAction size_differs_action() const;
    void set_size_differs_action(SyncAction a);
    SyncAction newer_in_host_action() const;
    void set_newer_in_host_action(SyncAction a);
    SyncAction newer_in_mirror_action() const;
    void set_newer_in_mirror_action(SyncAction a);
    SyncAction empty_folder_action() const;
    void set_empty_folder_action(SyncAction a);
    // Raw stored action bytes, for callers that must see values outside 0..3.
    std::uint8_t action_byte(std::size_t offset) const { return bytes_[offset]; }

    bool include_subfolders() const;
    void set_include_subfolders(bool on);
    bool auto_mode() const;
    void set_auto_mode(bool on);
    bool ignore_masks_enabled() const;
    void set_ignore_masks_enabled(bool on);
    bool delete_masks_enabled() const;
    void set_delete_masks_enabled(bool on);
    bool only_masks_enabled() const;
    void set_only_masks_enabled(bool on);
    bool only_include_folders() const;
    void set_only_include_folders(bool on);
    bool ignore_hour_difference() const;
    void set_ignore_hour_difference(bool on);

    // Texts are UTF-8; setters cut to the capacity at a character boundary.
    std::string host_path() const;
    void set_host_path(std::string_view s);
    std::string mirror_path() const;
    void set_mirror_path(std::string_view s);
    std::string folder_list() const; // CR LF after every line
    void set_folder_list(std::string_view s);
    std::string description() const;
    void set_description(std::string_view s);
    std::string ignore_masks() const;
    void set_ignore_masks(std::string_view s);
    std::string delete_masks() const;
    void set_delete_masks(std::string_view s);
    std::string only_masks() const;
    void set_only_masks(std::string_view s);
    std::string net_user() const;
    void set_net_user(std::string_view s);
    std::string net_password() const;
    void set_net_password(std::string_view s);

    std::int32_t speed_limit() const; // KB/s, 0 = no limit
    void set_speed_limit(std::int32_t kbps);
    SyncType sync_type() const;
    void set_sync_type(SyncType t);
    std::uint8_t sync_type_byte() const;
    std::uint16_t max_errors() const; // 0 = no limit
    void set_max_errors(std::uint16_t n);
    double time_tolerance() const; // days
    void set_time_tolerance(double days);

    // Safety and move options kept in the formerly unused first bytes.
    // A stored on_delete value above 2 reads as Permanent, a delete_limit
    // above kDeleteLimitMax as 0.
    DeleteMode on_delete() const;
    void set_on_delete(DeleteMode m);
    int delete_limit() const; // per cent, 0 = no limit
    void set_delete_limit(int percent);
    bool detect_moves() const;
    void set_detect_moves(bool on);
    std::uint32_t move_min_size() const; // bytes; the default when stored as 0
    void set_move_min_size(std::uint32_t bytes);
    // Up to kVersionsFolderCapacity bytes; a longer one goes to the
    // extension (see the top of this file).
    std::string versions_folder() const;
    void set_versions_folder(std::string_view s);

    // Remembering the last run (kept in the extension; off, with the
    // defaults below, for every task stored without it). With it on, a
    // file unchanged on one side and gone from the other since the last run
    // was deleted there, and a file changed on both sides is a conflict.
    bool remember_last_run() const;
    void set_remember_last_run(bool on);
    // Gone from the host since the last run, unchanged in the mirror:
    // Delete (in the mirror, the default), MirrorToHost (copy back), Ignore.
    SyncAction deleted_in_host_action() const;
    void set_deleted_in_host_action(SyncAction a);
    // Gone from the mirror, unchanged in the host: Delete (in the host, the
    // default), HostToMirror (copy back), Ignore.
    SyncAction deleted_in_mirror_action() const;
    void set_deleted_in_mirror_action(SyncAction a);
    ConflictAction conflict_action() const; // KeepBoth by default
    void set_conflict_action(ConflictAction a);

    // The options kept outside the record: name -> value. Names this program
    // does not know are kept as they were read and written back unchanged.
    using Extension = std::map<std::string, std::string>;
    const Extension& extension() const { return extension_; }
    void set_extension(Extension e) { extension_ = std::move(e); }

    // Tolerance as the whole seconds the user sees and types (0 to 99).
    int tolerance_seconds() const;
    void set_tolerance_seconds(int seconds);

    // What a confirmed change of sync type does to the record: the mask
    // filters and the folder/file list are dropped; the only-masks flag stays.
    void change_sync_type(SyncType t);

    bool operator==(const TaskRecord& other) const {
        return bytes_ == other.bytes_ && extension_ == other.extension_;
    }

private:
    Bytes bytes_;
    Extension extension_;
};

// Split a CR LF text (a folder list, a mask list) into its lines. A line ends
// at CR LF, a lone CR or a lone LF; a last line without an ending counts.
std::vector<std::string> SplitLines(std::string_view text);
// Join lines with CR LF after every line, the last one included.
std::string JoinLines(const std::vector<std::string>& lines);

// Stored action value <-> the four action texts (entries 20..23 of the
// current text table): exact comparison, anything else gives Ignore.
SyncAction ActionFromText(std::string_view text, const std::array<std::string, 4>& names);
const std::string& ActionToText(SyncAction a, const std::array<std::string, 4>& names);

} // namespace duplora

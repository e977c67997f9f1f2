#pragma once
// Read-modify-write of the configuration between processes.
//
// Every writer of Duplora.cfg (the console program's edits, the scheduler's
// bookkeeping, the window's save) takes the edit lock beside the file
// (ConfigLockPath) for the few milliseconds of reading, changing and saving,
// so two processes never lose each other's changes:
//
//   lock ── load afresh ── modify ── save (temporary + rename) ── unlock
//
// Readers need no lock: a save replaces the file by a rename, so a reader
// sees either the old file or the new one.

#include "tasks/ConfigFile.h"

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <string>

namespace duplora {

// Which version of the file a process has in hand. Every save makes a new
// file (a new inode), and an editor that writes in place changes the time or
// the size, so two stamps that compare equal name the same contents.
struct ConfigStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::timespec modified{};
    std::timespec statusChanged{};
    bool operator==(const ConfigStamp& other) const;
};
ConfigStamp StampOf(const std::string& path);

enum class EditStatus {
    Saved,      // modify agreed and the new file is in place
    NotChanged, // modify declined; nothing was written
    LockFailed, // the lock file could not be made ("Cannot create file ..."); nothing was read
    CannotOpen, // the file exists but cannot be read; nothing was written
    SaveFailed, // the old file is intact
};

// Locks, loads `path` afresh (a missing file is an empty list), calls
// `modify` and, when it returns true, saves. `error` says why for every
// failure status; `stamp`, when given, receives the file's stamp after the
// save (or as loaded when nothing was saved).
EditStatus EditConfiguration(const std::string& path, const std::function<bool(TaskList&)>& modify,
                             std::string& error, ConfigStamp* stamp = nullptr);

// The window's load: under the lock, so the stamp belongs to what was read.
LoadStatus LoadConfigurationStamped(const std::string& path, TaskList& list, ConfigStamp& stamp,
                                    std::string& error);

enum class GuardedSaveStatus {
    Saved,
    Conflict, // the file differs from `known`; nothing was written
    Failed,   // `error` says why; the old file is intact
};

// The window's save of its whole list: under the lock, and only while the
// file on disk is still the one the window loaded or last saved (`known`),
// unless `overwrite` is set. Saved updates `known` and clears the changed
// flag.
GuardedSaveStatus SaveConfigurationGuarded(const std::string& path, TaskList& list,
                                           ConfigStamp& known, bool overwrite, std::string& error,
                                           const FileOps& ops = SystemFileOps());

} // namespace duplora

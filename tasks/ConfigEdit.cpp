#include "tasks/ConfigEdit.h"

#include "tasks/FileLock.h"

#include <sys/stat.h>

namespace duplora {

namespace {

bool SameTime(const std::timespec& a, const std::timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

bool ConfigStamp::operator==(const ConfigStamp& other) const {
    if (exists != other.exists)
        return false;
    if (!exists)
        return true;
    return device == other.device && inode == other.inode && size == other.size &&
           SameTime(modified, other.modified) && SameTime(statusChanged, other.statusChanged);
}

ConfigStamp StampOf(const std::string& path) {
    ConfigStamp s;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modified = st.st_mtim;
    s.statusChanged = st.st_ctim;
    return s;
}

EditStatus EditConfiguration(const std::string& path, const std::function<bool(TaskList&)>& modify,
                             std::string& error, ConfigStamp* stamp) {
    FileLock lock;
    std::string lockError;
    if (!lock.Lock(ConfigLockPath(path), true, lockError)) {
        // The save needs a new file in the same folder, so it would fail too.
        error = "Cannot create file " + path + " (" + lockError + ")";
        return EditStatus::LockFailed;
    }
    TaskList list;
    if (LoadConfiguration(path, list, error) == LoadStatus::CannotOpen)
        return EditStatus::CannotOpen;
    if (!modify(list)) {
        if (stamp)
            *stamp = StampOf(path);
        return EditStatus::NotChanged;
    }
    if (!SaveConfiguration(path, list, error))
        return EditStatus::SaveFailed;
    if (stamp)
        *stamp = StampOf(path);
    return EditStatus::Saved;
}

LoadStatus LoadConfigurationStamped(const std::string& path, TaskList& list, ConfigStamp& stamp,
                                    std::string& error) {
    // Without the lock (a read-only folder) the load still goes ahead: the
    // stamp may then miss a save made during the read, which only means
    // one question too few or too many later.
    FileLock lock;
    std::string lockError;
    lock.Lock(ConfigLockPath(path), true, lockError);
    stamp = StampOf(path);
    return LoadConfiguration(path, list, error);
}

GuardedSaveStatus SaveConfigurationGuarded(const std::string& path, TaskList& list,
                                           ConfigStamp& known, bool overwrite, std::string& error,
                                           const FileOps& ops) {
    FileLock lock;
    std::string lockError;
    if (!lock.Lock(ConfigLockPath(path), true, lockError)) {
        error = "Cannot create file " + path;
        return GuardedSaveStatus::Failed;
    }
    if (!overwrite && !(StampOf(path) == known))
        return GuardedSaveStatus::Conflict;
    if (!SaveConfiguration(path, list, error, ops))
        return GuardedSaveStatus::Failed;
    known = StampOf(path);
    return GuardedSaveStatus::Saved;
}

} // namespace duplora

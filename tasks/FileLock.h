#pragma once
// Advisory locks (flock) on small lock files beside the configuration.
//
// Two locks exist, each on a file of its own so they never wait for each other:
// - the edit lock ("Duplora.cfg.lock"), held for the few milliseconds of a
//   read-modify-write of the configuration or an append to the log, so two
//   processes never lose each other's changes;
// - the scheduler lock ("Duplora.cfg.scheduler.lock"), held for the whole life
//   of whichever scheduler (window or console) started first, so no schedule
//   fires twice. It dies with the process, also after a crash or kill -9.

#include <string>

namespace duplora {

class FileLock {
public:
    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    ~FileLock();

    // Opens `path` (created owner-only when missing) and takes an exclusive
    // lock on it. With `wait` the call blocks until the lock is free; without,
    // it fails at once when another open file holds it. On failure `error`
    // says why ("locked by another process" or the system's reason).
    bool Lock(const std::string& path, bool wait, std::string& error);
    void Unlock();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// "<configuration path>.lock": the edit lock.
std::string ConfigLockPath(const std::string& configPath);
// "<configuration path>.scheduler.lock": the scheduler lock.
std::string SchedulerLockPath(const std::string& configPath);

} // namespace duplora

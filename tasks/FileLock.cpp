#include "tasks/FileLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace duplora {

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    Unlock();
}

bool FileLock::Lock(const std::string& path, bool wait, std::string& error) {
    Unlock();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return false;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = errno == EWOULDBLOCK ? path + " is locked by another process"
                                     : "cannot lock " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void FileLock::Unlock() {
    if (fd_ >= 0) {
        ::close(fd_); // closing the last descriptor releases the flock
        fd_ = -1;
    }
}

std::string ConfigLockPath(const std::string& configPath) {
    return configPath + ".lock";
}

std::string SchedulerLockPath(const std::string& configPath) {
    return configPath + ".scheduler.lock";
}

} // namespace duplora

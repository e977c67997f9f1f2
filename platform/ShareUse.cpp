#include "platform/ShareUse.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace duplora {

namespace {

std::string UriHash(const std::string& uri) {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (const char c : uri) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

int OpenLockFile(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
}

int LockWaiting(int fd, int how) {
    int r;
    do
        r = ::flock(fd, how);
    while (r != 0 && errno == EINTR);
    return r;
}

} // namespace

ShareUse::~ShareUse() {
    releaseAll();
}

void ShareUse::releaseAll() {
    if (users_ >= 0)
        ::close(users_);
    if (gate_ >= 0)
        ::close(gate_);
    users_ = gate_ = -1;
}

bool ShareUse::Enter(const std::string& folder, const std::string& uri) {
    releaseAll();
    if (folder.empty())
        return false;
    base_ = folder + "/" + UriHash(uri);
    uri_ = uri;
    gate_ = OpenLockFile(base_ + ".gate");
    users_ = OpenLockFile(base_ + ".users");
    if (gate_ < 0 || users_ < 0 || LockWaiting(gate_, LOCK_EX) != 0 ||
        LockWaiting(users_, LOCK_SH) != 0) {
        releaseAll();
        return false;
    }
    return true;
}

void ShareUse::NoteMounted(bool byDuplora) {
    if (gate_ < 0)
        return;
    const std::string mark = base_ + ".mounted";
    if (!byDuplora) {
        ::unlink(mark.c_str());
        return;
    }
    const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

void ShareUse::Admit() {
    if (gate_ >= 0)
        ::close(gate_);
    gate_ = -1;
}

bool ShareUse::Leave() {
    if (users_ < 0)
        return false;
    // Still held when leaving right after Enter() (a mount that failed).
    if (gate_ < 0) {
        gate_ = OpenLockFile(base_ + ".gate");
        if (gate_ < 0 || LockWaiting(gate_, LOCK_EX) != 0) {
            releaseAll(); // cannot tell: leave the share mounted
            return false;
        }
    }
    // Under the gate nobody joins meanwhile, so the shared lock can be
    // turned into an exclusive one without a window for another run.
    const bool last = ::flock(users_, LOCK_EX | LOCK_NB) == 0;
    const bool marked = ::access((base_ + ".mounted").c_str(), F_OK) == 0;
    if (last && marked) {
        ::close(users_);
        users_ = -1;
        return true; // the gate stays held until Done()
    }
    releaseAll();
    return false;
}

void ShareUse::Done(bool unmounted) {
    if (unmounted)
        NoteMounted(false);
    releaseAll();
}

} // namespace duplora

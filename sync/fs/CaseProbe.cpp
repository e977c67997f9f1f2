#include "sync/fs/CaseProbe.h"

#include "platform/Ascii.h"
#include "sync/fs/FolderOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace duplora {

namespace {

constexpr std::string_view kProbePrefix = ".duplora-case-probe-";
constexpr std::size_t kProbeRandomLength = 12;

enum class Verdict { Folds, Exact, Unknown };

std::string SwapCase(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = c >= 'a' && c <= 'z' ? AsciiUpper(c) : AsciiLower(c);
    return out;
}

std::uint64_t RandomBits() {
    std::uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        // No entropy yet (early boot): the pid and the clock still make a
        // name no other prober uses at the same moment.
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        bits = (static_cast<std::uint64_t>(getpid()) << 40) ^
               static_cast<std::uint64_t>(ts.tv_nsec) ^
               (static_cast<std::uint64_t>(ts.tv_sec) << 20);
    }
    return bits;
}

std::string MakeProbeName(std::uint64_t bits) {
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name(kProbePrefix);
    for (std::size_t i = 0; i < kProbeRandomLength; ++i) {
        name.push_back(kDigits[bits % 36]);
        bits /= 36;
        if (bits == 0)
            bits = RandomBits();
    }
    return name;
}

// Creates the probe, looks it up under the other spelling, removes it.
Verdict ProbeByFileOnce(int dirFd) {
    const std::uint64_t bits = RandomBits();
    const std::string name = MakeProbeName(bits);
    const int fd =
        openat(dirFd, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Verdict::Unknown; // read-only, full, no permission: ask the listing
    const off_t size = 1 + static_cast<off_t>((bits >> 40) % 3989);
    struct stat own {};
    const bool sized = ftruncate(fd, size) == 0;
    const bool statted = fstat(fd, &own) == 0;
    struct stat other {};
    const std::string swapped = SwapCase(name);
    const int found = fstatat(dirFd, swapped.c_str(), &other, AT_SYMLINK_NOFOLLOW);
    const int lookupError = errno;
    close(fd);
    // Removed before anything else happens: the scan of this root comes
    // next, and the probe must never be there for it.
    unlinkat(dirFd, name.c_str(), 0);
    if (found != 0)
        return lookupError == ENOENT ? Verdict::Exact : Verdict::Unknown;
    if (!statted || other.st_dev != own.st_dev || !S_ISREG(other.st_mode))
        return Verdict::Exact;
    if (other.st_ino == own.st_ino || (sized && other.st_size == size))
        return Verdict::Folds;
    return Verdict::Exact;
}

// Step 2. The probe has a size nobody else's file is likely to have, so the
// answer holds also where the file system hands out one inode number per
// spelling (FUSE file systems without their own inode numbers do). The
// folder's access and modification times are put back afterwards: asking
// changes nothing a user or a backup could see but the change time.
Verdict ProbeByFile(int dirFd) {
    struct stat folder {};
    const bool folderTimes = fstat(dirFd, &folder) == 0;
    const Verdict verdict = ProbeByFileOnce(dirFd);
    if (folderTimes) {
        const struct timespec times[2] = {folder.st_atim, folder.st_mtim};
        futimens(dirFd, times);
    }
    return verdict;
}

bool HasLetter(const char* name) {
    for (const char* p = name; *p; ++p)
        if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))
            return true;
    return false;
}

// Step 1: nothing is created. When the other spelling of an entry's name can
// be looked up, the listing tells the two cases apart: a folding file system
// lists one entry, a case-sensitive one holding both spellings lists both.
Verdict ProbeByListing(int dirFd) {
    const int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return Verdict::Unknown;
    DIR* dir = fdopendir(listFd);
    if (!dir) {
        close(listFd);
        return Verdict::Unknown;
    }
    Verdict verdict = Verdict::Unknown;
    int tries = 0;
    while (const struct dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !HasLetter(name) ||
            IsCaseProbeName(name))
            continue;
        const std::string swapped = SwapCase(name);
        struct stat st;
        if (fstatat(dirFd, swapped.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                verdict = Verdict::Exact;
                break;
            }
            if (++tries == 8)
                break; // nothing here answers; the type list will
            continue;
        }
        verdict = Verdict::Folds;
        rewinddir(dir);
        while (const struct dirent* f = readdir(dir)) {
            if (swapped == f->d_name) {
                verdict = Verdict::Exact;
                break;
            }
        }
        break;
    }
    closedir(dir);
    return verdict;
}

// The root, or when it is missing its nearest existing parent (`own` tells
// which); -1 when not even "/" opens.
int OpenRootOrParent(const std::string& root, bool& own) {
    own = true;
    std::string p = root.empty() ? std::string(".") : root;
    for (;;) {
        const int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            return fd;
        if (errno != ENOENT && errno != ENOTDIR)
            return -1; // there but unreadable
        own = false;
        const std::size_t slash = p.find_last_of('/');
        if (slash == std::string::npos)
            p = ".";
        else if (slash == 0)
            p = "/";
        else
            p.resize(slash);
        if (p == "/" || p == ".") {
            const int last = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            return last;
        }
    }
}

} // namespace

bool IsCaseProbeName(std::string_view name) {
    if (name.size() != kProbePrefix.size() + kProbeRandomLength ||
        name.substr(0, kProbePrefix.size()) != kProbePrefix)
        return false;
    for (char c : name.substr(kProbePrefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool FuseSubtypeFoldsCase(std::string_view mountinfo, dev_t dev) {
    const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::istringstream lines{std::string(mountinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        // "36 35 98:0 /root /mount options [optional fields] - fstype source ..."
        std::istringstream fields(line);
        std::string id, parent, majMin, field;
        if (!(fields >> id >> parent >> majMin) || majMin != wanted)
            continue;
        while (fields >> field && field != "-") {
        }
        std::string type;
        if (!(fields >> type))
            continue;
        std::string_view subtype = type;
        if (subtype.substr(0, 5) == "fuse.")
            subtype.remove_prefix(5);
        else if (subtype.substr(0, 8) == "fuseblk.")
            subtype.remove_prefix(8);
        else
            continue;
        if (subtype == "exfat" || subtype == "ntfs" || subtype == "ntfs-3g")
            return true;
    }
    return false;
}

bool MountTypeFoldsCase(const std::string& path) {
    if (FileSystemFoldsCase(path))
        return true;
    bool own = true;
    const int fd = OpenRootOrParent(path, own);
    if (fd < 0)
        return false;
    struct stat st;
    const bool statted = fstat(fd, &st) == 0;
    close(fd);
    if (!statted)
        return false;
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    return FuseSubtypeFoldsCase(text.str(), st.st_dev);
}

bool RootFoldsCase(const std::string& root) {
    bool own = true;
    const int fd = OpenRootOrParent(root, own);
    Verdict verdict = Verdict::Unknown;
    if (fd >= 0) {
        verdict = ProbeByListing(fd);
        if (verdict == Verdict::Unknown && own)
            verdict = ProbeByFile(fd);
        close(fd);
    }
    if (verdict != Verdict::Unknown)
        return verdict == Verdict::Folds;
    return MountTypeFoldsCase(root);
}

} // namespace duplora

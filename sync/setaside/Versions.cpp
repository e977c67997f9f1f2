#include "sync/setaside/Versions.h"

#include "platform/Utf8.h"

#include "sync/execute/FileCopier.h"
#include "sync/fs/BelowRoot.h"
#include "sync/fs/FileIo.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <dirent.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duplora {

namespace {

std::string_view DropTrailingSlashes(std::string_view p) {
    while (p.size() > 1 && p.back() == '/')
        p.remove_suffix(1);
    return p;
}

// The components of `path` without empty ones and ".".
std::vector<std::string_view> Components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(pos, end - pos);
        if (!part.empty() && part != ".")
            parts.push_back(part);
        pos = end + 1;
    }
    return parts;
}

bool HasDotDot(std::string_view path) {
    for (std::string_view part : Components(path))
        if (part == "..")
            return true;
    return false;
}

// An absolute path with the links of its existing part resolved and the
// missing rest appended as written (it has no ".."), so that two spellings of
// one folder compare equal. A path on a network form ("smb://...") stays as
// it is.
std::string Canonical(std::string_view path) {
    std::string clean;
    for (std::string_view part : Components(path)) {
        clean += '/';
        clean += part;
    }
    if (clean.empty())
        clean = "/";
    if (path.empty() || path.front() != '/')
        return std::string(path);
    std::string head = clean;
    std::string rest;
    for (;;) {
        char buffer[PATH_MAX];
        if (::realpath(head.c_str(), buffer) != nullptr) {
            std::string out = buffer;
            if (out == "/" && !rest.empty())
                out.clear();
            return out + rest;
        }
        const std::size_t slash = head.rfind('/');
        if (slash == std::string::npos || head == "/")
            return clean;
        rest = head.substr(slash) + rest;
        head = slash == 0 ? "/" : head.substr(0, slash);
    }
}

// `inner` is `outer` or lies below it.
bool Within(std::string_view inner, std::string_view outer) {
    if (outer == "/")
        return true;
    return inner == outer || (inner.size() > outer.size() &&
                              inner.substr(0, outer.size()) == outer && inner[outer.size()] == '/');
}

// False when a component of `rel` that exists below `root` is not a real
// folder (a link, a file). Missing components are created by the run, below
// the root and without following links, so they are no problem.
bool RealFoldersBelow(std::string_view root, std::string_view rel) {
    int fd = ::open(std::string(root).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true; // a root that does not exist yet holds no link
    bool ok = true;
    for (std::string_view part : Components(rel)) {
        const int next =
            ::openat(fd, std::string(part).c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            ok = errno == ENOENT || errno == EACCES;
            break;
        }
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    return ok;
}

std::string PreparedRoot(const std::string& path) {
    std::string root = RemoveTrailingBackslash(path);
    ExpandPathMacros(root);
    return RemoveTrailingBackslash(root);
}

constexpr int kMostNumbers = 100000;

// The longest file name (NAME_MAX of Linux file systems, in bytes).
constexpr std::size_t kNameMax = 255;
// Room a cut name keeps for " (100000)", the largest number a name takes.
constexpr std::size_t kNumberRoom = 9;
// "~" and eight hex digits of the cut part's hash.
constexpr std::size_t kHashRoom = 9;
// An extension longer than this is no extension but part of a long name.
constexpr std::size_t kLongestExtension = 32;

// Longest prefix of `text` within `max` bytes that does not end inside a
// UTF-8 sequence (a name that is not UTF-8 is cut at `max`).
std::string_view CutAtCharacter(std::string_view text, std::size_t max) {
    return Utf8PrefixOrBytes(text, max);
}

// FNV-1a, 32 bits, as eight hex digits.
std::string ShortHash(std::string_view text) {
    std::uint32_t h = 2166136261u;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    char out[9];
    std::snprintf(out, sizeof out, "%08x", h);
    return out;
}

// ".NAME.duplora-tmp-XXXXXXXX" for a stamped name, cut to fit NAME_MAX.
std::string VersionsTempName(const std::string& stamped) {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        static_cast<std::uint64_t>(::getpid())};
    std::string out = ".";
    out += CutAtCharacter(stamped, kNameMax - 1 - kTempMarker.size() - kTempRandomLength);
    out += kTempMarker;
    for (std::size_t i = 0; i < kTempRandomLength; ++i)
        out += kChars[random() % (sizeof kChars - 1)];
    return out;
}

// A copier's temporary name: "." NAME kTempMarker and eight letters or digits.
bool IsTempName(std::string_view name) {
    const std::size_t tail = kTempMarker.size() + kTempRandomLength;
    if (name.size() < 2 + tail || name[0] != '.' ||
        name.substr(name.size() - tail, kTempMarker.size()) != kTempMarker)
        return false;
    for (const char c : name.substr(name.size() - kTempRandomLength))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

// Copies the open file `in` into a new file of `folder` and renames it to the
// first free name `nameFor(n)` gives, flushed to disk before the rename, so
// the copy is whole before anything removes the original. False with errno.
template <class NameFor>
bool CopyAcross(int in, const struct stat& st, int folder, NameFor nameFor) {
    // The copier's form of temporary name, locked while it lives, so that
    // RemoveLeftovers() tells a copy in progress from one whose process died.
    std::string temp;
    Fd out;
    for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
        temp = VersionsTempName(nameFor(1));
        out = Fd(::openat(folder, temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid() && errno != EEXIST)
            return false;
    }
    if (!out.valid())
        return false;
    // Held through a second descriptor until the rename: closing the file
    // for writing must not unlock it for a cleaner in the meantime.
    Fd lock(::fcntl(out.get(), F_DUPFD_CLOEXEC, 0));
    if (lock.valid())
        ::flock(lock.get(), LOCK_EX | LOCK_NB);
    const FileIoCalls& io = CurrentFileIo();
    bool ok = true;
    for (off_t left = st.st_size; ok && left > 0;) {
        const ssize_t n = io.copyRange(in, out.get(), static_cast<std::size_t>(left));
        if (n > 0) {
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            ok = false;
            break;
        }
        // No kernel copy between these two: through a buffer.
        char buffer[1 << 16];
        while (ok && left > 0) {
            const ssize_t got = io.read(in, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                if (got == 0)
                    errno = EIO; // the file shrank under the copy
                ok = false;
                break;
            }
            for (ssize_t done = 0; ok && done < got;) {
                const ssize_t put =
                    io.write(out.get(), buffer + done, static_cast<std::size_t>(got - done));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0) {
                    if (put == 0)
                        errno = ENOSPC;
                    ok = false;
                    break;
                }
                done += put;
            }
            left -= got;
        }
    }
    if (ok) {
        ::fchmod(out.get(), st.st_mode & 0777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        ok = ::fsync(out.get()) == 0;
    }
    const int copyError = errno;
    if (!out.close() || !ok) {
        ::unlinkat(folder, temp.c_str(), 0);
        errno = ok ? EIO : copyError;
        return false;
    }
    for (int n = 1; n <= kMostNumbers; ++n) {
        const std::string name = nameFor(n);
        // Never over a kept version, also where the file system cannot
        // refuse to replace (vfat).
        const int error = RenameIntoFree(folder, temp.c_str(), folder, name.c_str());
        if (error == 0) {
            // The new name on disk too, before the original goes.
            Fd sync(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (sync.valid())
                ::fsync(sync.get());
            return true;
        }
        errno = error;
        if (error != EEXIST)
            break;
    }
    const int error = errno;
    ::unlinkat(folder, temp.c_str(), 0);
    errno = error;
    return false;
}

constexpr std::string_view kCopyingMarker = ".duplora-copying-";

// The versioning folder `top` opened for reading: below its side's root
// without following links when it is a relative one (`base` is that root),
// else as an absolute folder of its own.
Fd OpenTop(const std::string& top, const std::string& base, bool create) {
    if (top == base)
        return Fd(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string inside = top + "/x"; // only its folder is opened
    Below below;
    if (!SplitBelowRoot(inside, base, below))
        return {};
    Fd folder = OpenFolderBelow(base, below, create);
    if (!folder.valid())
        return {};
    return Fd(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Every temporary file below the open folder `dirFd` (rel is its path below
// the versioning folder, "" for the top), without following links.
void FindTemporaries(int dirFd, const std::string& rel, std::vector<std::string>& found) {
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return;
    }
    while (const struct dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            const int sub =
                ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                FindTemporaries(sub, rel + "/" + e->d_name, found);
        } else if (S_ISREG(st.st_mode) && IsTempName(name)) {
            found.push_back(rel + "/" + e->d_name);
        }
    }
    ::closedir(dir);
}

} // namespace

std::string VersionsFolderProblem(std::string_view folder, std::string_view hostRoot,
                                  std::string_view mirrorRoot) {
    const std::string shown(folder);
    if (Components(folder).empty() && (folder.empty() || folder.front() != '/'))
        return folder.empty() ? Msg(200) : MsgFill(201, shown); // "" or "."
    if (HasDotDot(folder))
        return MsgFill(204, shown);
    const std::string host = Canonical(DropTrailingSlashes(hostRoot));
    const std::string mirror = Canonical(DropTrailingSlashes(mirrorRoot));
    if (folder.front() == '/') {
        const std::string place = Canonical(folder);
        if (place == host || place == mirror)
            return MsgFill(201, shown);
        if (Within(place, host) || Within(place, mirror))
            return MsgFill(202, shown);
        if (Within(host, place) || Within(mirror, place))
            return MsgFill(203, shown);
        return {};
    }
    const std::string_view roots[2] = {DropTrailingSlashes(hostRoot),
                                       DropTrailingSlashes(mirrorRoot)};
    for (int side = 0; side < 2; ++side) {
        if (!RealFoldersBelow(roots[side], folder))
            return MsgFill(205, shown);
        // Below its own root by construction; with nested roots it may still
        // reach into, or hold, the other one.
        const std::string place = Canonical(std::string(roots[side]) + "/" + shown);
        const std::string& other = side == 0 ? mirror : host;
        if (Within(place, other))
            return MsgFill(202, shown);
        if (Within(other, place))
            return MsgFill(203, shown);
    }
    return {};
}

std::string VersionsFolderProblem(const TaskRecord& task) {
    if (task.on_delete() != DeleteMode::Versions)
        return {};
    return VersionsFolderProblem(task.versions_folder(), PreparedRoot(task.host_path()),
                                 PreparedRoot(task.mirror_path()));
}

VersionsPlace ResolveVersionsFolder(std::string_view folder, std::string_view hostRoot,
                                    std::string_view mirrorRoot) {
    VersionsPlace out;
    std::string clean;
    for (std::string_view part : Components(folder)) {
        clean += '/';
        clean += part;
    }
    if (!folder.empty() && folder.front() == '/') {
        out.Host = out.Mirror = clean.empty() ? "/" : clean;
        return out;
    }
    out.Relative = true;
    const auto below = [&clean](std::string_view root) {
        root = DropTrailingSlashes(root);
        return (root == "/" ? std::string() : std::string(root)) + clean;
    };
    out.Host = below(hostRoot);
    out.Mirror = below(mirrorRoot);
    return out;
}

std::string VersionName(std::string_view name, std::time_t when, int number) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, " %04d-%02d-%02d %02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const std::size_t dot = name.rfind('.');
    std::size_t split = dot == std::string_view::npos || dot == 0 ? name.size() : dot;
    const std::string counter = number > 1 ? " (" + std::to_string(number) + ")" : "";
    const std::size_t stampSize = std::strlen(stamp);
    std::string out;
    if (name.size() + stampSize + counter.size() <= kNameMax) {
        out = name.substr(0, split);
    } else {
        // Too long for one name with the stamp: the part before the
        // extension is cut, with room for any number, and the hash of what
        // was cut tells apart two long names that begin alike.
        if (name.size() - split > kLongestExtension)
            split = name.size();
        const std::string_view stem = name.substr(0, split);
        const std::size_t room =
            kNameMax - stampSize - kNumberRoom - kHashRoom - (name.size() - split);
        const std::string_view kept = CutAtCharacter(stem, room);
        out = kept;
        out += '~';
        out += ShortHash(stem.substr(kept.size()));
    }
    out += stamp;
    out += counter;
    out += name.substr(split);
    return out;
}

VersionsFolder::VersionsFolder(VersionsPlace place, std::string hostRoot, std::string mirrorRoot,
                               std::function<std::time_t()> clock)
    : place_(std::move(place)), hostRoot_(std::move(hostRoot)), mirrorRoot_(std::move(mirrorRoot)),
      clock_(std::move(clock)) {}

VersionsFolder::~VersionsFolder() {
    Settle();
}

void VersionsFolder::Settle() {
    // Every copy has ended: the markers go, locks and all.
    const std::lock_guard<std::mutex> hold(lock_);
    for (const Mark& m : marks_)
        ::unlink((m.top + "/" + m.name).c_str());
    marks_.clear();
}

bool VersionsFolder::markCopying(const std::string& top, const std::string& base) {
    const std::lock_guard<std::mutex> hold(lock_);
    for (const Mark& m : marks_)
        if (m.top == top)
            return true;
    Fd folder = OpenTop(top, base, true);
    if (!folder.valid())
        return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // The random part of a temporary name, without its leading ".".
        const std::string name =
            std::string(kCopyingMarker) + VersionsTempName("m").substr(2 + kTempMarker.size());
        Fd fd(::openat(folder.get(), name.c_str(),
                       O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            ::unlinkat(folder.get(), name.c_str(), 0);
            return false;
        }
        marks_.push_back({top, name, std::move(fd)});
        return true;
    }
    return false;
}

std::vector<std::string> VersionsFolder::RemoveLeftovers() {
    std::vector<std::string> removed;
    const std::pair<const std::string*, const std::string*> places[] = {
        {&place_.Host, place_.Relative ? &hostRoot_ : &place_.Host},
        {&place_.Mirror, place_.Relative ? &mirrorRoot_ : &place_.Mirror}};
    for (const auto& [top, base] : places) {
        if (top == &place_.Mirror && place_.Mirror == place_.Host)
            break;
        Fd folder = OpenTop(*top, *base, false);
        if (!folder.valid())
            continue;
        // Markers whose run died: whoever locks one first cleans up.
        std::vector<std::pair<std::string, Fd>> dead;
        {
            const int list = ::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            DIR* dir = list >= 0 ? ::fdopendir(list) : nullptr;
            if (dir == nullptr) {
                if (list >= 0)
                    ::close(list);
                continue;
            }
            while (const struct dirent* e = ::readdir(dir)) {
                if (std::string_view(e->d_name).substr(0, kCopyingMarker.size()) != kCopyingMarker)
                    continue;
                Fd fd(::openat(::dirfd(dir), e->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
                if (fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
                    dead.emplace_back(e->d_name, std::move(fd));
            }
            ::closedir(dir);
        }
        if (dead.empty())
            continue;
        std::vector<std::string> temporaries;
        const int walk = ::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (walk >= 0)
            FindTemporaries(walk, "", temporaries);
        for (const std::string& rel : temporaries)
            if (RemoveLeftoverTemporary(*top, rel) == LeftoverResult::Removed)
                removed.push_back(*top + rel);
        for (const auto& [name, fd] : dead)
            ::unlinkat(folder.get(), name.c_str(), 0);
    }
    return removed;
}

bool VersionsFolder::Put(int folderFd, const std::string& name, const std::string& root,
                         std::string_view rel, std::string& why) {
    const std::string& folder = root == hostRoot_ ? place_.Host : place_.Mirror;
    // Below a side the folders are made and walked from the side's root, so
    // no link there leads out; an absolute folder is a root of its own.
    const std::string& base = place_.Relative ? root : folder;
    const std::time_t when = clock_ ? clock_() : std::time(nullptr);
    const std::size_t slash = rel.rfind('/');
    const std::string path = folder + std::string(rel.substr(0, slash + 1)) + name;
    Below below;
    if (!SplitBelowRoot(path, base, below)) {
        why = std::strerror(EINVAL);
        return false;
    }
    Fd target = OpenFolderBelow(base, below, true);
    if (!target.valid()) {
        why = std::strerror(errno);
        return false;
    }
    const auto nameFor = [&](int n) { return VersionName(name, when, n); };
    for (int n = 1; n <= kMostNumbers; ++n) {
        const std::string stamped = nameFor(n);
        const int error = RenameIntoFree(folderFd, name.c_str(), target.get(), stamped.c_str());
        if (error == 0)
            return true;
        if (error == EEXIST)
            continue;
        errno = error;
        if (error != EXDEV)
            break;
        // Another volume: copy, then remove the original once the copy is
        // safely there, and only if the name still holds the file copied.
        Fd in(::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (!in.valid() || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
            break;
        if (!markCopying(folder, base))
            break;
        Fd writable(::openat(target.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!writable.valid() || !CopyAcross(in.get(), st, writable.get(), nameFor))
            break;
        struct stat now {
        }, still{};
        if (::fstat(in.get(), &now) != 0 ||
            ::fstatat(folderFd, name.c_str(), &still, AT_SYMLINK_NOFOLLOW) != 0 ||
            still.st_ino != st.st_ino || still.st_dev != st.st_dev || now.st_size != st.st_size ||
            now.st_mtim.tv_sec != st.st_mtim.tv_sec || now.st_mtim.tv_nsec != st.st_mtim.tv_nsec) {
            // Changed while it was copied: the copy stays, the file too.
            why = Msg(239);
            while (!why.empty() && (why.back() == ' ' || why.back() == ':'))
                why.pop_back();
            return false;
        }
        if (::unlinkat(folderFd, name.c_str(), 0) == 0)
            return true;
        break;
    }
    why = std::strerror(errno);
    return false;
}

} // namespace duplora

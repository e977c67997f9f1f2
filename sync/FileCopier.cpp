#include "sync/FileCopier.h"

#include "sync/FileIo.h"
#include "tasks/TextTable.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duplora {

namespace {

// The speed limit grants whole steps of this size; the allowance starts with one.
constexpr std::int64_t kLimitedStep = 16384;
// A pump that holds the copy longer than this is a pause, not copy time: the
// Cancel question is open inside it. An ordinary pump (repaint, a click) takes
// a few milliseconds.
constexpr std::uint64_t kPumpPauseMs = 50;
// Without a limit the kernel moves this much per step. At 100 MB/s (a slow USB
// disk) 8 MiB take 84 ms, so a cancel is seen within the 100 ms the progress
// window promises, while a step is large enough that the per-step overhead
// (pump, gauge) stays far below 1 % of the time.
constexpr std::int64_t kUnlimitedStep = 8 << 20;
// When the kernel throttles writes (dirty pages of a slow disk) one step can
// take far longer than its size suggests; the step then halves down to this,
// so the window still repaints and takes Cancel about every 30 ms.
constexpr std::int64_t kSmallestUnlimitedStep = 1 << 20;
constexpr auto kSlowStep = std::chrono::milliseconds(30);
constexpr auto kFastStep = std::chrono::milliseconds(8);
// A cancelled or failed copy of a big file is cut down in pieces of this size
// before it is removed: freeing gigabytes of extents at once blocks for
// 100-200 ms, a piece at a time keeps the window live.
constexpr off_t kDiscardPiece = off_t{256} << 20;
// Buffer of the read/write fallback when the kernel cannot copy between the
// two files itself (another file system on an old kernel, FUSE, ...).
constexpr std::size_t kFallbackBuffer = 1 << 20;
// Below this size the sequential-read hint and the look for a folder in the
// target's place cost more than they save.
constexpr std::int64_t kAdviseFrom = 1 << 20;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the close's own result (delayed write errors).
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A path split into the root's folder, the folders below it and the name.
struct Below {
    std::string_view rel;        // below the root, starting with '/'
    std::string_view folderPart; // rel without its last component; may be empty
    std::string_view name;       // last component
    std::string_view folderPath; // the whole path without its last component
};

// True when `path` names something strictly below `root` without "." or ".."
// components, so no file operation can reach outside the root by its text.
bool SplitBelowRoot(const std::string& path, const std::string& root, Below& out) {
    if (root.empty() || root.front() != '/')
        return false;
    std::string_view p = path;
    std::string_view r = root;
    // A root given with a trailing '/' ("/data/") is the same root.
    while (!r.empty() && r.back() == '/')
        r.remove_suffix(1);
    if (p.size() <= r.size() + 1 || p.substr(0, r.size()) != r || p[r.size()] != '/')
        return false;
    out.rel = p.substr(r.size());
    std::size_t pos = 1;
    while (pos <= out.rel.size()) {
        std::size_t end = out.rel.find('/', pos);
        if (end == std::string_view::npos)
            end = out.rel.size();
        const std::string_view part = out.rel.substr(pos, end - pos);
        if (part == "." || part == "..")
            return false;
        pos = end + 1;
    }
    const std::size_t slash = out.rel.rfind('/');
    out.name = out.rel.substr(slash + 1);
    out.folderPart = out.rel.substr(0, slash);
    out.folderPath = p.substr(0, p.size() - out.name.size() - 1);
    if (out.folderPath.empty())
        out.folderPath = "/";
    return !out.name.empty();
}

// Creates a root folder and its missing parents. The root itself was chosen by
// the user, so links in its own path are followed like any path they typed.
bool MakeRootPath(const std::string& root) {
    for (std::size_t pos = 1; pos <= root.size(); ++pos) {
        if (pos != root.size() && root[pos] != '/')
            continue;
        const std::string prefix = root.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Walks `folders` below `base` one component at a time, refusing any component
// that is not a real folder (a link is never walked through), and creating the
// missing ones when `create` is set.
Fd WalkFolders(Fd base, std::string_view folders, bool create) {
    std::size_t pos = 0;
    while (pos < folders.size()) {
        std::size_t end = folders.find('/', pos);
        if (end == std::string_view::npos)
            end = folders.size();
        const std::string part(folders.substr(pos, end - pos));
        pos = end + 1;
        if (part.empty())
            continue;
        // O_PATH with O_NOFOLLOW would open a link itself; O_DIRECTORY then
        // makes that fail with ENOTDIR, so only a real folder opens.
        constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(base.get(), part.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(base.get(), part.c_str(), 0777) != 0 && errno != EEXIST)
                return Fd();
            fd = ::openat(base.get(), part.c_str(), kFlags);
        }
        if (fd < 0)
            return Fd();
        base = Fd(fd);
    }
    return base;
}

// Opens the folder of `below` so that every later call works relative to it
// and cannot be redirected by a link swapped in meanwhile. Missing folders are
// created when `create` is set.
Fd OpenFolderBelow(const std::string& root, const Below& below, bool create) {
    const FileIoCalls& io = CurrentFileIo();
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    // The usual case in one call (openat2, Linux 5.6 and later): a folder that
    // exists on a path without any link. The path has no ".." below the root
    // (SplitBelowRoot), so it lies below the root.
    const std::string folderPath(below.folderPath);
    long fd = io.openat2(AT_FDCWD, folderPath.c_str(), &how, sizeof how);
    if (fd >= 0)
        return Fd(static_cast<int>(fd));

    // Otherwise from the root, which may itself lie behind a link the user
    // chose: missing folders, a linked root, a kernel or sandbox without
    // openat2.
    constexpr int kRootFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    Fd rootFd(::open(root.c_str(), kRootFlags));
    if (!rootFd.valid() && errno == ENOENT && create && MakeRootPath(root))
        rootFd = Fd(::open(root.c_str(), kRootFlags));
    if (!rootFd.valid() || below.folderPart.empty())
        return rootFd;
    const std::string rel(below.folderPart.substr(1));
    how.resolve |= RESOLVE_BENEATH;
    fd = io.openat2(rootFd.get(), rel.c_str(), &how, sizeof how);
    if (fd >= 0)
        return Fd(static_cast<int>(fd));
    // One component at a time: creates what is missing, or does the checks of
    // openat2 where the kernel has none.
    if (errno == ENOENT || errno == ENOSYS || errno == EPERM || errno == E2BIG || errno == EAGAIN)
        return WalkFolders(std::move(rootFd), rel, create);
    return Fd();
}

std::string TempName(std::string_view name) {
    // NAME_MAX is 255 bytes; ".", ".duplora-" and six characters take 16, so a
    // long name is cut (at a character boundary, to keep the name valid UTF-8).
    constexpr std::size_t kKeep = 255 - 16;
    if (name.size() > kKeep) {
        std::size_t cut = kKeep;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name = name.substr(0, cut);
    }
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        static_cast<std::uint64_t>(::getpid()) ^
                                        static_cast<std::uint64_t>(std::time(nullptr))};
    std::string out;
    out.reserve(name.size() + 16);
    out += '.';
    out += name;
    out += ".duplora-";
    for (int i = 0; i < 6; ++i)
        out += kChars[random() % (sizeof kChars - 1)];
    return out;
}

std::uint64_t SteadyMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void SleepMs(int ms) {
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

enum class Step { Moved, Short, Failed };

// Writes all of `len` bytes; false on an error (a write that makes no
// progress counts as one, ENOSPC being the usual cause).
bool WriteAll(const FileIoCalls& io, int fd, const char* data, std::size_t len) {
    while (len > 0) {
        const ssize_t n = io.write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

thread_local std::vector<char> ioBuffer;

// Moves `want` bytes through user space. Short when the source ends first.
Step MoveByReadWrite(const FileIoCalls& io, int in, int out, std::int64_t want) {
    if (ioBuffer.size() < std::min<std::size_t>(static_cast<std::size_t>(want), kFallbackBuffer))
        ioBuffer.resize(std::min<std::size_t>(static_cast<std::size_t>(want), kFallbackBuffer));
    while (want > 0) {
        const std::size_t ask =
            std::min<std::size_t>(static_cast<std::size_t>(want), ioBuffer.size());
        const ssize_t n = io.read(in, ioBuffer.data(), ask);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Step::Failed;
        if (n == 0)
            return Step::Short;
        if (!WriteAll(io, out, ioBuffer.data(), static_cast<std::size_t>(n)))
            return Step::Failed;
        want -= n;
    }
    return Step::Moved;
}

// Moves `want` bytes with the kernel copying between the files when it can,
// switching to read/write for good when it cannot.
Step MoveStep(const FileIoCalls& io, int in, int out, std::int64_t want, bool& kernelCopy) {
    while (want > 0 && kernelCopy) {
        const ssize_t n = io.copyRange(in, out, static_cast<std::size_t>(want));
        if (n > 0) {
            want -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != ETXTBSY)
            return Step::Failed;
        // Not supported here, or 0 before the expected end: some file systems
        // report 0 for "cannot", so read/write tells a shrunk source apart.
        kernelCopy = false;
    }
    return want > 0 ? MoveByReadWrite(io, in, out, want) : Step::Moved;
}

struct HookSet {
    std::function<void()> pump;
    std::function<bool()> cancelled;
    std::function<void(std::int64_t, std::int64_t, std::int64_t)> onChunk;
    std::function<std::uint64_t()> nowMs;
    std::function<void(int)> sleepMs;

    explicit HookSet(const CopyHooks& h)
        : pump(h.pump ? h.pump : [] {}),
          cancelled(h.cancelRequested ? h.cancelRequested : [] { return false; }),
          onChunk(h.onChunk ? h.onChunk : [](std::int64_t, std::int64_t, std::int64_t) {}),
          nowMs(h.nowMs ? h.nowMs : SteadyMs), sleepMs(h.sleepMs ? h.sleepMs : SleepMs) {}
};

CopyOutcome Fail(CopyResult result, int text, std::string_view path) {
    CopyOutcome out;
    out.result = result;
    out.messageLine = Msg(text);
    out.messageLine += path;
    return out;
}

// The data transfer into the temporary file. Copies `size` bytes, the size the
// source had when it was opened, so a file that grows meanwhile is copied as
// a consistent prefix and one that shrinks ends as a short transfer.
enum class End { Complete, Error, Short, Cancelled };

End Transfer(int in, int out, std::int64_t size, std::int32_t limit, const HookSet& hooks) {
    const FileIoCalls& io = CurrentFileIo();
    std::int64_t position = 0;
    if (limit > 0) {
        // `limit` bytes per millisecond (a kilobyte of 1000 bytes per second),
        // granted in whole 16384-byte steps; the allowance is not capped.
        std::uint64_t refill = hooks.nowMs();
        std::int64_t allowance = kLimitedStep;
        // The allowance is not capped, so time in a pause would be granted
        // afterwards at full speed (10 s of an open question at 3000 KB/s:
        // 30 MB in a burst). A pause moves the refill mark on instead.
        const auto pumpOutsidePause = [&] {
            const std::uint64_t before = hooks.nowMs();
            hooks.pump();
            const std::uint64_t held = hooks.nowMs() - before;
            if (held > kPumpPauseMs)
                refill += held;
        };
        for (;;) {
            const std::uint64_t now = hooks.nowMs();
            if (now > refill) {
                allowance +=
                    static_cast<std::int64_t>(limit) * static_cast<std::int64_t>(now - refill);
                refill = now;
            }
            if (allowance < kLimitedStep) {
                // A low limit makes one step wait for seconds (16 s at
                // 1 KB/s); the cancel is honoured during the wait too.
                if (position < size && hooks.cancelled())
                    return End::Cancelled;
                hooks.sleepMs(1);
                pumpOutsidePause();
                continue;
            }
            const std::int64_t chunk = std::min(kLimitedStep, size - position);
            if (chunk <= 0)
                return End::Complete;
            if (hooks.cancelled())
                return End::Cancelled;
            switch (MoveByReadWrite(io, in, out, chunk)) {
            case Step::Failed:
                return End::Error;
            case Step::Short:
                return End::Short;
            case Step::Moved:
                break;
            }
            allowance -= chunk;
            position += chunk;
            hooks.onChunk(chunk, position, size);
            pumpOutsidePause();
        }
    }
    if (size >= kAdviseFrom)
        ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    bool kernelCopy = true;
    std::int64_t step = kUnlimitedStep;
    while (position < size) {
        if (hooks.cancelled())
            return End::Cancelled;
        const std::int64_t chunk = std::min(step, size - position);
        const auto started = std::chrono::steady_clock::now();
        const Step moved = MoveStep(io, in, out, chunk, kernelCopy);
        const auto took = std::chrono::steady_clock::now() - started;
        if (took > kSlowStep && step > kSmallestUnlimitedStep)
            step /= 2;
        else if (took < kFastStep && step < kUnlimitedStep)
            step *= 2;
        switch (moved) {
        case Step::Failed:
            return End::Error;
        case Step::Short:
            return End::Short;
        case Step::Moved:
            break;
        }
        position += chunk;
        hooks.onChunk(chunk, position, size);
        hooks.pump();
    }
    return End::Complete;
}

// Removes the temporary file of a copy that did not complete, cutting a big
// one down piece by piece with the interface kept alive in between.
void DiscardTemporary(int folder, const std::string& temp, const HookSet& hooks) {
    const int fd = ::openat(folder, temp.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            for (off_t size = st.st_size; size > kDiscardPiece;) {
                size -= kDiscardPiece;
                if (::ftruncate(fd, size) != 0)
                    break;
                hooks.pump();
            }
        }
        ::close(fd);
    }
    ::unlinkat(folder, temp.c_str(), 0);
}

} // namespace

//  open source ──► open (create) target folder ──► create .name.duplora-XXXXXX
//       │                                               │
//    result 1                                  transfer, mode, times
//                                                        │
//                                   rename over the target (or unlink the temp)
CopyOutcome CopyOneFile(const CopyRequest& request, const CopyHooks& rawHooks) {
    const HookSet hooks(rawHooks);
    // The source first, so that a vanished source leaves no new folders behind.
    // O_NONBLOCK keeps a FIFO from hanging the run; it changes nothing for files.
    Fd in(::open(request.source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Fail(CopyResult::SourceOpenFailed, 48, request.source);

    Below below;
    if (!SplitBelowRoot(request.target, request.targetRoot, below))
        return Fail(CopyResult::TargetCreateFailed, 47, request.target);
    Fd folder = OpenFolderBelow(request.targetRoot, below, true);
    if (!folder.valid())
        return Fail(CopyResult::TargetCreateFailed, 47, request.target);
    const std::string name(below.name);
    // A folder in the target's place makes the rename fail anyway; for a
    // large file one look first saves copying it for nothing. Small files
    // skip it: 100,000 of them would pay one more call each.
    struct stat old {};
    if (st.st_size >= kAdviseFrom &&
        ::fstatat(folder.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(old.st_mode))
        return Fail(CopyResult::TargetCreateFailed, 47, request.target);

    std::string temp;
    Fd out;
    for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
        temp = TempName(name);
        out = Fd(::openat(folder.get(), temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!out.valid() && errno != EEXIST)
            break;
    }
    if (!out.valid())
        return Fail(CopyResult::TargetCreateFailed, 47, request.target);

    End end = Transfer(in.get(), out.get(), st.st_size, request.speedLimitKBps, hooks);
    if (end == End::Complete) {
        // Mode and times go onto the open temporary file: the target never
        // shows a wrong time, and a read-only mode cannot hinder the rename
        // (that needs write permission on the folder only). Only the nine
        // permission bits are copied: set-user-ID on a copy now owned by
        // whoever runs the sync would hand that user's rights to the source's
        // owner. Failures here are left alone, as the copy itself is good.
        ::fchmod(out.get(), st.st_mode & 0777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        // No fsync: it would cost a disk flush per file (100,000 small files
        // take minutes instead of seconds). The rename happens only after all
        // data were written, so a failure while running never shows; after a
        // crash ext4, XFS and btrfs flush a file renamed over another one
        // before the rename itself, and at worst a new file comes back empty
        // or a hidden temporary file stays behind.
        if (!out.close())
            end = End::Error;
    }
    out.reset();
    if (end == End::Complete) {
        if (::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str()) == 0)
            return {};
        ::unlinkat(folder.get(), temp.c_str(), 0);
        return Fail(CopyResult::TargetCreateFailed, 47, request.target);
    }
    DiscardTemporary(folder.get(), temp, hooks);
    if (end == End::Cancelled)
        return Fail(CopyResult::Cancelled, 49, below.rel);
    if (end == End::Error)
        return Fail(CopyResult::CopyError, 50, below.rel);
    // A source that ended early without an error: counted as a copy error, but
    // there is no error to report.
    CopyOutcome shortCopy;
    shortCopy.result = CopyResult::CopyError;
    return shortCopy;
}

DeleteOutcome DeleteOneFile(const std::string& path, const std::string& root) {
    DeleteOutcome out;
    Below below;
    if (SplitBelowRoot(path, root, below)) {
        Fd folder = OpenFolderBelow(root, below, false);
        // unlinkat removes a link itself, never what it points to. The file's
        // mode is left alone: on Linux only the folder's permissions decide
        // whether a name can be removed, so a read-only file goes without
        // being made writable first, and its other hard links (if any) keep
        // their mode.
        const std::string name(below.name);
        if (folder.valid() && ::unlinkat(folder.get(), name.c_str(), 0) == 0) {
            out.ok = true;
            return out;
        }
    }
    out.messageLine = Msg(52) + path;
    return out;
}

} // namespace duplora

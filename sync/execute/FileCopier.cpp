#include "sync/execute/FileCopier.h"

#include "platform/Utf8.h"

#include "platform/ShareFile.h"
#include "sync/fs/FileIo.h"
#include "tasks/TextTable.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

std::string TempName(std::string_view name) {
    // NAME_MAX is 255 bytes; the leading '.', the marker and the random part
    // take 22, so a long name is cut (at a character boundary, to keep the
    // name valid UTF-8).
    constexpr std::size_t kKeep = 255 - 1 - kTempMarker.size() - kTempRandomLength;
    name = Utf8Prefix(name, kKeep); // a view into the caller's name
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        static_cast<std::uint64_t>(::getpid()) ^
                                        static_cast<std::uint64_t>(std::time(nullptr))};
    std::string out;
    out.reserve(name.size() + 1 + kTempMarker.size() + kTempRandomLength);
    out += '.';
    out += name;
    out += kTempMarker;
    for (std::size_t i = 0; i < kTempRandomLength; ++i)
        out += kChars[random() % (sizeof kChars - 1)];
    return out;
}

// True when `name` in `folder` is the file open as `fd`; `opened` receives
// what fstat says of the open file.
bool NameIsFile(int folder, const std::string& name, int fd, struct stat& opened) {
    struct stat b {};
    return ::fstat(fd, &opened) == 0 &&
           ::fstatat(folder, name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 &&
           opened.st_dev == b.st_dev && opened.st_ino == b.st_ino;
}
bool NameIsFile(int folder, const std::string& name, int fd) {
    struct stat opened {};
    return NameIsFile(folder, name, fd, opened);
}

// The file system (by device number) that last refused a mode change as not
// supported at all, such as a GVfs share: copies onto it do not ask again, as
// each refusal costs a round trip to the server. 0: none.
std::atomic<dev_t> gModesUnsupported{0};

// Whether a copy created as `created` (zeroed: not known) still needs its
// permission bits set to `want`.
bool NeedsModeChange(const struct stat& created, mode_t want) {
    if (created.st_ino == 0)
        return true;
    if ((created.st_mode & 07777) == want)
        return false;
    return created.st_dev != gModesUnsupported.load(std::memory_order_relaxed);
}

void NoteModeRefusal(const struct stat& created, int error) {
    if (created.st_ino != 0 && (error == EOPNOTSUPP || error == ENOTSUP))
        gModesUnsupported.store(created.st_dev, std::memory_order_relaxed);
}

// Whether closing a file written on the file system of `fd` (device `dev`)
// can report a write error of its own: network and FUSE file systems send
// the data on, or flush them, at the close. On the disk file systems listed
// here a close never fails, so a copy there keeps its one descriptor open
// (and locked) up to the rename. Asked once per device and thread.
bool CloseMayFail(int fd, dev_t dev) {
    thread_local dev_t lastDev = 0;
    thread_local bool lastAnswer = true;
    if (dev == 0)
        return true;
    if (dev != lastDev) {
        struct statfs fs {};
        lastAnswer = true;
        if (::fstatfs(fd, &fs) == 0) {
            switch (static_cast<unsigned long>(fs.f_type)) {
            case 0xEF53UL:     // ext2, ext3, ext4
            case 0x58465342UL: // xfs
            case 0x9123683EUL: // btrfs
            case 0x01021994UL: // tmpfs
                lastAnswer = false;
                break;
            default:
                break;
            }
        }
        lastDev = dev;
    }
    return lastAnswer;
}

// Creates the temporary file beside the target and locks it, so that another
// run cleaning up after a crashed one leaves it alone. The file is created
// with `mode`; `created` receives what fstat says of it (the creation mask and
// the file system have their say over the mode), or stays zeroed when
// unknown. Where a close can report a delayed write error, `out` is closed
// before the rename to see it, and the lock, which goes with the open file,
// not with the descriptor, is kept by a second descriptor, `lock`; elsewhere
// `lock` stays empty and `out` holds the lock up to the rename.
bool CreateTemporary(int folder, std::string_view name, mode_t mode, std::string& temp, Fd& out,
                     Fd& lock, struct stat& created) {
    created = {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = TempName(name);
        out = Fd(::openat(folder, temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!out.valid()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (::flock(out.get(), LOCK_EX | LOCK_NB) == 0) {
            // A cleaner may have removed the new file between its creation
            // and the lock: then the file has no name left (and another file
            // may carry it by now), so start again. A file that still has a
            // name has the one it was created with (cleaners only remove);
            // only when the count says none is the name looked up, as a
            // few FUSE file systems count no names at all.
            if (::fstat(out.get(), &created) != 0 ||
                (created.st_nlink == 0 && !NameIsFile(folder, temp, out.get(), created))) {
                created = {};
                out.reset();
                continue;
            }
        } else if (errno == EWOULDBLOCK) {
            out.reset(); // a cleaner holds it and removes it
            continue;
        }
        // Without flock on this file system (some FUSE and network ones) the
        // copy goes on unlocked; a cleaner there leaves unlockable files alone.
        if (CloseMayFail(out.get(), created.st_dev))
            lock = Fd(::fcntl(out.get(), F_DUPFD_CLOEXEC, 0));
        return true;
    }
    return false;
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

CopyOutcome Fail(CopyResult result, int text, std::string_view path, std::string_view error) {
    CopyOutcome out;
    out.result = result;
    out.messageLine = Msg(text);
    out.messageLine += path;
    out.error = error;
    return out;
}

std::string SystemError(int error = errno) {
    return std::strerror(error);
}

// Where the source holds data. A file that takes fewer blocks than its size
// has holes (the test `cp --sparse=auto` makes); then only its data are
// moved, and a hole is skipped in both files, which leaves a hole in the copy
// where the target's file system has them and zeros where it has not. Other
// files are moved as one piece, without a look for holes.
class DataMap {
public:
    DataMap(int in, int out, const struct stat& st)
        : in_(in), out_(out), sparse_(st.st_blocks * 512 < st.st_size) {}

    // Before moving data at `position`: jumps over a hole there (moving both
    // file offsets; `hole` = its length) and gives the end of the data that
    // follow, at most `size`. False on a failed seek.
    bool Next(std::int64_t& position, std::int64_t size, std::int64_t& dataEnd,
              std::int64_t& hole) {
        hole = 0;
        if (!sparse_ || position < dataEnd_) {
            dataEnd = sparse_ ? std::min(dataEnd_, size) : size;
            return true;
        }
        off_t data = ::lseek(in_, position, SEEK_DATA);
        if (data < 0) {
            if (errno != ENXIO) {
                // No hole support here (an old FUSE file system): all data.
                sparse_ = false;
                dataEnd = size;
                return ::lseek(in_, position, SEEK_SET) == position;
            }
            data = size; // only a hole up to the end
        }
        data = std::min<off_t>(data, size);
        off_t end = data < size ? ::lseek(in_, data, SEEK_HOLE) : size;
        if (end < 0 || end > size)
            end = size;
        if (::lseek(in_, data, SEEK_SET) != data || ::lseek(out_, data, SEEK_SET) != data)
            return false;
        holes_ |= data > position;
        hole = data - position;
        position = data;
        dataEnd_ = dataEnd = end;
        return true;
    }
    // A copy that ends with a hole has not written its last bytes: give it
    // its size.
    bool Finish(std::int64_t size) const { return !holes_ || ::ftruncate(out_, size) == 0; }

private:
    int in_;
    int out_;
    bool sparse_;
    bool holes_ = false;
    std::int64_t dataEnd_ = -1;
};

// The data transfer into the temporary file. Copies `size` bytes, the size the
// source had when it was opened, so a file that grows meanwhile is copied as
// a consistent prefix (which the check after the transfer then refuses) and
// one that shrinks ends as a short transfer.
enum class End { Complete, Error, Short, Cancelled, SourceChanged };

End Transfer(int in, int out, const struct stat& st, std::int32_t limit, const HookSet& hooks) {
    const FileIoCalls& io = CurrentFileIo();
    const std::int64_t size = st.st_size;
    DataMap map(in, out, st);
    std::int64_t position = 0;
    std::int64_t dataEnd = 0;
    std::int64_t hole = 0;
    // Holes cost no time and no allowance; they count as done.
    auto skipHole = [&]() {
        if (!map.Next(position, size, dataEnd, hole))
            return false;
        if (hole > 0) {
            hooks.onChunk(hole, position, size);
            hooks.pump();
        }
        return true;
    };
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
            if (position < size && !skipHole())
                return End::Error;
            const std::int64_t chunk = std::min(kLimitedStep, dataEnd - position);
            if (chunk <= 0)
                return map.Finish(size) ? End::Complete : End::Error;
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
        if (!skipHole())
            return End::Error;
        if (position >= size)
            break;
        const std::int64_t chunk = std::min(step, dataEnd - position);
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
    return map.Finish(size) ? End::Complete : End::Error;
}

// The file is still as it was when the copy began: a source written to
// meanwhile may have given the copy old and new parts (or only the first
// bytes of a file that grew).
bool SourceUnchanged(int in, const struct stat& before) {
    struct stat now {};
    return ::fstat(in, &now) == 0 && now.st_size == before.st_size &&
           now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
}

// Opens the source for reading: relative to its root, no folder below the
// root may be a link (one swapped in since the scan would lead outside); a
// link as the file's own name counts as the file it points to.
Fd OpenSource(const CopyRequest& request) {
    // O_NONBLOCK keeps a FIFO from hanging the run; it changes nothing for files.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (request.sourceRoot.empty())
        return Fd(::open(request.source.c_str(), kFlags));
    Below below;
    if (!SplitBelowRoot(request.source, request.sourceRoot, below))
        return Fd();
    // The usual case in one call: a path without any link (the path has no
    // ".." below the root, so it stays below it), below the open root or
    // whole. A link anywhere, the file's own name included, or a kernel
    // without openat2, takes the way through the folder below.
    open_how how{};
    how.flags = kFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const int rootFd = request.sourceRootFd;
    if (rootFd >= 0)
        how.resolve |= RESOLVE_BENEATH;
    // below.rel is the tail of the source's path, so it ends the string.
    const char* path = rootFd >= 0 ? below.rel.data() + 1 : request.source.c_str();
    if (const long fd =
            CurrentFileIo().openat2(rootFd >= 0 ? rootFd : AT_FDCWD, path, &how, sizeof how);
        fd >= 0)
        return Fd(static_cast<int>(fd));
    Fd folder = OpenFolderBelow(rootFd, request.sourceRoot, below, false);
    if (!folder.valid())
        return Fd();
    const std::string name(below.name);
    return Fd(::openat(folder.get(), name.c_str(), kFlags));
}

enum class Replace { Done, Changed, Failed, SetAsideFailed };

// How a finished temporary file takes its target's name: with the kernel's
// renames on a local or mounted folder, through the share's daemon for a
// copy written there.
class TargetRename {
public:
    virtual ~TargetRename() = default;
    // Into a name that must be free: atomic where possible, else after a look.
    virtual Replace IntoFree() = 0;
    // Over whatever file stands there.
    virtual Replace Over() = 0;
};

class KernelRename final : public TargetRename {
public:
    KernelRename(int folder, const std::string& temp, const std::string& name)
        : folder_(folder), temp_(temp), name_(name) {}
    Replace IntoFree() override {
        const int error = RenameIntoFree(folder_, temp_.c_str(), folder_, name_.c_str());
        if (error == 0)
            return Replace::Done;
        if (error == EEXIST)
            return Replace::Changed;
        errno = error;
        return Replace::Failed;
    }
    Replace Over() override {
        return ::renameat(folder_, temp_.c_str(), folder_, name_.c_str()) == 0 ? Replace::Done
                                                                               : Replace::Failed;
    }

private:
    int folder_;
    const std::string& temp_;
    const std::string& name_;
};

// The share's daemon refuses a taken name itself; a rename over a file
// removes that file first and is not atomic.
class ShareRename final : public TargetRename {
public:
    ShareRename(const std::string& tempPath, const std::string& target, std::string& why)
        : tempPath_(tempPath), target_(target), why_(why) {}
    Replace IntoFree() override { return Moved(MoveShareFile(tempPath_, target_, false, why_)); }
    Replace Over() override {
        replaced = true;
        return Moved(MoveShareFile(tempPath_, target_, true, why_));
    }
    bool replaced = false; // Over() was tried

private:
    static Replace Moved(ShareMove m) {
        switch (m) {
        case ShareMove::Done:
            return Replace::Done;
        case ShareMove::Exists:
            return Replace::Changed;
        case ShareMove::Failed:
            break;
        }
        return Replace::Failed;
    }
    const std::string& tempPath_;
    const std::string& target_;
    std::string& why_;
};

// Puts the finished temporary file in the target's place: the one step of a
// copy that destroys the old target, so it happens only while the target is
// still what the scan saw (or, for a new target, while there is none). With
// a set-aside the old target is moved there first, and the copy then takes a
// free name, so no version is ever lost.
Replace ReplaceTarget(int folder, const std::string& name, const std::optional<ScanView>& seen,
                      SetAside* aside, const std::string& root, std::string_view rel,
                      std::string& why, TargetRename& rename) {
    if (seen && !seen->present)
        return rename.IntoFree();
    const Recheck now = seen ? RecheckAgainstScan(folder, name.c_str(), *seen) : Recheck::Same;
    if (now == Recheck::Changed)
        return Replace::Changed;
    if (aside) {
        // Without a scan of the target (-C) whatever file stands there is
        // kept; a folder there makes the rename fail below.
        struct stat st {};
        const bool there = seen ? now == Recheck::Same && seen->present
                                : ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                      !S_ISDIR(st.st_mode);
        if (there && !aside->Put(folder, name, root, rel, why))
            return Replace::SetAsideFailed;
        // Whatever stood there is kept or was gone: the copy takes the free
        // name and never replaces a file that came since.
        return rename.IntoFree();
    }
    return rename.Over();
}

// A source that ended early without an error: counted as a copy error, but
// there is no error to report.
CopyOutcome ShortCopy() {
    CopyOutcome out;
    out.result = CopyResult::CopyError;
    out.error = "the source ended before its size";
    return out;
}

// The outcome of a copy whose temporary file took the target's place, or was
// kept out of it (and removed with `discard`); nothing for a failed rename,
// which the caller reports.
std::optional<CopyOutcome> PlacedOrKept(Replace placed, const CopyRequest& request,
                                        const CopyHooks& hooks, const std::string& why,
                                        const std::function<void()>& discard) {
    switch (placed) {
    case Replace::Done:
        return CopyOutcome{};
    case Replace::Changed:
        discard();
        return Fail(CopyResult::TargetChanged, 239, request.target, kChangedSinceScan);
    case Replace::SetAsideFailed: {
        discard();
        CopyOutcome kept;
        kept.result = CopyResult::SetAsideFailed;
        kept.messageLine = MsgFill(hooks.setAside->FailureText(), why) + request.target;
        kept.error = why;
        return kept;
    }
    case Replace::Failed:
        break;
    }
    return std::nullopt;
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

// Whether copies into `folder` can go to the share's daemon directly; asked
// once per folder and thread, as consecutive copies mostly share a folder.
bool DirectToShare(std::string_view folder) {
    thread_local std::string last;
    thread_local bool lastAnswer = false;
    if (folder != last) {
        last = folder;
        lastAnswer = ReachesShareDirectly(last);
    }
    return lastAnswer;
}

// A small copy onto an SMB share through the share's daemon (see
// ShareFile.h): the source read whole, the temporary file created, written,
// closed and given its time there, then renamed into the target's place.
CopyOutcome CopyOntoShare(const CopyRequest& request, const CopyHooks& rawHooks,
                          const HookSet& hooks, int in, const struct stat& st, int folder,
                          const Below& below, const std::string& name) {
    if (hooks.cancelled())
        return Fail(CopyResult::Cancelled, 49, below.rel, "cancelled");
    const FileIoCalls& io = CurrentFileIo();
    const auto size = static_cast<std::size_t>(st.st_size);
    if (ioBuffer.size() < size)
        ioBuffer.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = io.read(in, ioBuffer.data() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(CopyResult::CopyError, 50, below.rel, SystemError());
        if (n == 0)
            return ShortCopy();
        got += static_cast<std::size_t>(n);
    }
    if (!SourceUnchanged(in, st))
        return Fail(CopyResult::SourceChanged, 238, request.source, kChangedWhileCopied);

    const std::string dir(below.folderPath);
    std::string tempPath;
    std::string error;
    ShareWrite written = ShareWrite::Exists;
    for (int attempt = 0; attempt < 100 && written == ShareWrite::Exists; ++attempt) {
        tempPath = dir + '/' + TempName(name);
        written =
            WriteShareFile(tempPath, std::string_view(ioBuffer.data(), size), st.st_mtim, error);
    }
    if (written == ShareWrite::WriteFailed)
        return Fail(CopyResult::CopyError, 50, below.rel, error);
    if (written != ShareWrite::Done)
        return Fail(CopyResult::TargetCreateFailed, 47, request.target, error);
    if (size > 0)
        hooks.onChunk(st.st_size, st.st_size, st.st_size);

    std::string why;
    ShareRename rename(tempPath, request.target, why);
    const Replace placed = ReplaceTarget(folder, name, request.targetSeen, rawHooks.setAside,
                                         request.targetRoot, below.rel, why, rename);
    if (std::optional<CopyOutcome> out =
            PlacedOrKept(placed, request, rawHooks, why, [&] { RemoveShareFile(tempPath); }))
        return *out;
    // The share's rename over a file removes that file first: when the rename
    // then failed, the old target may be gone and the temporary file holds
    // the only copy. It takes the free name if it can, and stays otherwise.
    if (rename.replaced && !ShareFileExists(request.target)) {
        std::string again;
        if (MoveShareFile(tempPath, request.target, false, again) == ShareMove::Done)
            return {};
        why += "; the new copy is kept as " + tempPath;
    } else {
        RemoveShareFile(tempPath);
    }
    return Fail(CopyResult::TargetCreateFailed, 47, request.target, why);
}

} // namespace

//  open source ──► open (create) target folder ──► create .name.duplora-tmp-XXXXXXXX
//       │                                               │ (locked)
//    result 1                                  transfer, mode, times
//                                                        │
//                              source unchanged? target still as scanned?
//                                                        │
//                                   rename over the target (or unlink the temp)
CopyOutcome CopyOneFile(const CopyRequest& request, const CopyHooks& rawHooks) {
    const HookSet hooks(rawHooks);
    // The source first, so that a vanished source leaves no new folders behind.
    Fd in = OpenSource(request);
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0)
        return Fail(CopyResult::SourceOpenFailed, 48, request.source, SystemError());
    if (!S_ISREG(st.st_mode))
        return Fail(CopyResult::SourceOpenFailed, 48, request.source, "not a regular file");

    Below below;
    if (!SplitBelowRoot(request.target, request.targetRoot, below))
        return Fail(CopyResult::TargetCreateFailed, 47, request.target,
                    "not below the folder of its side");
    Fd folder = OpenFolderBelow(request.targetRootFd, request.targetRoot, below, true);
    if (!folder.valid())
        return Fail(CopyResult::TargetCreateFailed, 47, request.target, SystemError());
    const std::string name(below.name);
    // A folder in the target's place makes the rename fail anyway; for a
    // large file one look first saves copying it for nothing. Small files
    // skip it: 100,000 of them would pay one more call each.
    struct stat old {};
    if (st.st_size >= kAdviseFrom &&
        ::fstatat(folder.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(old.st_mode))
        return Fail(CopyResult::TargetCreateFailed, 47, request.target, SystemError(EISDIR));

    if (request.remoteTarget && request.speedLimitKBps == 0 && st.st_size < kAdviseFrom &&
        DirectToShare(below.folderPath))
        return CopyOntoShare(request, rawHooks, hooks, in.get(), st, folder.get(), below, name);

    std::string temp;
    Fd out;
    Fd lock;
    // Created with the source's permission bits (and writable by its owner,
    // so a cancelled copy can still be cut down), which the creation mask
    // usually leaves as they are: then no separate mode change is needed.
    // That saves a call per file, and on a share that refuses mode changes
    // (GVfs) a refused round trip.
    const mode_t wantMode = st.st_mode & 0777;
    struct stat created {};
    if (!CreateTemporary(folder.get(), name, wantMode | S_IWUSR, temp, out, lock, created))
        return Fail(CopyResult::TargetCreateFailed, 47, request.target, SystemError());

    const bool closeFirst = request.remoteTarget || CloseMayFail(out.get(), created.st_dev);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    End end = Transfer(in.get(), out.get(), st, request.speedLimitKBps, hooks);
    int transferError = errno;
    if (end == End::Complete && !SourceUnchanged(in.get(), st))
        end = End::SourceChanged;
    if (end == End::Complete) {
        // Mode and times go onto the open temporary file: the target never
        // shows a wrong time, and a read-only mode cannot hinder the rename
        // (that needs write permission on the folder only). Only the nine
        // permission bits are copied: set-user-ID on a copy now owned by
        // whoever runs the sync would hand that user's rights to the source's
        // owner. Failures here are left alone, as the copy itself is good.
        if (NeedsModeChange(created, wantMode) && ::fchmod(out.get(), wantMode) != 0)
            NoteModeRefusal(created, errno);
        if (!request.remoteTarget)
            ::futimens(out.get(), times);
        // No fsync: it would cost a disk flush per file (100,000 small files
        // take minutes instead of seconds). The rename happens only after all
        // data were written, so a failure while running never shows; after a
        // crash ext4, XFS and btrfs flush a file renamed over another one
        // before the rename itself, and at worst a new file comes back empty
        // or a hidden temporary file stays behind (the next run removes it).
        // Where a close can report a delayed write error (a network or FUSE
        // file system), the file is closed before the rename to see it and
        // the lock's own descriptor keeps it locked; on a disk file system
        // the one descriptor stays open, and locked, up to the rename.
        if (closeFirst && !out.close()) {
            end = End::Error;
            transferError = errno;
        }
    }
    if (closeFirst)
        out.reset();
    if (end == End::Complete && request.remoteTarget) {
        // The server keeps the time set on a file only once no handle that
        // wrote it is open: the lock's descriptor is such a handle, so it
        // goes first. The file stays unlocked for the two calls up to the
        // rename; a cleaner in another run that takes it meanwhile makes the
        // rename fail (the copy counts as failed, the target is untouched).
        lock.reset();
        ::utimensat(folder.get(), temp.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    if (end == End::Complete) {
        std::string why;
        KernelRename rename(folder.get(), temp, name);
        const Replace placed =
            ReplaceTarget(folder.get(), name, request.targetSeen, rawHooks.setAside,
                          request.targetRoot, below.rel, why, rename);
        if (std::optional<CopyOutcome> out = PlacedOrKept(
                placed, request, rawHooks, why, [&] { ::unlinkat(folder.get(), temp.c_str(), 0); }))
            return *out;
        const std::string error = SystemError(); // of the failed rename
        ::unlinkat(folder.get(), temp.c_str(), 0);
        return Fail(CopyResult::TargetCreateFailed, 47, request.target, error);
    }
    DiscardTemporary(folder.get(), temp, hooks);
    switch (end) {
    case End::Cancelled:
        return Fail(CopyResult::Cancelled, 49, below.rel, "cancelled");
    case End::Error:
        return Fail(CopyResult::CopyError, 50, below.rel, SystemError(transferError));
    case End::SourceChanged:
        return Fail(CopyResult::SourceChanged, 238, request.source, kChangedWhileCopied);
    default:
        break;
    }
    return ShortCopy();
}

DeleteOutcome DeleteOneFile(const std::string& path, const std::string& root, const ScanView* seen,
                            SetAside* setAside) {
    DeleteOutcome out;
    Below below;
    if (!SplitBelowRoot(path, root, below)) {
        out.messageLine = Msg(52) + path;
        out.error = "not below the folder of its side";
        return out;
    }
    Fd folder = OpenFolderBelow(root, below, false);
    const std::string name(below.name);
    if (folder.valid() && seen &&
        RecheckAgainstScan(folder.get(), name.c_str(), *seen) == Recheck::Changed) {
        out.changed = true;
        out.messageLine = Msg(239) + path;
        out.error = kChangedSinceScan;
        return out;
    }
    if (folder.valid() && setAside) {
        std::string why;
        out.ok = setAside->Put(folder.get(), name, root, below.rel, why);
        if (!out.ok) {
            out.messageLine = MsgFill(setAside->FailureText(), why) + path;
            out.error = why;
        }
        return out;
    }
    // unlinkat removes a link itself, never what it points to. The file's
    // mode is left alone: on Linux only the folder's permissions decide
    // whether a name can be removed, so a read-only file goes without being
    // made writable first, and its other hard links (if any) keep their mode.
    if (folder.valid() && ::unlinkat(folder.get(), name.c_str(), 0) == 0) {
        out.ok = true;
        return out;
    }
    out.error = SystemError();
    out.messageLine = Msg(52) + path;
    return out;
}

LeftoverResult RemoveLeftoverTemporary(const std::string& root, std::string_view rel) {
    const std::string path = root + std::string(rel);
    Below below;
    if (!SplitBelowRoot(path, root, below))
        return LeftoverResult::Failed;
    Fd folder = OpenFolderBelow(root, below, false);
    if (!folder.valid())
        return LeftoverResult::Failed;
    const std::string name(below.name);
    Fd fd(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return LeftoverResult::Failed;
    // A writer holds the lock from creation to rename; a file system without
    // flock gives no answer, and a file that might be in use stays.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? LeftoverResult::InUse : LeftoverResult::Failed;
    // Still the file just locked (not renamed away and replaced meanwhile).
    if (!NameIsFile(folder.get(), name, fd.get()))
        return LeftoverResult::InUse;
    return ::unlinkat(folder.get(), name.c_str(), 0) == 0 ? LeftoverResult::Removed
                                                          : LeftoverResult::Failed;
}

} // namespace duplora

#include "sync/setaside/Trash.h"

#include "platform/Utf8.h"

#include "sync/fs/FileIo.h"
#include "tasks/TextTable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duplora {

namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";
// NAME.trashinfo must fit in 255 bytes with room for ".NNNNNNN".
constexpr std::size_t kLongestBase = 255 - kInfoSuffix.size() - 8;
constexpr int kMostTries = 1000000;

bool Unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("-_.!~*'()/", c) != nullptr;
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A name cut to `max` bytes, not inside a UTF-8 sequence when it is UTF-8.
std::string CutName(const std::string& name, std::size_t max) {
    return std::string(Utf8PrefixOrBytes(name, max));
}

std::string Unusable(int error) {
    return Msg(209) + (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
}

} // namespace

std::string HomeTrashFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/Trash";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.local/share/Trash";
    return {};
}

std::string TrashPathEncode(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() + 16);
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (Unreserved(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string TrashDateText(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

Trash::Trash(std::function<std::time_t()> clock,
             std::function<const char*(const char*)> environment)
    : clock_(std::move(clock)), env_(std::move(environment)) {
    if (!env_)
        env_ = [](const char* name) -> const char* { return std::getenv(name); };
}

bool Trash::openParts(Bin& bin, Fd trash) {
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    for (const char* part : {"files", "info"}) {
        if (::mkdirat(trash.get(), part, 0700) != 0 && errno != EEXIST) {
            bin.why = Unusable(errno);
            return false;
        }
        Fd fd(::openat(trash.get(), part, kFlags));
        struct stat st {};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_dev != bin.dev) {
            bin.why = Unusable(fd.valid() ? EXDEV : errno);
            return false;
        }
        (part[0] == 'f' ? bin.files : bin.info) = std::move(fd);
    }
    return true;
}

void Trash::openHome(Bin& bin) {
    std::string data;
    const char* xdg = env_("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        data = xdg;
    } else if (const char* home = env_("HOME"); home && home[0] == '/') {
        data = std::string(home) + "/.local/share";
    } else {
        bin.why = Unusable(0);
        return;
    }
    while (data.size() > 1 && data.back() == '/')
        data.pop_back();
    // The data folder and its parents as any program makes them; the trash
    // itself private.
    for (std::size_t pos = 1; pos <= data.size(); ++pos)
        if (pos == data.size() || data[pos] == '/')
            ::mkdir(data.substr(0, pos).c_str(), 0700);
    const std::string folder = data + "/Trash";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        bin.why = Unusable(errno);
        return;
    }
    Fd trash(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!trash.valid()) {
        bin.why = Unusable(errno);
        return;
    }
    if (openParts(bin, std::move(trash)))
        bin.folder = folder;
}

void Trash::openTop(Bin& bin, const std::string& path) {
    // The top of the volume: the highest folder above the file still on its
    // device, found on the path without links so that it is the mount point.
    char real[PATH_MAX];
    if (::realpath(Folder(path).c_str(), real) == nullptr) {
        bin.why = Unusable(errno);
        return;
    }
    std::string top = real;
    struct stat st {};
    if (::stat(top.c_str(), &st) != 0 || st.st_dev != bin.dev) {
        bin.why = Unusable(EXDEV);
        return;
    }
    while (top != "/") {
        const std::string up = Folder(top);
        if (::stat(up.c_str(), &st) != 0 || st.st_dev != bin.dev)
            break;
        top = up;
    }
    const std::string uid = std::to_string(::getuid());
    const std::string base = top == "/" ? "" : top;
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const auto ours = [&bin](const Fd& fd) {
        struct stat own {};
        return fd.valid() && ::fstat(fd.get(), &own) == 0 && own.st_uid == ::getuid() &&
               own.st_dev == bin.dev;
    };
    // $topdir/.Trash, shared by the users of the volume: only when an
    // administrator made it a real folder with the sticky bit.
    const std::string shared = base + "/.Trash";
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const std::string mine = shared + "/" + uid;
        ::mkdir(mine.c_str(), 0700);
        Fd fd(::open(mine.c_str(), kFlags));
        if (ours(fd) && openParts(bin, std::move(fd))) {
            bin.folder = mine;
            bin.top = top;
            return;
        }
    }
    const std::string own = base + "/.Trash-" + uid;
    if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) {
        bin.why = Unusable(errno);
        return;
    }
    Fd fd(::open(own.c_str(), kFlags));
    if (!ours(fd)) {
        bin.why = Unusable(fd.valid() ? EPERM : errno);
        return;
    }
    bin.why.clear();
    if (openParts(bin, std::move(fd))) {
        bin.folder = own;
        bin.top = top;
    }
}

Trash::Bin& Trash::binFor(dev_t dev, const std::string& path) {
    for (Bin& bin : bins_)
        if (bin.dev == dev)
            return bin;
    Bin& bin = bins_.emplace_back();
    bin.dev = dev;
    // The home trash is on this device when the folder it is (or would be)
    // in is: the nearest existing folder on its way.
    std::string data;
    if (const char* xdg = env_("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        data = xdg;
    else if (const char* home = env_("HOME"); home && home[0] == '/')
        data = std::string(home) + "/.local/share";
    std::string probe = data.empty() ? std::string() : data + "/Trash";
    struct stat st {};
    while (!probe.empty() && ::stat(probe.c_str(), &st) != 0)
        probe = probe == "/" ? std::string() : Folder(probe);
    if (!probe.empty() && st.st_dev == dev)
        openHome(bin);
    else
        openTop(bin, path);
    return bin;
}

std::string Trash::FolderFor(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    const std::lock_guard<std::mutex> hold(lock_);
    return binFor(st.st_dev, path).folder;
}

Trash::~Trash() {
    Settle();
}

Trash::Bin* Trash::usableBin(dev_t dev) {
    for (Bin& bin : bins_)
        if (bin.dev == dev)
            return bin.folder.empty() ? nullptr : &bin;
    return nullptr;
}

std::string Trash::infoPath(const Bin& bin, const std::string& original) {
    if (bin.top.empty())
        return original;
    // Relative to the volume's top, so that the volume mounted elsewhere
    // restores to the same place on it: the real path of the file's folder
    // (its links resolved, as the top was found), asked once per folder.
    const std::size_t slash = original.rfind('/');
    const std::string folder = slash == 0 ? "/" : original.substr(0, slash);
    std::string real;
    {
        const std::lock_guard<std::mutex> hold(realLock_);
        if (folder != realKey_) {
            char buffer[PATH_MAX];
            realKey_ = folder;
            realValue_ = ::realpath(folder.c_str(), buffer) ? buffer : "";
        }
        real = realValue_;
    }
    if (real.empty())
        return original;
    if (real != "/")
        real += '/';
    real += original.substr(slash + 1);
    const std::string under = bin.top == "/" ? "/" : bin.top + "/";
    if (real.compare(0, under.size(), under) != 0)
        return original; // not below the top after all: the full path
    return real.substr(under.size());
}

bool Trash::reserve(Bin& bin, const std::string& base, const std::string& original,
                    const std::string& date, std::string& entry) {
    const std::string shown = infoPath(bin, original);
    std::string info = "[Trash Info]\nPath=";
    info.reserve(shown.size() + 64);
    info += TrashPathEncode(shown);
    info += "\nDeletionDate=";
    info += date;
    info += '\n';
    for (int tries = 0; tries < kMostTries; ++tries) {
        // Only names found taken are remembered: a name seen the first time
        // costs a lookup, not an entry.
        int number = 1;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            const auto found = bin.taken.find(base);
            if (found != bin.taken.end())
                number = found->second++;
            else if (tries > 0)
                number = bin.taken.emplace(base, 3).first->second - 1;
        }
        entry = number == 1 ? base : base + "." + std::to_string(number);
        const std::string infoName = entry + std::string(kInfoSuffix);
        // The exclusive creation reserves NAME among every program that
        // trashes by the same rules.
        Fd fd(::openat(bin.info.get(), infoName.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = WriteAll(KernelFileIo(), fd.get(), info.data(), info.size());
        const int writeError = errno;
        if (!fd.close() || !written) {
            ::unlinkat(bin.info.get(), infoName.c_str(), 0);
            errno = written ? EIO : writeError;
            return false;
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

void Trash::markTaken(Bin& bin, const std::string& base, const std::string& entry) {
    const int number = entry.size() == base.size() ? 1 : std::atoi(entry.c_str() + base.size() + 1);
    const std::lock_guard<std::mutex> hold(lock_);
    int& next = bin.taken.try_emplace(base, 2).first->second;
    next = std::max(next, number + 1);
}

int Trash::place(int folderFd, const std::string& name, const Bin& bin, const std::string& entry) {
    return RenameIntoFree(folderFd, name.c_str(), bin.files.get(), entry.c_str());
}

void Trash::removeInfo(const Bin* bin, const std::string& entry) {
    if (bin != nullptr)
        ::unlinkat(bin->info.get(), (entry + std::string(kInfoSuffix)).c_str(), 0);
}

namespace {

// How far the info files may run ahead of the renames: enough to ride over
// a slow file, few enough that a crash leaves at most that many info files
// without their file (which file managers skip).
constexpr std::size_t kMostAhead = 64;
// Fewer announced files than this are not worth a thread.
constexpr std::size_t kFewestAhead = 16;
// An info file written this long before its rename gets the time of the
// rename instead (a long copy ran in between).
constexpr std::time_t kStaleAfter = 60;

} // namespace

void Trash::passAhead(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        Ahead& a = ahead_[i];
        if (a.state == Ahead::Ready)
            removeInfo(a.bin, a.entry);
        // One being written is removed by the worker when it is done.
        if (a.state != Ahead::Working)
            a.state = Ahead::Done;
        else
            a.state = Ahead::Passed;
    }
}

bool Trash::takeAhead(const std::string& original, Ahead& got) {
    std::unique_lock<std::mutex> hold(lock_);
    if (cursor_ >= expected_.size())
        return false;
    // Files come in the announced order; one that was passed over (changed
    // since the scan, failed) sends the search through the index.
    std::size_t at = cursor_;
    if (expected_[at] != original) {
        if (position_.empty())
            for (std::size_t i = 0; i < expected_.size(); ++i)
                position_.emplace(expected_[i], i);
        const auto found = position_.find(original);
        if (found == position_.end() || found->second < cursor_)
            return false;
        at = found->second;
    }
    passAhead(cursor_, at);
    cursor_ = at + 1;
    if (workerWaits_ && waitingAt_ < cursor_ + kMostAhead / 2)
        changed_.notify_all();
    Ahead& a = ahead_[at];
    if (a.state == Ahead::Waiting) {
        a.state = Ahead::Done; // not reached yet: written here instead
        return false;
    }
    changed_.wait(hold, [&a] { return a.state != Ahead::Working; });
    if (a.state != Ahead::Ready)
        return false;
    a.state = Ahead::Done;
    got = std::move(a);
    return true;
}

void Trash::workAhead() {
    std::string folder; // with its last '/'
    dev_t dev = 0;
    bool known = false;
    std::time_t dated = -1;
    std::string date;
    for (std::size_t k = 0; k < expected_.size(); ++k) {
        const std::string& original = expected_[k];
        const std::size_t slash = original.rfind('/');
        if (std::string_view(original).substr(0, slash + 1) != folder) {
            // The file's device by its path, only to pick the trash: Put()
            // checks the choice against the folder it really opened.
            struct stat st {};
            folder = original.substr(0, slash + 1);
            known = ::stat(folder.c_str(), &st) == 0;
            dev = st.st_dev;
        }
        Bin* bin = nullptr;
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (!stop_ && k >= cursor_ + kMostAhead) {
                // Far enough ahead: sleep until half the window is free, so
                // the renames wake this thread once per many files.
                workerWaits_ = true;
                waitingAt_ = k;
                changed_.wait(hold, [&] { return stop_ || k < cursor_ + kMostAhead / 2; });
                workerWaits_ = false;
            }
            if (stop_)
                return;
            if (k < cursor_ || ahead_[k].state != Ahead::Waiting)
                continue;
            // A volume's trash is opened by the first Put() on it, never here.
            bin = known ? usableBin(dev) : nullptr;
            if (bin == nullptr) {
                ahead_[k].state = Ahead::Done;
                continue;
            }
            ahead_[k].state = Ahead::Working;
        }
        const std::string base = CutName(original.substr(slash + 1), kLongestBase);
        const std::time_t when = clock_ ? clock_() : std::time(nullptr);
        if (when != dated) {
            dated = when;
            date = TrashDateText(when);
        }
        std::string entry;
        const bool ok = reserve(*bin, base, original, date, entry);
        const std::lock_guard<std::mutex> hold(lock_);
        Ahead& a = ahead_[k];
        if (ok && a.state == Ahead::Passed)
            removeInfo(bin, entry);
        a.state = ok && a.state == Ahead::Working ? Ahead::Ready : Ahead::Done;
        a.bin = bin;
        a.entry = std::move(entry);
        a.when = when;
        if (k == cursor_ - 1) // Put() waits for this one
            changed_.notify_all();
    }
}

void Trash::Expect(std::vector<std::string> paths) {
    Settle();
    if (paths.size() < kFewestAhead)
        return;
    expected_ = std::move(paths);
    ahead_.assign(expected_.size(), Ahead{});
    cursor_ = 0;
    try {
        worker_ = std::thread([this] { workAhead(); });
    } catch (const std::system_error&) {
        // No thread to be had: every Put() writes its own info file.
        expected_.clear();
        ahead_.clear();
    }
}

void Trash::Settle() {
    if (!worker_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }
    worker_.join();
    passAhead(cursor_, ahead_.size());
    stop_ = false;
    cursor_ = 0;
    position_.clear();
    ahead_.clear();
    expected_.clear();
}

bool Trash::Put(int folderFd, const std::string& name, const std::string& root,
                std::string_view rel, std::string& why) {
    const std::string original = root + std::string(rel);
    // The file's volume is its folder's (a file that is a mount point of its
    // own makes the rename fail with EXDEV, and stays). Files come folder by
    // folder, so the folder's device is looked at once per folder.
    const std::string_view folder =
        std::string_view(original).substr(0, original.size() - name.size());
    if (folder != lastFolder_) {
        struct stat st {};
        if (::fstat(folderFd, &st) != 0) {
            why = std::strerror(errno);
            return false;
        }
        lastFolder_ = folder;
        lastDev_ = st.st_dev;
    }
    Bin* bin = nullptr;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        bin = &binFor(lastDev_, original);
    }
    if (bin->folder.empty()) {
        why = bin->why;
        return false;
    }
    const std::time_t now = clock_ ? clock_() : std::time(nullptr);
    Ahead ready;
    if (takeAhead(original, ready)) {
        // Written for another volume's trash (the path led elsewhere than
        // the folder opened) or long ago: written again below.
        if (ready.bin != bin || now - ready.when > kStaleAfter) {
            removeInfo(ready.bin, ready.entry);
        } else {
            const int error = place(folderFd, name, *bin, ready.entry);
            if (error == 0)
                return true;
            removeInfo(bin, ready.entry);
            if (error != EEXIST) {
                why = std::strerror(error);
                return false;
            }
            markTaken(*bin, CutName(name, kLongestBase), ready.entry);
        }
    }
    const std::string base = CutName(name, kLongestBase);
    const std::string date = TrashDateText(now);
    for (int tries = 0; tries < kMostTries; ++tries) {
        std::string entry;
        if (!reserve(*bin, base, original, date, entry)) {
            why = std::strerror(errno);
            return false;
        }
        const int error = place(folderFd, name, *bin, entry);
        if (error == 0)
            return true;
        removeInfo(bin, entry);
        if (error != EEXIST) {
            why = std::strerror(error);
            return false;
        }
        // files/NAME was there without its info: take the next name.
        markTaken(*bin, base, entry);
    }
    why = std::strerror(EEXIST);
    return false;
}

} // namespace duplora

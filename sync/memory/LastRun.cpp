#include "sync/memory/LastRun.h"

#include "platform/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace duplora {

namespace {

constexpr char kMagic[8] = {'D', 'U', 'P', 'L', 'O', 'R', 'A', 'M'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
// Paths and names longer than this make a record damaged, not a huge read.
constexpr std::uint32_t kMaxText = 64 * 1024;

std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

std::uint64_t Fnv(std::uint64_t h, const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * kFnvPrime;
    return h;
}

// A little-endian value of the record.
template <class T> T Load(const unsigned char* p) {
    std::uint64_t x = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        x = (x << 8) | p[i];
    return static_cast<T>(x);
}

// Reads the record in steps, keeping the check value of what it took.
class Reader {
public:
    explicit Reader(int fd) : fd_(fd) {}
    bool Take(void* out, std::size_t n) {
        auto* dst = static_cast<unsigned char*>(out);
        while (n > 0) {
            if (at_ == end_ && !Fill())
                return false;
            const std::size_t k = std::min(n, end_ - at_);
            std::memcpy(dst, buf_.data() + at_, k);
            sum_ = Fnv(sum_, buf_.data() + at_, k);
            at_ += k;
            dst += k;
            n -= k;
        }
        return true;
    }
    template <class T> bool Value(T& v) {
        unsigned char b[sizeof(T)];
        if (!Take(b, sizeof b))
            return false;
        v = Load<T>(b);
        return true;
    }
    bool Text(std::string& s) {
        std::uint32_t n = 0;
        if (!Value(n) || n > kMaxText)
            return false;
        s.resize(n);
        return Take(s.data(), n);
    }
    // Passes over n bytes, counting them in the check value.
    bool Skip(std::size_t n) {
        while (n > 0) {
            if (at_ == end_ && !Fill())
                return false;
            const std::size_t k = std::min(n, end_ - at_);
            sum_ = Fnv(sum_, buf_.data() + at_, k);
            at_ += k;
            n -= k;
        }
        return true;
    }
    std::uint64_t Sum() const { return sum_; }
    bool AtEnd() { return at_ == end_ && !Fill(); }

private:
    bool Fill() {
        if (buf_.empty())
            buf_.resize(1 << 18);
        for (;;) {
            const ssize_t n = ::read(fd_, buf_.data(), buf_.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            at_ = 0;
            end_ = static_cast<std::size_t>(n);
            return true;
        }
    }
    int fd_;
    std::vector<unsigned char> buf_;
    std::size_t at_ = 0, end_ = 0;
    std::uint64_t sum_ = kFnvOffset;
};

class Writer {
public:
    explicit Writer(int fd) : fd_(fd) { buf_.reserve(1 << 18); }
    void Put(const void* data, std::size_t n) {
        const auto* p = static_cast<const unsigned char*>(data);
        sum_ = Fnv(sum_, p, n);
        buf_.insert(buf_.end(), p, p + n);
        if (buf_.size() >= (1 << 18))
            Flush();
    }
    template <class T> void Value(T v) {
        unsigned char b[sizeof(T)];
        auto x = static_cast<std::uint64_t>(v);
        for (std::size_t i = 0; i < sizeof(T); ++i, x >>= 8)
            b[i] = static_cast<unsigned char>(x & 0xFF);
        Put(b, sizeof b);
    }
    void Text(std::string_view s) {
        Value(static_cast<std::uint32_t>(s.size()));
        Put(s.data(), s.size());
    }
    bool Flush() {
        if (ok_ && !buf_.empty())
            ok_ = WriteAll(::write, fd_, buf_.data(), buf_.size());
        buf_.clear();
        return ok_;
    }
    std::uint64_t Sum() const { return sum_; }

private:
    int fd_;
    std::vector<unsigned char> buf_;
    std::uint64_t sum_ = kFnvOffset;
    bool ok_ = true;
};

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// One file's values and the length of its path, taken in one step.
bool ReadValues(Reader& r, RememberedFile& f, std::uint32_t& pathLength) {
    unsigned char b[36];
    if (!r.Take(b, sizeof b))
        return false;
    f.Key = Load<std::uint64_t>(b);
    f.Size = Load<std::int64_t>(b + 8);
    f.HostAge = Load<std::int32_t>(b + 16);
    f.HostTag = Load<std::uint32_t>(b + 20);
    f.MirrorAge = Load<std::int32_t>(b + 24);
    f.MirrorTag = Load<std::uint32_t>(b + 28);
    pathLength = Load<std::uint32_t>(b + 32);
    return pathLength <= kMaxText;
}

// Reads the header and checks the owner; `count` is the number of files.
MemoryRead ReadHeader(Reader& r, const MemoryOwner& owner, std::int64_t& time,
                      std::uint64_t& count) {
    char magic[8];
    std::uint32_t version = 0;
    std::uint8_t fold = 0;
    std::string name, host, mirror;
    if (!r.Take(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0 ||
        !r.Value(version) || version != kVersion || !r.Value(time) || !r.Value(fold) ||
        !r.Text(name) || !r.Text(host) || !r.Text(mirror) || !r.Value(count))
        return MemoryRead::Damaged;
    if (name != owner.TaskName || host != owner.HostRoot || mirror != owner.MirrorRoot ||
        (fold != 0) != owner.FoldCase)
        return MemoryRead::Foreign;
    return MemoryRead::Ok;
}

// Opens the record; Missing when there is none.
MemoryRead Open(const std::string& path, Fd& fd) {
    fd.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd.fd >= 0)
        return MemoryRead::Ok;
    return errno == ENOENT || errno == ENOTDIR ? MemoryRead::Missing : MemoryRead::Damaged;
}

} // namespace

std::uint64_t PathKey(std::string_view rel, bool foldCase) {
    std::uint64_t h = kFnvOffset;
    for (char c : rel) {
        auto b = static_cast<unsigned char>(c);
        if (foldCase && b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b + ('a' - 'A'));
        h = (h ^ b) * kFnvPrime;
    }
    return Mix(h);
}

std::string MemoryFileOf(const std::string& folder, const MemoryOwner& owner) {
    std::uint64_t h = kFnvOffset;
    for (const std::string* s : {&owner.TaskName, &owner.HostRoot, &owner.MirrorRoot})
        h = Fnv(Fnv(h, s->data(), s->size()), "", 1);
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.state", static_cast<unsigned long long>(Mix(h)));
    std::string path = folder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + name;
}

MemoryRead LastRun::Read(const std::string& path, const MemoryOwner& owner) {
    Files.clear();
    Time = 0;
    Fd fd;
    if (const MemoryRead opened = Open(path, fd); opened != MemoryRead::Ok)
        return opened;
    Reader r(fd.fd);
    std::uint64_t count = 0;
    if (const MemoryRead head = ReadHeader(r, owner, Time, count); head != MemoryRead::Ok)
        return head;
    struct stat st {};
    // Every file takes at least 36 bytes: a count the size cannot hold is
    // damage, not a reason to reserve gigabytes.
    if (::fstat(fd.fd, &st) != 0 || count > static_cast<std::uint64_t>(st.st_size) / 36)
        return MemoryRead::Damaged;
    Files.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        RememberedFile f;
        std::uint32_t length = 0;
        if (!ReadValues(r, f, length) || !r.Skip(length) ||
            (!Files.empty() && f.Key <= Files.back().Key)) {
            Files.clear();
            return MemoryRead::Damaged;
        }
        Files.push_back(f);
    }
    const std::uint64_t expected = r.Sum();
    std::uint64_t sum = 0;
    if (!r.Value(sum) || sum != expected || !r.AtEnd()) {
        Files.clear();
        Files.shrink_to_fit();
        return MemoryRead::Damaged;
    }
    return MemoryRead::Ok;
}

const RememberedFile* LastRun::Find(std::uint64_t key) const {
    const auto it =
        std::lower_bound(Files.begin(), Files.end(), key,
                         [](const RememberedFile& f, std::uint64_t k) { return f.Key < k; });
    return it != Files.end() && it->Key == key ? &*it : nullptr;
}

bool ReadLastRunPaths(const std::string& path, const MemoryOwner& owner,
                      const std::function<void(std::string_view, const RememberedFile&)>& each) {
    Fd fd;
    if (Open(path, fd) != MemoryRead::Ok)
        return false;
    Reader r(fd.fd);
    std::int64_t time = 0;
    std::uint64_t count = 0;
    if (ReadHeader(r, owner, time, count) != MemoryRead::Ok)
        return false;
    std::string rel;
    for (std::uint64_t i = 0; i < count; ++i) {
        RememberedFile f;
        std::uint32_t length = 0;
        if (!ReadValues(r, f, length))
            return false;
        rel.resize(length);
        if (!r.Take(rel.data(), length))
            return false;
        each(rel, f);
    }
    return true;
}

bool WriteLastRun(const std::string& path, const MemoryOwner& owner, std::int64_t time,
                  std::vector<MemoryRef>& entries, const ResolveRef& resolve, std::string& error) {
    std::sort(entries.begin(), entries.end(),
              [](const MemoryRef& a, const MemoryRef& b) { return a.Key < b.Key; });
    // A key met twice would let one file's lookup find the other's values.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t j = i + 1;
        while (j < entries.size() && entries[j].Key == entries[i].Key)
            ++j;
        if (j == i + 1)
            entries[kept++] = entries[i];
        i = j;
    }
    entries.resize(kept);

    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    // The folder and those above it, owner-only: the record names files.
    for (std::size_t at = 1; at <= folder.size(); ++at)
        if (at == folder.size() || folder[at] == '/')
            ::mkdir(folder.substr(0, at).c_str(), 0700);
    const std::string temp = path + ".tmp-" + std::to_string(::getpid());
    Fd fd;
    fd.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd.fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    Writer w(fd.fd);
    w.Put(kMagic, sizeof kMagic);
    w.Value(kVersion);
    w.Value(time);
    w.Value(static_cast<std::uint8_t>(owner.FoldCase ? 1 : 0));
    w.Text(owner.TaskName);
    w.Text(owner.HostRoot);
    w.Text(owner.MirrorRoot);
    w.Value(static_cast<std::uint64_t>(entries.size()));
    RememberedFile v;
    std::string_view rel;
    for (const MemoryRef& e : entries) {
        resolve(e, v, rel);
        w.Value(e.Key);
        w.Value(v.Size);
        w.Value(v.HostAge);
        w.Value(v.HostTag);
        w.Value(v.MirrorAge);
        w.Value(v.MirrorTag);
        w.Text(rel);
    }
    w.Value(w.Sum());
    const bool ok = w.Flush() && ::fsync(fd.fd) == 0;
    const int saved = errno;
    ::close(fd.fd);
    fd.fd = -1;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(ok ? errno : saved);
        ::unlink(temp.c_str());
        return false;
    }
    Fd dir;
    dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd >= 0)
        ::fsync(dir.fd);
    return true;
}

} // namespace duplora

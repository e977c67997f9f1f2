#pragma once
// The data-moving system calls of the file copy, behind one replaceable table
// so tests can make a read fail half-way (EIO) or the Nth write fail (ENOSPC)
// without a failing device. Everything else the copy does (open, rename,
// chmod, ...) goes to the kernel directly, except openat2, which tests turn
// off to check the component-by-component folder walk used without it: real files reproduce those
// faults.

#include <functional>
#include <sys/stat.h>
#include <sys/types.h>

namespace duplora {

struct FileIoCalls {
    std::function<ssize_t(int fd, void* buf, size_t count)> read;
    std::function<ssize_t(int fd, const void* buf, size_t count)> write;
    // Same contract as copy_file_range(2) with null offsets and no flags.
    std::function<ssize_t(int fdIn, int fdOut, size_t count)> copyRange;
    // openat2(2) (Linux 5.6 and later; a sandbox may refuse it with ENOSYS or
    // EPERM). `how` points to a struct open_how of `size` bytes.
    std::function<long(int dirFd, const char* path, const void* how, size_t size)> openat2;
    // openat(2) of a folder by the scanner, so tests can make one unreadable
    // (the tests run as root, which no permission bit stops). With folders
    // read ahead (sync/scan/ListingAhead.h) this and statAt are called from
    // several threads at once: a replacement must allow that.
    std::function<int(int dirFd, const char* path, int flags)> openDir;
    // fstatat(2) of a folder entry by the scanner.
    std::function<int(int dirFd, const char* path, struct stat* st, int flags)> statAt;
};

// The calls the copy uses now (the kernel's unless a test replaced them).
// Writes all of `len` bytes through `io`; false on an error (a write that
// makes no progress counts as one, with errno ENOSPC, its usual cause).
bool WriteAll(const FileIoCalls& io, int fd, const char* data, std::size_t len);

const FileIoCalls& CurrentFileIo();
// The kernel's calls, for a test's replacement to pass through to.
const FileIoCalls& KernelFileIo();

// Replaces the calls while it lives; not thread-safe, meant for tests only.
class ScopedFileIo {
public:
    explicit ScopedFileIo(FileIoCalls calls);
    ~ScopedFileIo();
    ScopedFileIo(const ScopedFileIo&) = delete;
    ScopedFileIo& operator=(const ScopedFileIo&) = delete;

private:
    const FileIoCalls* previous_;
    FileIoCalls calls_;
};

} // namespace duplora

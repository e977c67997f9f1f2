#include "sync/fs/FileIo.h"

#include "platform/WriteAll.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <utility>

namespace duplora {

namespace {

const FileIoCalls kKernel{
    [](int fd, void* buf, size_t count) { return ::read(fd, buf, count); },
    [](int fd, const void* buf, size_t count) { return ::write(fd, buf, count); },
    [](int fdIn, int fdOut, size_t count) {
        return ::copy_file_range(fdIn, nullptr, fdOut, nullptr, count, 0);
    },
    [](int dirFd, const char* path, const void* how, size_t size) {
        return ::syscall(SYS_openat2, dirFd, path, how, size);
    },
    [](int dirFd, const char* path, int flags) { return ::openat(dirFd, path, flags); },
    [](int dirFd, const char* path, struct stat* st, int flags) {
        return ::fstatat(dirFd, path, st, flags);
    },
};

const FileIoCalls* current = &kKernel;

} // namespace

const FileIoCalls& CurrentFileIo() {
    return *current;
}
const FileIoCalls& KernelFileIo() {
    return kKernel;
}

ScopedFileIo::ScopedFileIo(FileIoCalls calls) : previous_(current), calls_(std::move(calls)) {
    // A test may replace only some calls; the others stay the kernel's.
    if (!calls_.read)
        calls_.read = kKernel.read;
    if (!calls_.write)
        calls_.write = kKernel.write;
    if (!calls_.copyRange)
        calls_.copyRange = kKernel.copyRange;
    if (!calls_.openat2)
        calls_.openat2 = kKernel.openat2;
    if (!calls_.openDir)
        calls_.openDir = kKernel.openDir;
    if (!calls_.statAt)
        calls_.statAt = kKernel.statAt;
    current = &calls_;
}

ScopedFileIo::~ScopedFileIo() {
    current = previous_;
}

bool WriteAll(const FileIoCalls& io, int fd, const char* data, std::size_t len) {
    return WriteAll(io.write, fd, data, len);
}

} // namespace duplora

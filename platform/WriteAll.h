#pragma once
// The loop around write(2) that every file of the program needs: a write may
// take fewer bytes than given, or be interrupted by a signal (EINTR).

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace duplora {

// Writes all `size` bytes through `write` (called as write(fd, data, size)
// and answering like write(2)), again after EINTR and short writes. False on
// an error, with errno set; a write that takes nothing (a full device that
// does not say so) stops with ENOSPC rather than looping for ever.
template <class Write>
bool WriteAll(const Write& write, int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace duplora

#include "cli/Interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace duplora::cli {

namespace {

// Set by the signal handler, read also by the scheduler's timer thread: a
// lock-free atomic serves both (a volatile sig_atomic_t is safe for the
// handler only, not between threads).
std::atomic<int> gInterrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The pipe that wakes WaitForInterrupt: the handler writes, the waiter
// polls the read end. -1 until InstallInterruptHandler made it.
int gWakeRead = -1;
int gWakeWrite = -1;

void OnInterrupt(int) {
    gInterrupted.store(1, std::memory_order_relaxed);
    if (gWakeWrite >= 0) {
        const int saved = errno; // write() may change it under the interrupted code
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(gWakeWrite, &byte, 1);
        errno = saved;
    }
}

} // namespace

void InstallInterruptHandler() {
    int fds[2];
    if (gWakeRead < 0 && ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        gWakeRead = fds[0];
        gWakeWrite = fds[1];
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() {
    return gInterrupted.load(std::memory_order_relaxed) != 0;
}

void SetInterruptRequested(bool on) {
    gInterrupted.store(on ? 1 : 0, std::memory_order_relaxed);
}

bool WaitForInterrupt(std::chrono::steady_clock::time_point until) {
    using namespace std::chrono;
    for (;;) {
        if (InterruptRequested())
            return true;
        const auto now = steady_clock::now();
        if (now >= until)
            return false;
        // Rounded up, so the wake-up is never early and never a spin of
        // zero-length polls.
        auto wait = ceil<milliseconds>(until - now);
        if (gWakeRead < 0)
            wait = std::min(wait, milliseconds(100));
        pollfd fd{gWakeRead, POLLIN, 0};
        const int rc = ::poll(gWakeRead >= 0 ? &fd : nullptr, gWakeRead >= 0 ? 1 : 0,
                              static_cast<int>(wait.count()));
        if (rc > 0) {
            char drain[16];
            while (::read(gWakeRead, drain, sizeof drain) > 0) {
            }
        }
    }
}

} // namespace duplora::cli

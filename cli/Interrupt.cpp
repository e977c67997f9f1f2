#include "cli/Interrupt.h"

#include <atomic>
#include <csignal>

namespace duplora::cli {

namespace {

// Set by the signal handler, read also by the scheduler's timer thread: a
// lock-free atomic serves both (a volatile sig_atomic_t is safe for the
// handler only, not between threads).
std::atomic<int> gInterrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int) {
    gInterrupted.store(1, std::memory_order_relaxed);
}

} // namespace

void InstallInterruptHandler() {
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

} // namespace duplora::cli

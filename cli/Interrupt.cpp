#include "cli/Interrupt.h"

#include <csignal>

namespace duplora::cli {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) {
    gInterrupted = 1;
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
    return gInterrupted != 0;
}

void SetInterruptRequested(bool on) {
    gInterrupted = on ? 1 : 0;
}

} // namespace duplora::cli

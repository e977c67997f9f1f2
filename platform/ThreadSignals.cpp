#include "platform/ThreadSignals.h"

#include <pthread.h>
#include <signal.h>

namespace duplora {

void BlockSignalsInThisThread() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

} // namespace duplora

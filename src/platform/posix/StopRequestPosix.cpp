#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "platform/StopRequest.h"

namespace platform {
namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void CatchStopRequests() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitStopRequest() {
    const sigset_t set = StopSignals();
    int signal = 0;
    sigwait(&set, &signal);
}

void WakeStopWaiter() {
    // A signal already woke the waiter otherwise; a second one stays pending and blocked until exit.
    kill(getpid(), SIGTERM);
}

void ExitNow(int code) {
    _exit(code);
}

}  // namespace platform

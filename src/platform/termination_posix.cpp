#include "platform/termination.h"

#include <pthread.h>
#include <signal.h>

namespace {

sigset_t TerminationSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

void PrepareForTermination()
{
    // Blocked in every thread, so that only WaitForTermination receives them.
    sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WaitForTermination()
{
    sigset_t signals = TerminationSignals();
    int received = 0;
    sigwait(&signals, &received);
}

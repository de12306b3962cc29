#include "platform/posix/Signals.h"

#include <csignal>
#include <pthread.h>

namespace ostrim {

namespace {
sigset_t TerminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

void BlockTerminationSignals()
{
    const sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForTerminationSignal()
{
    const sigset_t set = TerminationSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    return signal;
}

} // namespace ostrim

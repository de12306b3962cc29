#include "platform/Signals.h"

#include <cerrno>
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

sigset_t RunSet()
{
    sigset_t set = TerminationSet();
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    sigaddset(&set, SIGHUP);
    return set;
}

int WaitFor(const sigset_t& set, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return 0;
        timespec wait{static_cast<time_t>(left.count() / 1'000'000'000),
                      static_cast<long>(left.count() % 1'000'000'000)};
        int signal = sigtimedwait(&set, nullptr, &wait);
        if (signal > 0)
            return signal;
        if (errno == EAGAIN)
            return 0;
        // EINTR: another signal's handler ran; wait out the rest.
    }
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

int WaitForTerminationSignalFor(std::chrono::milliseconds timeout)
{
    return WaitFor(TerminationSet(), timeout);
}

void BlockRunSignals()
{
    const sigset_t set = RunSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForRunSignalFor(std::chrono::milliseconds timeout)
{
    return WaitFor(RunSet(), timeout);
}

void IgnoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace ostrim

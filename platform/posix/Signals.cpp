#include "platform/Signals.h"

#include "platform/posix/Deadline.h"
#include "platform/posix/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

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

int WaitForRunSignalOrInput(int fd, std::chrono::milliseconds timeout)
{
    if (fd < 0)
        return WaitForRunSignalFor(timeout);
    // The signals are blocked in every thread, so they wait for this descriptor as they would
    // for sigtimedwait.
    const sigset_t set = RunSet();
    UniqueFd signals(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signals)
        return WaitForRunSignalFor(timeout);
    const Deadline end = Deadline::After(timeout);
    for (;;) {
        pollfd fds[2] = {{signals.Get(), POLLIN, 0}, {fd, POLLIN, 0}};
        int n = ::poll(fds, 2, end.PollTimeoutMs());
        if (n < 0 && errno != EINTR)
            return 0;
        if (fds[0].revents != 0) {
            signalfd_siginfo info{};
            if (::read(signals.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                return static_cast<int>(info.ssi_signo);
        }
        if (fds[1].revents != 0)
            return kInputReady;
        if (end.Expired())
            return 0;
    }
}

void IgnoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace ostrim

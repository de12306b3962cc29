#include "platform/Signals.h"

#include <windows.h>

#include <condition_variable>
#include <csignal>
#include <mutex>

namespace ostrim {

namespace {

// The console runs its handler on a thread of its own; the handler only records the request
// and wakes the waiting thread, which ends the run as on POSIX.
std::mutex mutex;
std::condition_variable changed;
int pending = 0;

BOOL WINAPI OnConsoleControl(DWORD type)
{
    int signal = 0;
    switch (type) {
    case CTRL_C_EVENT:
        signal = SIGINT;
        break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signal = SIGTERM;
        break;
    default:
        return FALSE;
    }
    {
        std::lock_guard lock(mutex);
        if (pending == 0)
            pending = signal;
    }
    changed.notify_all();
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // Returning lets Windows end the process at once; the run's end needs a moment to
        // close the logs. Windows allows a few seconds before it ends the process regardless.
        ::Sleep(5000);
    }
    return TRUE;
}

int Take(std::unique_lock<std::mutex>& lock)
{
    (void)lock;
    int signal = pending;
    pending = 0;
    return signal;
}

} // namespace

void BlockTerminationSignals()
{
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int WaitForTerminationSignal()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [] { return pending != 0; });
    return Take(lock);
}

int WaitForTerminationSignalFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, timeout, [] { return pending != 0; }))
        return 0;
    return Take(lock);
}

void BlockRunSignals()
{
    BlockTerminationSignals();
}

int WaitForRunSignalFor(std::chrono::milliseconds timeout)
{
    return WaitForTerminationSignalFor(timeout);
}

void IgnoreBrokenPipe()
{
    // Windows raises no signal for a closed pipe: the write fails (EPIPE or EINVAL).
}

int WaitForRunSignalOrInput(int fd, std::chrono::milliseconds timeout)
{
    (void)fd; // no control socket here
    return WaitForRunSignalFor(timeout);
}

} // namespace ostrim

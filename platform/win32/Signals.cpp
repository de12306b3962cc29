#include "platform/Signals.h"

#include <windows.h>

#include <cctype>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace ostrim {

namespace {

// The console runs its handler on a thread of its own, and the keys are read on another; both
// only record the request and wake the waiting thread, which acts on it as on POSIX.
std::mutex mutex;
std::condition_variable changed;
std::deque<int> pending;

void Deliver(int signal)
{
    {
        std::lock_guard lock(mutex);
        pending.push_back(signal);
    }
    changed.notify_all();
}

BOOL WINAPI OnConsoleControl(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
        Deliver(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        Deliver(SIGTERM);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        Deliver(SIGTERM);
        // Returning lets Windows end the process at once; the run's end needs a moment to
        // close the logs. Windows allows a few seconds before it ends the process regardless.
        ::Sleep(5000);
        return TRUE;
    default:
        return FALSE;
    }
}

void OnKey(char key)
{
    switch (std::toupper(static_cast<unsigned char>(key))) {
    case 'T':
        Deliver(kTriggerOnOffSignal);
        break;
    case 'L':
        Deliver(kEndOfLapSignal);
        break;
    case 'R':
        Deliver(kReloadSensorsSignal);
        break;
    case 'Q':
        Deliver(SIGINT);
        break;
    default:
        break;
    }
}

HANDLE consoleInput = INVALID_HANDLE_VALUE;
DWORD consoleMode = 0;

void RestoreConsoleMode()
{
    ::SetConsoleMode(consoleInput, consoleMode);
}

// Runs until standard input ends; the process may end while it waits.
DWORD WINAPI ReadKeys(LPVOID)
{
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return 0;
    DWORD mode = 0;
    if (!::GetConsoleMode(input, &mode)) {
        // A pipe or a file: its characters are the keys.
        char keys[64];
        DWORD got = 0;
        while (::ReadFile(input, keys, sizeof keys, &got, nullptr) && got > 0) {
            for (DWORD i = 0; i < got; ++i)
                OnKey(keys[i]);
        }
        return 0;
    }
    // A key acts when it is pressed, without Enter or echo; Ctrl-C stays the handler's.
    consoleInput = input;
    consoleMode = mode;
    std::atexit(RestoreConsoleMode);
    const DWORD keys = (mode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT;
    ::SetConsoleMode(input, keys);
    INPUT_RECORD records[16];
    DWORD got = 0;
    while (::ReadConsoleInputA(input, records, 16, &got)) {
        for (DWORD i = 0; i < got; ++i) {
            const INPUT_RECORD& record = records[i];
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
                OnKey(record.Event.KeyEvent.uChar.AsciiChar);
        }
    }
    return 0;
}

int Take(std::unique_lock<std::mutex>& lock)
{
    (void)lock;
    const int signal = pending.front();
    pending.pop_front();
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
    for (;;) {
        changed.wait(lock, [] { return !pending.empty(); });
        const int signal = Take(lock);
        if (signal == SIGINT || signal == SIGTERM)
            return signal;
    }
}

int WaitForTerminationSignalFor(std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex);
    for (;;) {
        if (!changed.wait_until(lock, end, [] { return !pending.empty(); }))
            return 0;
        const int signal = Take(lock);
        if (signal == SIGINT || signal == SIGTERM)
            return signal;
    }
}

void BlockRunSignals()
{
    BlockTerminationSignals();
    HANDLE reader = ::CreateThread(nullptr, 0, ReadKeys, nullptr, 0, nullptr);
    if (reader != nullptr)
        ::CloseHandle(reader);
}

int WaitForRunSignalFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, timeout, [] { return !pending.empty(); }))
        return 0;
    return Take(lock);
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

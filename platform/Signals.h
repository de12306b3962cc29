#pragma once
// Termination (SIGINT, SIGTERM; on Windows Ctrl-C, Ctrl-Break and the console closing) for a
// front end without an event loop: the one thread that waits for them acts on them as on any
// other event. On POSIX they are blocked in every thread and taken synchronously, so no handler
// ever runs; on Windows the console's handler only hands them to that thread.

#include <chrono>
#include <csignal>

namespace ostrim {

// The operator's controls of a run without a screen, as WaitForRunSignalFor returns them:
// SIGUSR1, SIGUSR2 and SIGHUP on POSIX; on Windows the console's keys T, L and R (Q there ends
// the run as Ctrl-C does, and is returned as SIGINT).
#ifdef _WIN32
inline constexpr int kTriggerOnOffSignal = 30; // numbers no Windows signal has
inline constexpr int kEndOfLapSignal = 31;
inline constexpr int kReloadSensorsSignal = 29;
#else
inline constexpr int kTriggerOnOffSignal = SIGUSR1;
inline constexpr int kEndOfLapSignal = SIGUSR2;
inline constexpr int kReloadSensorsSignal = SIGHUP;
#endif

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it starts afterwards, so
// only WaitForTerminationSignal sees them. Call before any thread starts.
void BlockTerminationSignals();
// Waits for SIGINT or SIGTERM; returns the signal number.
int WaitForTerminationSignal();
// As above, but gives up after `timeout` and returns 0.
int WaitForTerminationSignalFor(std::chrono::milliseconds timeout);

// As BlockTerminationSignals, and the operator's controls as well: SIGUSR1, SIGUSR2 and SIGHUP on
// POSIX; on Windows the keys read from standard input, a key at a time from a console, or the
// characters of a pipe or file.
void BlockRunSignals();
// Waits up to `timeout` for SIGINT, SIGTERM or a control: the signal number, or 0.
int WaitForRunSignalFor(std::chrono::milliseconds timeout);

// As WaitForRunSignalFor, and kInputReady as soon as `fd` is readable (-1: none; always -1 on
// Windows): a run's own thread waits for its operator's controls, signals and requests alike.
inline constexpr int kInputReady = -1;
int WaitForRunSignalOrInput(int fd, std::chrono::milliseconds timeout);

// A reader of standard output that goes away must not end the program: writes to it fail
// with EPIPE instead.
void IgnoreBrokenPipe();

} // namespace ostrim

#pragma once
// Termination signals for a front end without an event loop.

#include <chrono>

namespace ostrim {

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it starts afterwards, so
// only WaitForTerminationSignal sees them. Call before any thread starts.
void BlockTerminationSignals();
// Waits for SIGINT or SIGTERM; returns the signal number.
int WaitForTerminationSignal();
// As above, but gives up after `timeout` and returns 0.
int WaitForTerminationSignalFor(std::chrono::milliseconds timeout);

// A reader of standard output that goes away must not end the program: writes to it fail
// with EPIPE instead.
void IgnoreBrokenPipe();

} // namespace ostrim

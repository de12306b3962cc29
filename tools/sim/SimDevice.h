#pragma once
// What every simulated device has: a pseudo-terminal and a thread that plays the device's side
// of it until stopped.

#include "platform/posix/EventFd.h"
#include "platform/posix/PseudoTerminal.h"

#include <functional>
#include <string>
#include <thread>

namespace ostrim::sim {

class SimDevice {
public:
    ~SimDevice() { Stop(); }

    // Creates the pseudo-terminal and runs `run` on the device's thread; `run` returns when the
    // stop event is raised. False with a reason naming `what` when the device cannot be made.
    bool Start(const std::string& what, std::function<void()> run, std::string* error);
    // Ends the thread and removes the pseudo-terminal: the device is unplugged.
    void Stop();

    const PseudoTerminal& Pty() const { return pty_; }
    const EventFd& StopEvent() const { return stop_; }

private:
    PseudoTerminal pty_;
    EventFd stop_;
    std::thread thread_;
};

} // namespace ostrim::sim

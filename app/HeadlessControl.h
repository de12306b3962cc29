#pragma once
// The control socket of a named headless run (`--name NAME`): `ostrim ctl NAME ...` asks, and the
// run's own thread answers (run/ControlCommands.h) where it takes the operator's signals.
// Linux only: on Windows a named run is refused.
//
// Thread rule: everything on the run's own thread.

#include "run/ControlCommands.h"

#include <memory>
#include <string>

namespace ostrim {

class HeadlessControl {
public:
    HeadlessControl(RunControl& control, const RunState& state, RunMonitor& monitor,
                    DialogFields& fields);
    ~HeadlessControl();
    HeadlessControl(const HeadlessControl&) = delete;
    HeadlessControl& operator=(const HeadlessControl&) = delete;

    // Opens the socket of the run `name`: empty, or the message why not.
    std::string Open(const std::string& name);
    // Readable while requests wait; -1 without a socket.
    int PendingFd() const;
    void AnswerPending();

private:
    class Socket;
    ControlCommands commands_;
    std::unique_ptr<Socket> socket_;
};

} // namespace ostrim

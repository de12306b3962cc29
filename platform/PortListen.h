#pragma once
// Listening on a serial port for a moment, to learn what is on it: the dialogs do this when they
// open, to find the port the GPS receiver talks on. Nothing is written to the port.
//
// The port is opened as the GPS port is (38400 baud 8N1, raw, exclusively) and without waiting:
// a port that another program holds is reported at once, never waited for.
//
// Thread rule: any thread; calls on different ports may run at once.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace ostrim {

struct ListenResult {
    enum class Kind {
        Listened,   // the port was open for the time asked, or until `received` had enough
        InUse,      // another program holds the port
        CannotOpen, // the port is not there or refused its settings; `error` says why
    };
    Kind kind = Kind::Listened;
    int error = 0; // errno
};

// Hands what arrives on `device` to `received` until it returns false, `stop` is set or
// `within` has passed since the open; `stop` is looked at least every 100 ms.
using ListenReceived = std::function<bool(std::string_view bytes)>;
using PortListen =
    std::function<ListenResult(const std::string& device, std::chrono::milliseconds within,
                               const std::atomic<bool>& stop, const ListenReceived& received)>;

// The platform's listening: a device path on POSIX, a COM name ("COM5") on Windows.
ListenResult ListenOnSerialPort(const std::string& device, std::chrono::milliseconds within,
                                const std::atomic<bool>& stop, const ListenReceived& received);

} // namespace ostrim

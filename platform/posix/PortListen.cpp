#include "platform/PortListen.h"

#include "platform/posix/SerialDevice.h"

#include <algorithm>
#include <cerrno>

namespace ostrim {

namespace {

// How often a stop is looked for while nothing arrives.
constexpr std::chrono::milliseconds kSlice{100};

} // namespace

ListenResult ListenOnSerialPort(const std::string& device, std::chrono::milliseconds within,
                                const std::atomic<bool>& stop, const ListenReceived& received)
{
    SerialDevice port;
    if (int err = port.Open(device))
        return {err == EBUSY ? ListenResult::Kind::InUse : ListenResult::Kind::CannotOpen, err};
    if (int err = port.Configure(SerialSettings{}))
        return {ListenResult::Kind::CannotOpen, err};
    const Deadline end = Deadline::After(within);
    std::uint8_t buffer[256];
    while (!stop.load() && !end.Expired()) {
        const auto left = std::chrono::milliseconds(end.PollTimeoutMs());
        std::size_t got = 0;
        // A far side gone (EIO) is a port with nothing more to say.
        if (port.Read(buffer, sizeof buffer, {std::min(kSlice, left), std::chrono::milliseconds(5)},
                      &got) != 0)
            break;
        if (got > 0 &&
            !received(std::string_view(reinterpret_cast<const char*>(buffer), got)))
            break;
    }
    return {};
}

} // namespace ostrim

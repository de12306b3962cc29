#include "basestation/BaseStationPort.h"

#include "platform/posix/Deadline.h"
#include "platform/posix/Poll.h"
#include "platform/posix/SerialDevice.h"

#include <cerrno>
#include <chrono>
#include <memory>

namespace ostrim {

struct BaseStationHandle {
    SerialDevice device;
    int stopFd = -1;
};

namespace {

using std::chrono::milliseconds;

constexpr SerialSettings kLine{.baudRate = 38400, .byteSize = 8, .parity = Parity::None};

// USB adapters hold received bytes up to 16 ms before passing them on, so the gap allowed
// between two bytes of one answer must stay well above that.
constexpr milliseconds kInterByte{30};
constexpr milliseconds kPerByte{100};
constexpr milliseconds kConstant{500};
// With no flow control a working line takes a byte at once, and our queue never holds more than
// one byte of ours; a device that takes nothing for this long is stuck, and the write reports a
// short transfer instead of holding its thread. A switch at worst: the open's purge, two frames
// of 500 ms and one call each, the pulse and the close, 0.3 + 0.8 + 0.1 + 0.8 + 0.3 = 2.3 s,
// inside the 2.5 s it may take.
constexpr milliseconds kCallLimit{300};
// The waits of a call once the stop is raised: a working device takes the next byte within it.
constexpr milliseconds kStopping{20};
// Keeps the read's total time-out from overflowing for absurd counts (about 11 days).
constexpr std::size_t kMaxTimedCount = 10'000'000;

thread_local int lastOpenError = 0;

bool Raised(int eventFd)
{
    PollEntry event{.fd = eventFd, .wantRead = true};
    return eventFd >= 0 && PollUntil({&event, 1}, Deadline::After(milliseconds{0})) == 0 &&
           event.Ready();
}

// How long the waits of one call may last, and the event that cuts them short.
struct CallWaits {
    explicit CallWaits(const BaseStationHandle& handle)
        : limit(Deadline::After(kCallLimit)), stopFd(handle.stopFd)
    {
        if (Raised(stopFd))
            Stopped();
    }
    // The stop came during a wait: what is left of the call gets the stopping time at most.
    void Stopped()
    {
        limit = Deadline::Earlier(limit, Deadline::After(kStopping));
        stopFd = -1;
    }

    Deadline limit;
    int stopFd;
};

// 0, ETIMEDOUT when output is still queued at the call's limit, or errno.
int DrainOutput(BaseStationHandle& handle, CallWaits& waits)
{
    int err = handle.device.Drain(waits.limit, waits.stopFd);
    if (err == ECANCELED) {
        waits.Stopped();
        err = handle.device.Drain(waits.limit);
    }
    return err;
}

// Output is drained, not discarded: discarding could drop frame bytes still on their way.
int Purge(BaseStationHandle& handle, CallWaits& waits)
{
    int drained = DrainOutput(handle, waits);
    int discarded = handle.device.DiscardInput();
    return drained != 0 ? drained : discarded;
}

} // namespace

std::string MakeComPortName(int portNumber)
{
    if (portNumber <= 0)
        return std::string(); // no port: opening it fails with ENOENT
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::string PortNameFromListText(const std::string& text)
{
    bool number = !text.empty() && text.size() <= 9 &&
                  text.find_first_not_of("0123456789") == std::string::npos;
    return number ? MakeComPortName(std::stoi(text)) : text;
}

BaseStationPortHandle OpenBaseStationPort(const char* name, int stopFd)
{
    if (name == nullptr) {
        lastOpenError = EINVAL;
        return nullptr;
    }
    auto handle = std::make_unique<BaseStationHandle>();
    handle->stopFd = stopFd;
    int err = handle->device.Open(name);
    if (err == 0)
        err = handle->device.Configure(kLine);
    if (err != 0) {
        lastOpenError = err;
        return nullptr; // the device closes itself, releasing the lock and TIOCEXCL
    }
    PurgeBaseStationPort(handle.get()); // a stale answer must never meet our next read
    lastOpenError = 0;
    return handle.release();
}

int LastBaseStationOpenError()
{
    return lastOpenError;
}

int CloseBaseStationPort(BaseStationPortHandle handle)
{
    if (handle == nullptr)
        return -1;
    CallWaits waits(*handle);
    if (DrainOutput(*handle, waits) == ETIMEDOUT)
        handle->device.DiscardOutput();
    int err = handle->device.Close();
    delete handle;
    return err == 0 ? 0 : -1;
}

int PurgeBaseStationPort(BaseStationPortHandle handle)
{
    if (handle == nullptr)
        return -1;
    CallWaits waits(*handle);
    return Purge(*handle, waits) == 0 ? 0 : -1;
}

int WriteBaseStationPort(BaseStationPortHandle handle, const std::uint8_t* bytes, std::size_t count)
{
    if (handle == nullptr || (bytes == nullptr && count > 0))
        return -1;
    CallWaits waits(*handle);
    // Any other failing purge shows up in the write that follows.
    if (Purge(*handle, waits) == ETIMEDOUT)
        return 1;
    std::size_t written = 0;
    int err = handle->device.Write(bytes, count, kCallLimit, &written, waits.limit, waits.stopFd);
    if (err == ECANCELED) {
        waits.Stopped();
        std::size_t more = 0;
        err = handle->device.Write(bytes + written, count - written, kStopping, &more, waits.limit);
        written += more;
    }
    if (err != 0)
        return -1;
    return written == count ? 0 : 1;
}

int ReadBaseStationPort(BaseStationPortHandle handle, std::uint8_t* buffer, std::size_t count)
{
    if (handle == nullptr || (buffer == nullptr && count > 0))
        return -1;
    std::size_t timed = count < kMaxTimedCount ? count : kMaxTimedCount;
    ReadTimeouts timeouts{.total = kPerByte * static_cast<long>(timed) + kConstant,
                          .interByte = kInterByte};
    std::size_t got = 0;
    if (handle->device.Read(buffer, count, timeouts, &got) != 0)
        return -1;
    return got == count ? 0 : 1;
}

} // namespace ostrim

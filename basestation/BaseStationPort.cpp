#include "basestation/BaseStationPort.h"

#include "platform/posix/SerialDevice.h"

#include <cerrno>
#include <chrono>
#include <memory>

namespace ostrim {

struct BaseStationHandle {
    SerialDevice device;
};

namespace {

using std::chrono::milliseconds;

constexpr SerialSettings kLine{.baudRate = 38400, .byteSize = 8, .parity = Parity::None};

// USB adapters hold received bytes up to 16 ms before passing them on, so the gap allowed
// between two bytes of one answer must stay well above that.
constexpr milliseconds kInterByte{30};
constexpr milliseconds kPerByte{100};
constexpr milliseconds kConstant{500};
// With no flow control a working line always takes our bytes; a device that takes none for
// this long is stuck, and the write reports a short transfer instead of hanging its thread.
constexpr milliseconds kWriteStall{2000};
// Keeps the read's total time-out from overflowing for absurd counts (about 11 days).
constexpr std::size_t kMaxTimedCount = 10'000'000;

thread_local int lastOpenError = 0;

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

BaseStationPortHandle OpenBaseStationPort(const char* name)
{
    if (name == nullptr) {
        lastOpenError = EINVAL;
        return nullptr;
    }
    auto handle = std::make_unique<BaseStationHandle>();
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
    int err = handle->device.Close();
    delete handle;
    return err == 0 ? 0 : -1;
}

int PurgeBaseStationPort(BaseStationPortHandle handle)
{
    if (handle == nullptr)
        return -1;
    // Output is drained, not discarded: discarding could drop frame bytes still on their way.
    if (handle->device.Drain() != 0)
        return -1;
    return handle->device.DiscardInput() == 0 ? 0 : -1;
}

int WriteBaseStationPort(BaseStationPortHandle handle, const std::uint8_t* bytes, std::size_t count)
{
    if (handle == nullptr || (bytes == nullptr && count > 0))
        return -1;
    PurgeBaseStationPort(handle); // a failing purge shows up in the write that follows
    std::size_t written = 0;
    if (handle->device.Write(bytes, count, kWriteStall, &written) != 0)
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

// The base station's port on Windows: a synchronous handle, the driver's time-outs bounding
// every read and write.

#include "basestation/BaseStationPort.h"

#include "platform/win32/EventFd.h"
#include "platform/win32/PortList.h"
#include "platform/win32/Win32Error.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

namespace ostrim {

struct BaseStationHandle {
    HANDLE port = INVALID_HANDLE_VALUE;
    int stopFd = -1;
    DWORD writeLimitMs = 0; // the write time-out the driver has now
};

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr DWORD kQueueSize = 2048;
constexpr DWORD kInterByteMs = 30;
constexpr DWORD kPerByteMs = 100;
constexpr DWORD kConstantMs = 500;
// A working line takes a byte at once (no flow control); a device that takes nothing for this
// long is stuck, and the call reports a short transfer instead of holding its thread. See the
// POSIX port for how the 2.5 s of a switch add up.
constexpr milliseconds kCallLimit{300};
// The waits of a call once the stop is raised: a working device takes the next byte within it.
constexpr milliseconds kStopping{20};

thread_local int lastOpenError = 0;

// How long the waits of one call may last, and the event that cuts them short.
struct CallWaits {
    explicit CallWaits(const BaseStationHandle& handle)
        : limit(Clock::now() + kCallLimit), stopFd(handle.stopFd)
    {
        if (IsEventRaised(stopFd))
            Stopped();
    }
    void Stopped()
    {
        limit = std::min(limit, Clock::now() + kStopping);
        stopFd = -1;
    }
    bool Expired() const { return Clock::now() >= limit; }
    DWORD LeftMs() const
    {
        auto left = std::chrono::ceil<milliseconds>(limit - Clock::now()).count();
        return left <= 0 ? 1 : static_cast<DWORD>(left); // 0 would mean no time-out at all
    }

    Clock::time_point limit;
    int stopFd;
};

// Waits until the driver's output queue is empty: 0, ETIMEDOUT at the call's limit, or errno.
// Discarding output could drop frame bytes still on their way, so it is waited for instead.
int DrainOutput(BaseStationHandle& handle, CallWaits& waits)
{
    // A byte leaves in 0.26 ms at 38400 baud, and Sleep(1) may last a whole 15.6 ms tick: the
    // first looks only yield the processor, or a 17-byte frame would take a quarter second.
    const auto yieldUntil = Clock::now() + milliseconds{2};
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle.port, &errors, &status))
            return LastErrno();
        if (status.cbOutQue == 0)
            return 0;
        if (waits.Expired())
            return ETIMEDOUT;
        const DWORD wait = Clock::now() < yieldUntil ? 0 : 1;
        if (IsEventRaised(waits.stopFd))
            waits.Stopped();
        else if (wait == 0)
            ::SwitchToThread();
        else if (waits.stopFd >= 0)
            ::WaitForSingleObject(HandleOfInt(waits.stopFd), wait);
        else
            ::Sleep(wait);
    }
}

int Purge(BaseStationHandle& handle, CallWaits& waits)
{
    int drained = DrainOutput(handle, waits);
    int discarded = ::PurgeComm(handle.port, PURGE_RXCLEAR) ? 0 : LastErrno();
    return drained != 0 ? drained : discarded;
}

// Sets the driver's write time-out to what is left of the call.
bool LimitWrite(BaseStationHandle& handle, DWORD ms)
{
    if (handle.writeLimitMs == ms)
        return true;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(handle.port, &timeouts))
        return false;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = ms;
    if (!::SetCommTimeouts(handle.port, &timeouts))
        return false;
    handle.writeLimitMs = ms;
    return true;
}

} // namespace

std::string MakeComPortName(int portNumber)
{
    if (portNumber < 0)
        return std::string(); // no port: opening it fails
    return "\\\\.\\COM" + std::to_string(portNumber);
}

std::string PortNameFromListText(const std::string& text)
{
    bool number = !text.empty() && text.size() <= 9 &&
                  text.find_first_not_of("0123456789") == std::string::npos;
    return number ? MakeComPortName(std::stoi(text)) : ComDevicePath(text);
}

BaseStationPortHandle OpenBaseStationPort(const char* name, int stopFd)
{
    if (name == nullptr) {
        lastOpenError = EINVAL;
        return nullptr;
    }
    auto handle = std::make_unique<BaseStationHandle>();
    handle->stopFd = stopFd;
    handle->port = ::CreateFileA(ComDevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle->port == INVALID_HANDLE_VALUE) {
        lastOpenError = LastErrno();
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(handle->port, &dcb);
    if (ok) {
        dcb.BaudRate = 38400;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        // Every byte of a frame passes unchanged: binary, no flow control, no substitution.
        dcb.fBinary = 1;
        dcb.fParity = 0;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = 0;
        dcb.fOutX = dcb.fInX = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = 0;
        if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
        ok = ::SetCommState(handle->port, &dcb);
    }
    ok = ok && ::SetupComm(handle->port, kQueueSize, kQueueSize);
    COMMTIMEOUTS timeouts{};
    ok = ok && ::GetCommTimeouts(handle->port, &timeouts);
    if (ok) {
        timeouts.ReadIntervalTimeout = kInterByteMs;
        timeouts.ReadTotalTimeoutMultiplier = kPerByteMs;
        timeouts.ReadTotalTimeoutConstant = kConstantMs;
        // Unlike a write without a time-out, a stuck device cannot hold the thread.
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(kCallLimit.count());
        ok = ::SetCommTimeouts(handle->port, &timeouts);
        handle->writeLimitMs = timeouts.WriteTotalTimeoutConstant;
    }
    ok = ok && ::SetCommMask(handle->port, EV_RXCHAR);
    if (!ok) {
        lastOpenError = LastErrno();
        ::CloseHandle(handle->port);
        return nullptr;
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
        ::PurgeComm(handle->port, PURGE_TXABORT | PURGE_TXCLEAR);
    bool closed = ::CloseHandle(handle->port);
    delete handle;
    return closed ? 0 : -1;
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
    if (Purge(*handle, waits) == ETIMEDOUT)
        return 1; // earlier output has not left: these bytes would only queue behind it
    std::size_t written = 0;
    while (written < count) {
        if (IsEventRaised(waits.stopFd))
            waits.Stopped();
        if (waits.Expired() || !LimitWrite(*handle, waits.LeftMs()))
            break;
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - written, 1u << 20));
        DWORD n = 0;
        if (!::WriteFile(handle->port, bytes + written, piece, &n, nullptr))
            return -1;
        written += n;
        if (n < piece)
            break; // the driver's time-out ran out
    }
    return written == count ? 0 : 1;
}

int ReadBaseStationPort(BaseStationPortHandle handle, std::uint8_t* buffer, std::size_t count)
{
    if (handle == nullptr || (buffer == nullptr && count > 0))
        return -1;
    // The driver's time-outs bound the read: 30 ms between bytes, 100 ms a byte plus 500 ms.
    std::size_t got = 0;
    while (got < count) {
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - got, 1u << 16));
        DWORD n = 0;
        if (!::ReadFile(handle->port, buffer + got, piece, &n, nullptr))
            return -1;
        got += n;
        if (n < piece)
            break;
    }
    return got == count ? 0 : 1;
}

} // namespace ostrim

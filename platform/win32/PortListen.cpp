#include "platform/PortListen.h"

#include "platform/win32/PortList.h"
#include "platform/win32/Win32Error.h"

#include <windows.h>

namespace ostrim {

namespace {

// How often a stop is looked for while nothing arrives.
constexpr DWORD kSliceMs = 100;

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (Valid())
            ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

ListenResult ListenOnSerialPort(const std::string& device, std::chrono::milliseconds within,
                                const std::atomic<bool>& stop, const ListenReceived& received)
{
    // No sharing, as the GPS port is opened: a port another program holds fails at once.
    Handle port(::CreateFileA(ComDevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr));
    if (!port.Valid()) {
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                          error == ERROR_BUSY;
        return {held ? ListenResult::Kind::InUse : ListenResult::Kind::CannotOpen, ErrnoOf(error)};
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(port.Get(), &dcb);
    if (ok) {
        dcb.BaudRate = 38400;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = 1;
        dcb.fParity = 0;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = 0;
        dcb.fOutX = dcb.fInX = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = 0;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        ok = ::SetCommState(port.Get(), &dcb);
    }
    // A read returns what is there, or waits up to a slice for the first byte.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kSliceMs;
    ok = ok && ::SetCommTimeouts(port.Get(), &timeouts);
    if (!ok)
        return {ListenResult::Kind::CannotOpen, LastErrno()};

    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(within.count());
    char buffer[256];
    while (!stop.load() && ::GetTickCount64() < end) {
        DWORD got = 0;
        if (!::ReadFile(port.Get(), buffer, sizeof buffer, &got, nullptr))
            break; // the device went: nothing more to hear
        if (got > 0 && !received(std::string_view(buffer, got)))
            break;
    }
    return {};
}

} // namespace ostrim

// The GPS port monitor on Windows: overlapped one-character reads and line waits, driven by a
// set of events in priority order (stop, read done, read wanted, line done, line wait wanted).

#include "gps/PortMonitor.h"

#include "platform/win32/PortList.h"
#include "platform/win32/Win32Error.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

namespace ostrim {

namespace {

constexpr std::int32_t kStartedCode = 0;
constexpr std::int32_t kEndingCode = 1;
constexpr std::int32_t kReadCode = 3;
constexpr std::int32_t kRingCode = 4;
constexpr std::int32_t kCarrierOnCode = 5;
constexpr std::int32_t kCarrierOffCode = 6;

enum Slot : DWORD { kStop, kReadDone, kReadWanted, kLineDone, kLineWanted, kSlots };

// How long the end waits for a cancelled read or line wait to come back before it closes the
// port regardless; a working driver cancels at once.
constexpr DWORD kCancelWaitMs = 1000;

} // namespace

struct PortMonitor::Impl {
    PortMonitor* owner = nullptr;
    Callback callback = nullptr;
    void* context = nullptr;

    std::string path;
    int baudRate = 0;
    int parity = 0;
    int lineWatch = 0;
    int lastError = 0;
    bool watchLines = false; // line watch asked for, and the device has modem lines

    HANDLE events[kSlots] = {};
    int eventError = 0;
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED readRecord{};
    OVERLAPPED lineRecord{};
    bool readPending = false;
    bool linePending = false;
    char received[256] = {};
    std::int32_t readCount = 0;
    DWORD eventMask = 0;

    std::thread thread;
    std::mutex joinMutex; // one joiner at a time
    std::atomic<std::thread::id> monitorThread{};
    std::atomic<bool> running{false};
    std::atomic<bool> ownerGone{false};

    ~Impl()
    {
        for (HANDLE event : events) {
            if (event != nullptr)
                ::CloseHandle(event);
        }
    }

    bool OnMonitorThread() const { return monitorThread.load() == std::this_thread::get_id(); }

    void Notify(std::int32_t code)
    {
        if (callback != nullptr && !ownerGone.load())
            callback(owner, code, context);
    }

    void Loop();
    bool IssueRead();
    bool IssueLineWait();
    void CheckLineStatus(DWORD mask);
    void Finish(OVERLAPPED& record, bool& pending);
    void ClosePort();
};

bool PortMonitor::Impl::IssueRead()
{
    if (readPending)
        return true;
    HANDLE done = events[kReadDone];
    readRecord = OVERLAPPED{};
    readRecord.hEvent = done;
    readPending = true;
    // One character a read: every completed read is one delivery. A read that completes at
    // once raises its event too, and is taken like a later completion.
    if (!::ReadFile(port, received, 1, nullptr, &readRecord) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        readPending = false;
        return false;
    }
    return true;
}

bool PortMonitor::Impl::IssueLineWait()
{
    if (linePending || !watchLines)
        return true;
    lineRecord = OVERLAPPED{};
    lineRecord.hEvent = events[kLineDone];
    linePending = true;
    if (!::WaitCommEvent(port, &eventMask, &lineRecord) && ::GetLastError() != ERROR_IO_PENDING) {
        linePending = false;
        return false;
    }
    return true;
}

void PortMonitor::Impl::CheckLineStatus(DWORD mask)
{
    DWORD status = 0;
    ::GetCommModemStatus(port, &status);
    if ((mask & EV_RING) && (status & MS_RING_ON))
        Notify(kRingCode);
    if (mask & EV_RLSD)
        Notify((status & MS_RLSD_ON) ? kCarrierOnCode : kCarrierOffCode);
}

// An operation still under way when the thread ends is cancelled and waited for, so the driver
// never writes into a record after the port is gone.
void PortMonitor::Impl::Finish(OVERLAPPED& record, bool& pending)
{
    if (!pending)
        return;
    if (::WaitForSingleObject(record.hEvent, kCancelWaitMs) == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        ::GetOverlappedResult(port, &record, &ignored, FALSE);
    }
    pending = false;
}

void PortMonitor::Impl::ClosePort()
{
    if (port == INVALID_HANDLE_VALUE)
        return;
    ::CancelIo(port);
    Finish(readRecord, readPending);
    Finish(lineRecord, linePending);
    ::CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
}

void PortMonitor::Impl::Loop()
{
    monitorThread.store(std::this_thread::get_id());
    readPending = linePending = false;
    Notify(kStartedCode);
    ::SetEvent(events[kReadWanted]);
    if (watchLines)
        ::SetEvent(events[kLineWanted]);

    bool go = true;
    while (go) {
        // WaitForMultipleObjects names the lowest raised slot: the order above is the priority.
        DWORD woke = ::WaitForMultipleObjects(kSlots, events, FALSE, INFINITE);
        DWORD transferred = 0;
        switch (woke - WAIT_OBJECT_0) {
        case kReadDone:
            if (!::GetOverlappedResult(port, &readRecord, &transferred, FALSE)) {
                go = ::GetLastError() == ERROR_IO_INCOMPLETE;
                break; // ERROR_BROKEN_PIPE, a device gone: the receiver is lost
            }
            ::ResetEvent(events[kReadDone]);
            readPending = false;
            readCount = static_cast<std::int32_t>(transferred);
            if (readCount > 0)
                Notify(kReadCode);
            else
                ::SetEvent(events[kReadWanted]); // nothing came: the consumer still waits
            break;
        case kReadWanted:
            go = IssueRead();
            break;
        case kLineDone:
            if (!::GetOverlappedResult(port, &lineRecord, &transferred, FALSE)) {
                go = ::GetLastError() == ERROR_IO_INCOMPLETE;
                break;
            }
            ::ResetEvent(events[kLineDone]);
            linePending = false;
            CheckLineStatus(eventMask);
            ::SetEvent(events[kLineWanted]);
            break;
        case kLineWanted:
            // A driver that cannot wait for line changes still delivers characters: only the
            // line watch ends, as on a device without modem lines.
            if (!IssueLineWait())
                watchLines = false;
            break;
        default: // the stop, or the wait itself failed
            go = false;
            break;
        }
    }

    ClosePort();
    running.store(false);
    Notify(kEndingCode);
    monitorThread.store(std::thread::id());
}

PortMonitor::PortMonitor() : impl_(std::make_shared<Impl>())
{
    impl_->owner = this;
    for (DWORD slot = 0; slot < kSlots; ++slot) {
        // Manual reset for the stop (it must stay seen until the thread ends) and for the two
        // done events, which the thread resets after fetching the result.
        BOOL manual = slot == kStop || slot == kReadDone || slot == kLineDone;
        impl_->events[slot] = ::CreateEventA(nullptr, manual, FALSE, nullptr);
        if (impl_->events[slot] == nullptr && impl_->eventError == 0)
            impl_->eventError = LastErrno();
    }
}

PortMonitor::~PortMonitor()
{
    if (impl_->OnMonitorThread()) {
        // Destroyed from its own callback: the thread keeps the state alive, ends after the
        // callback returns, and notifies nobody.
        impl_->ownerGone.store(true);
        ::SetEvent(impl_->events[kStop]);
        std::lock_guard lock(impl_->joinMutex);
        if (impl_->thread.joinable())
            impl_->thread.detach();
        return;
    }
    Stop();
}

void PortMonitor::SetCallback(Callback callback, void* context)
{
    impl_->callback = callback;
    impl_->context = context;
}

int PortMonitor::Open(const char* path, int baudRate, int parity, int byteSize, int lineWatch)
{
    Impl& m = *impl_;
    if (m.OnMonitorThread()) {
        m.lastError = EDEADLK; // the thread cannot replace itself
        return kOpenFailed;
    }
    // An earlier thread is ended first: two threads must never read one port, and a thread
    // must never outlive its port.
    Stop();

    if (path == nullptr) {
        m.lastError = EINVAL;
        return kNoPath;
    }
    if (m.eventError != 0) {
        m.lastError = m.eventError;
        return kNoEvents;
    }
    m.path = ComDevicePath(path);
    m.baudRate = baudRate;
    m.parity = parity;
    m.lineWatch = lineWatch;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.fBinary = 1;
    dcb.fParity = (parity == 1 || parity == 2) ? 1 : 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2;
    dcb.XoffLim = 4;
    dcb.ByteSize = static_cast<BYTE>(byteSize);
    dcb.Parity = parity == 1 ? ODDPARITY : parity == 2 ? EVENPARITY : NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x13;
    dcb.XoffChar = 0x19;
    // A read completes when its one character is there, however long that takes.
    COMMTIMEOUTS timeouts{};

    // No sharing: nobody else may read the receiver's characters.
    m.port = ::CreateFileA(m.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m.port == INVALID_HANDLE_VALUE) {
        m.lastError = LastErrno();
        return kOpenFailed;
    }

    int result = kOk;
    int failure = 0;
    // A device without modem lines (a pseudo-terminal behind Wine, some adapters) opens all the
    // same and reports no line changes.
    DWORD status = 0;
    m.watchLines = lineWatch != 0 && ::GetCommModemStatus(m.port, &status);
    if (!::SetCommMask(m.port, m.watchLines ? EV_RING | EV_RLSD : 0)) {
        result = kLineWatchFailed;
        failure = LastErrno();
    }
    if (!::SetCommTimeouts(m.port, &timeouts)) {
        result = kTimeoutsFailed;
        failure = LastErrno();
    }
    if (!::SetCommState(m.port, &dcb)) {
        result = kSettingsFailed;
        failure = LastErrno();
    }
    if (result != kOk) {
        ::CloseHandle(m.port);
        m.port = INVALID_HANDLE_VALUE;
        m.lastError = failure;
        return result;
    }

    for (HANDLE event : m.events)
        ::ResetEvent(event);
    m.readCount = 0;
    m.running.store(true);
    m.lastError = 0; // before the thread runs: it may outlive this call's view of `m`
    try {
        std::lock_guard lock(m.joinMutex);
        m.thread = std::thread([self = impl_] { self->Loop(); });
    } catch (const std::system_error& e) {
        m.running.store(false);
        ::CloseHandle(m.port);
        m.port = INVALID_HANDLE_VALUE;
        m.lastError = e.code().value();
        return kNoEvents;
    }
    return kOk;
}

int PortMonitor::LastError() const
{
    return impl_->lastError;
}

const char* PortMonitor::GetReadBuffer() const
{
    return impl_->received;
}

std::int32_t PortMonitor::GetReadCount() const
{
    return impl_->readCount;
}

void PortMonitor::RequestNextRead()
{
    ::SetEvent(impl_->events[kReadWanted]);
}

void PortMonitor::Stop()
{
    Impl& m = *impl_;
    ::SetEvent(m.events[kStop]);
    if (m.OnMonitorThread())
        return; // from the callback: the thread ends when it returns; the owner joins later
    std::lock_guard lock(m.joinMutex);
    if (m.thread.joinable())
        m.thread.join();
}

bool PortMonitor::Running() const
{
    return impl_->running.load();
}

} // namespace ostrim

#include "gps/PortMonitor.h"

#include "gps/LineWatch.h"
#include "platform/posix/Deadline.h"
#include "platform/posix/EventFd.h"
#include "platform/posix/Poll.h"
#include "platform/posix/SerialDevice.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

namespace ostrim {

namespace {

constexpr std::int32_t kStartedCode = 0;
constexpr std::int32_t kEndingCode = 1;
constexpr std::int32_t kReadCode = 3;

// Pseudo-terminals and most USB adapters cannot wake us on a modem-line change, so the lines
// are looked at this often while line watch is on.
constexpr std::chrono::milliseconds kLineLookPeriod{50};

// One read() takes whatever the driver holds, up to this much: at 38400 baud that is about a
// second of input, so the monitor makes a system call per burst, not per character.
constexpr std::size_t kBulkSize = 4096;

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

    SerialDevice device;
    EventFd stopEvent;
    EventFd wakeEvent; // RequestNextRead from a thread other than the monitor's
    int eventError = 0;
    bool watchLines = false; // line watch asked for, and the device has modem lines

    std::thread thread;
    std::mutex joinMutex; // one joiner at a time
    std::atomic<std::thread::id> monitorThread{};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> readWanted{false};
    std::atomic<bool> running{false};
    std::atomic<bool> ownerGone{false};

    // The monitor thread's own. `bulk` holds what the last read() brought, `received` the
    // character being delivered.
    std::array<std::uint8_t, kBulkSize> bulk{};
    std::size_t bulkPos = 0;
    std::size_t bulkLen = 0;
    char received[256] = {};
    std::int32_t readCount = 0;

    bool OnMonitorThread() const { return monitorThread.load() == std::this_thread::get_id(); }

    void Notify(std::int32_t code)
    {
        if (callback != nullptr && !ownerGone.load())
            callback(owner, code, context);
    }

    void Loop();
    void LookAtLines(ModemLines* lines);
};

void PortMonitor::Impl::Loop()
{
    monitorThread.store(std::this_thread::get_id());
    Notify(kStartedCode);

    ModemLines lines;
    if (watchLines && device.GetModemLines(&lines) != 0)
        watchLines = false;
    Deadline nextLook = watchLines ? Deadline::After(kLineLookPeriod) : Deadline::Never();

    // Priority, as each pass decides: stop first, then a character already read, then a new
    // read of the port.
    while (!stopRequested.load()) {
        if (bulkPos < bulkLen && readWanted.exchange(false)) {
            received[0] = static_cast<char>(bulk[bulkPos++]);
            readCount = 1;
            Notify(kReadCode);
            continue;
        }
        bool readPort = bulkPos == bulkLen && readWanted.load();
        PollEntry entries[3] = {
            {.fd = stopEvent.Fd(), .wantRead = true},
            {.fd = wakeEvent.Fd(), .wantRead = true},
            {.fd = readPort ? device.Fd() : -1, .wantRead = true},
        };
        if (PollUntil(entries, nextLook) != 0 || entries[0].readable)
            break;
        if (entries[1].readable)
            wakeEvent.Clear();
        if (entries[2].Ready()) {
            std::size_t got = 0;
            if (device.ReadAvailable(bulk.data(), bulk.size(), &got) != 0)
                break; // unplugged: EIO, or end of file from a pseudo-terminal
            if (got == 0 && entries[2].error)
                break;
            // A read that brought nothing leaves readWanted set: the next pass reads again.
            bulkPos = 0;
            bulkLen = got;
        }
        if (watchLines && nextLook.Expired()) {
            LookAtLines(&lines);
            nextLook = Deadline::After(kLineLookPeriod);
        }
    }

    device.Close();
    running.store(false);
    Notify(kEndingCode);
    monitorThread.store(std::thread::id());
}

void PortMonitor::Impl::LookAtLines(ModemLines* lines)
{
    ModemLines now;
    if (device.GetModemLines(&now) != 0)
        return;
    for (int code : LineWatchCodes(*lines, now))
        Notify(code);
    *lines = now;
}

PortMonitor::PortMonitor() : impl_(std::make_shared<Impl>())
{
    impl_->owner = this;
    impl_->eventError = impl_->stopEvent.Create();
    if (impl_->eventError == 0)
        impl_->eventError = impl_->wakeEvent.Create();
}

PortMonitor::~PortMonitor()
{
    if (impl_->OnMonitorThread()) {
        // Destroyed from its own callback: the thread keeps the state alive, ends after the
        // callback returns, and notifies nobody.
        impl_->ownerGone.store(true);
        impl_->stopRequested.store(true);
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
    // Unlike a bare reopen, an earlier thread is ended first: two threads must never read one
    // port, and a thread must never outlive its port.
    Stop();
    m.device.Close();

    if (m.eventError != 0) {
        m.lastError = m.eventError;
        return kNoEvents;
    }
    if (path == nullptr) {
        m.lastError = EINVAL;
        return kNoPath;
    }
    m.path = path;
    m.baudRate = baudRate;
    m.parity = parity;
    m.lineWatch = lineWatch;

    if (int err = m.device.Open(m.path)) {
        m.lastError = err;
        return kOpenFailed;
    }

    int result = kOk;
    int failure = 0;
    m.watchLines = false;
    if (lineWatch != 0) {
        ModemLines lines;
        int err = m.device.GetModemLines(&lines);
        if (err == 0) {
            m.watchLines = true;
        } else if (!IsNoModemLines(err)) {
            result = kLineWatchFailed;
            failure = err;
        }
    }
    SerialSettings settings{.baudRate = baudRate,
                            .byteSize = byteSize,
                            .parity = parity == 1   ? Parity::Odd
                                      : parity == 2 ? Parity::Even
                                                    : Parity::None};
    int err = m.device.Configure(settings);
    if (err == 0) {
        err = m.device.AssertDtrRts();
        if (IsNoModemLines(err))
            err = 0;
    }
    if (err != 0) {
        result = kSettingsFailed;
        failure = err;
    }
    if (result != kOk) {
        m.device.Close();
        m.lastError = failure;
        return result;
    }

    m.stopRequested.store(false);
    m.stopEvent.Clear();
    m.wakeEvent.Clear();
    m.bulkPos = m.bulkLen = 0;
    m.readCount = 0;
    m.readWanted.store(true); // the first read goes out as soon as the thread runs
    m.running.store(true);
    m.lastError = 0; // before the thread runs: it may outlive this call's view of `m`
    try {
        std::lock_guard lock(m.joinMutex);
        m.thread = std::thread([self = impl_] { self->Loop(); });
    } catch (const std::system_error& e) {
        m.running.store(false);
        m.device.Close();
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
    impl_->readWanted.store(true);
    // The monitor thread looks at the flag before it waits again; any other thread wakes it.
    if (!impl_->OnMonitorThread())
        impl_->wakeEvent.Raise();
}

void PortMonitor::Stop()
{
    Impl& m = *impl_;
    m.stopRequested.store(true);
    m.stopEvent.Raise();
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

#pragma once
// Reads the GPS receiver's serial port on a thread of its own and hands the consumer one
// character at a time, paced by the consumer's RequestNextRead.
//
// Notification codes given to the callback:
//   0 the thread has started          1 the thread is ending; the port has been closed
//   3 a read completed (GetReadCount characters in GetReadBuffer)
//   4 ring while the ring indicator is on
//   5 carrier detect came on          6 carrier detect went off
//
// Thread rule: SetCallback and Open are called before the thread runs, from one thread.
// The callback runs on the monitor thread; GetReadBuffer and GetReadCount are valid inside it.
// RequestNextRead and Stop may be called from any thread. Stop (and the destructor) return only
// after the thread has ended, so no callback runs afterwards.

#include <cstdint>
#include <memory>
#include <string>

namespace ostrim {

class PortMonitor {
public:
    using Callback = void (*)(PortMonitor* monitor, std::int32_t code, void* context);

    // Open's result codes.
    static constexpr int kOk = 0;
    static constexpr int kLineWatchFailed = 1;
    static constexpr int kTimeoutsFailed = 2;
    static constexpr int kSettingsFailed = 4;
    static constexpr int kOpenFailed = 8;
    static constexpr int kNoPath = 16;
    static constexpr int kNoEvents = 32;

    PortMonitor();
    ~PortMonitor();
    PortMonitor(const PortMonitor&) = delete;
    PortMonitor& operator=(const PortMonitor&) = delete;

    void SetCallback(Callback callback, void* context = nullptr);
    // Opens the device exclusively (8 data bits or `byteSize`, parity selector 0 none, 1 odd,
    // 2 even, anything else none; one stop bit; raw) and starts the thread. 0 on success.
    // `path` may be null (16).
    int Open(const char* path, int baudRate, int parity, int byteSize, int lineWatch);
    // errno of the last failed Open, for the operator's message.
    int LastError() const;

    const char* GetReadBuffer() const;
    std::int32_t GetReadCount() const;
    void RequestNextRead();

    // Ends the thread (the stop event) and joins it. Safe to call more than once.
    void Stop();
    bool Running() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ostrim

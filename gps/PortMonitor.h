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
// Thread rule: SetCallback only while no thread runs (before Open, or after Stop); Open from
// the owner's thread, never from the callback (a running thread is ended first). The callback
// runs on the monitor thread; GetReadBuffer and GetReadCount are valid inside it.
// RequestNextRead and Stop may be called from any thread, the callback included. Stop (and the
// destructor) return only after the thread has ended, so no callback runs afterwards; they wait
// for a callback in progress, so a callback must never wait for the thread that stops the
// monitor. Called from the callback itself, Stop (or the destructor) only asks the thread to
// end once the callback returns.
//
// The port is read in bursts into the monitor's own buffer; the consumer still gets one
// character per code 3, and the next only after RequestNextRead. Several requests before the
// thread gets to them count as one. Characters not yet asked for wait in that buffer and in
// the driver's queue; none are dropped while the monitor runs (Stop discards the buffer).
//
// A port error (device unplugged, the other side of a pseudo-terminal closed) ends the thread
// with code 1. Line watch reports ring and carrier-detect changes where the device has modem
// lines; a device without them (a pseudo-terminal) opens all the same and reports none.

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
    // Opens the device exclusively (`byteSize` data bits, parity selector 0 none, 1 odd,
    // 2 even, anything else none; one stop bit; raw; DTR and RTS on) and starts the thread.
    // 0 on success; 16 null path; 8 the device cannot be opened (missing, no permission, held
    // by another: see LastError); 4 the line settings were refused (also an unsupported baud
    // rate or byte size); 1 the modem lines cannot be read for line watch; 32 the wake-up
    // events or the thread cannot be created. On POSIX 2 is not produced: reads wait in
    // poll(), so there are no driver time-outs to set; on Windows 2 is SetCommTimeouts
    // refused. A monitor that is running is stopped first. On Windows "COM3" opens \\.\COM3.
    int Open(const char* path, int baudRate, int parity, int byteSize, int lineWatch);
    // errno of the last failed Open, for the operator's message.
    int LastError() const;

    const char* GetReadBuffer() const;
    std::int32_t GetReadCount() const;
    void RequestNextRead();

    // Ends the thread (the stop event) and joins it. Safe to call more than once.
    void Stop();
    // From a successful Open until the thread ends (before its code 1).
    bool Running() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_; // shared with the thread, which may outlive a monitor
                                 // destroyed from its own callback
};

} // namespace ostrim

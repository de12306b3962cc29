#pragma once
// A serial device (or the program's side of a pseudo-terminal) opened exclusively and set raw.
// Both the GPS port and the base-station port use it; it is the only code that knows termios.
//
// Results: 0 on success, otherwise the errno of the call that failed. A read or write that runs
// out of time is not an error: it returns 0 with a short count.
//
// Exclusive open: flock(LOCK_EX | LOCK_NB) on the descriptor stops every other opener that asks
// for the lock, root included, and within this process too (another Ostrim always); the kernel
// drops the lock with the last descriptor, so a crash never leaves it behind. A held device
// gives EBUSY.
//
// TIOCEXCL also stops programs that do not lock: their open() fails with EBUSY unless they have
// CAP_SYS_ADMIN. It is a flag of the tty, not of our descriptor, so it lasts as long as the tty:
// - a real serial device (ttyUSB, ttyACM, ttyS): the kernel frees the tty at its last close,
//   which a crash performs too, and the flag goes with it. Only a tty kept open by another
//   process (a program that opened it before us), or a close still waiting up to the driver's
//   closing_wait (30 s) for output a stuck adapter does not take, keeps it a while longer.
// - a pseudo-terminal: the tty lives as long as its master side is open (the simulator, a
//   program bridging a receiver onto a pty), so a flag left by a crash would refuse every later
//   open of the service's user for good. It is not set there: on a pty a program that does
//   not lock may open the slave beside Ostrim and take bytes meant for it.
// Close clears the flag again, as another descriptor may hold the tty.
//
// Threads: a device is used by one thread at a time. It may be handed to another thread when
// that thread starts or after it has been joined (the GPS monitor opens on the caller's thread
// and reads and closes on its own). No two calls on one device may overlap.
//
// The descriptor stays non-blocking: every wait is a poll() against a monotonic deadline, so a
// read or write never blocks past its time-out and a stop event can be polled beside the port.

#include "platform/posix/Deadline.h"
#include "platform/posix/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace ostrim {

enum class Parity { None, Odd, Even };

struct SerialSettings {
    int baudRate = 38400;
    int byteSize = 8; // 5 to 8
    Parity parity = Parity::None;
    // Always one stop bit, no hardware or software flow control, every byte passed unchanged.
};

struct ReadTimeouts {
    // The whole read ends this long after it began.
    std::chrono::milliseconds total{0};
    // Once a byte has come, the read ends when no next byte follows within this time; 0: none.
    std::chrono::milliseconds interByte{0};
};

// The modem input lines. Ring and carrier-detect transition counts are there where the driver
// keeps them (TIOCGICOUNT); they catch a change that came and went between two looks.
struct ModemLines {
    bool ring = false;
    bool carrierDetect = false;
    bool haveCounts = false;
    std::uint32_t ringCount = 0;
    std::uint32_t carrierDetectCount = 0;
};

// True when `error` from a modem-line call means only that the device has none (a
// pseudo-terminal answers ENOTTY), not that the call failed.
bool IsNoModemLines(int error);

// True for a device whose tty outlives its last close (a pseudo-terminal's slave, whose tty
// lives while its master is open): TIOCEXCL set on it would outlive a crash.
bool TtyOutlivesLastClose(dev_t device);

// True when the baud rate has a termios speed here.
bool IsSupportedBaudRate(int baudRate);

// SerialDevice::Drain's wait, given how to ask for the bytes queued (0 or errno): a
// pseudo-terminal keeps no queue, so only this way is a queue that never empties seen in a test.
int WaitForEmptyOutput(const std::function<int(int* queued)>& queuedBytes, const Deadline& limit,
                       int stopFd);

class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(SerialDevice&&) noexcept = default;
    SerialDevice& operator=(SerialDevice&& other) noexcept;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens `path` for reading and writing, exclusively, without becoming its controlling
    // terminal. EBUSY when another holder has it. Closes a device already open first.
    int Open(const std::string& path);
    bool IsOpen() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }

    // Raw line at the given speed, size and parity (parity checking on when there is parity):
    // no echo, no line editing, no signals, no CR/LF translation, no stripping, no XON/XOFF, no
    // output processing, no hardware flow control, receiver on, modem control ignored (CLOCAL),
    // reads return as soon as one byte is there. The settings are read back; EINVAL when the
    // device did not take them or the speed or size is not supported.
    int Configure(const SerialSettings& settings);
    // The line's speed, size and parity as the device has them now.
    int ReadSettings(SerialSettings* settings) const;

    // Asserts DTR and RTS. A device without modem lines gives ENOTTY (see IsNoModemLines).
    int AssertDtrRts();
    int GetModemLines(ModemLines* lines) const;

    // What is there now, up to `size` bytes, without waiting: 0 with *got (possibly 0), or errno.
    // End of file (the other side of a pseudo-terminal closed) is EIO.
    int ReadAvailable(std::uint8_t* buffer, std::size_t size, std::size_t* got);
    // Waits for `count` bytes within the time-outs; *got says how many came.
    int Read(std::uint8_t* buffer, std::size_t count, ReadTimeouts timeouts, std::size_t* got);
    // Writes all bytes, over as many partial writes as it takes. Gives up, with a short count,
    // when the device takes nothing for `stall`, and at `limit` in any case; with flow control
    // off a working line never stalls, so only a stuck device (or a pseudo-terminal nobody
    // reads) is cut off. A wait ends with ECANCELED once `stopFd` (an event, -1 for none) is
    // readable; *written says how much went before.
    int Write(const std::uint8_t* bytes, std::size_t count, std::chrono::milliseconds stall,
              std::size_t* written, const Deadline& limit = Deadline::Never(), int stopFd = -1);
    // Waits until the driver's output queue is empty, looking every 0.25 ms: tcdrain() has
    // no time-out, and a USB adapter whose transfer never completes would hold it for ever.
    // 0 once empty; ETIMEDOUT at `limit`, ECANCELED once `stopFd` is readable, bytes still
    // queued. A pseudo-terminal keeps no queue of its own, so on one this returns at once.
    int Drain(const Deadline& limit = Deadline::Never(), int stopFd = -1);
    // Discards received bytes that were not read. Output is discarded only by DiscardOutput:
    // on a pseudo-terminal that would also drop bytes the other side has not read yet.
    int DiscardInput();
    // Discards output not yet sent, for a device that has stopped taking it: closing a port
    // with output queued waits for it to leave (up to the driver's closing_wait, 30 s). Bytes a
    // USB serial driver has already put in a transfer stay counted, and the close waits for
    // them all the same; only `setserial closing_wait none` (root) lifts that.
    int DiscardOutput();

    // Clears TIOCEXCL (where set), releases the lock and closes. 0 (also when nothing was open) or errno.
    int Close();

private:
    UniqueFd fd_;
};

} // namespace ostrim

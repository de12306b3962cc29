#pragma once
// The base station's serial port, used synchronously: every call returns when it is done or its
// time-out has run out, on the calling thread. The port is opened for one exchange and closed.
//
// Result codes: 0 success; 1 fewer bytes transferred than asked (for a read, the time-out ran
// out first); -1 the system call failed.
//
// Thread rule: a handle belongs to the thread that opened it. The exclusive open is the only
// exclusion between threads: while one handle is open, every other open of the port fails.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrim {

struct BaseStationHandle; // opaque
using BaseStationPortHandle = BaseStationHandle*;

// The device of a port number. The base-station list holds device paths here; a bare number
// (from an operator or an old habit) still names a port: n is /dev/ttyS(n-1), as COM1 is ttyS0.
// 0 or less (no selection) gives the empty name, which opens nothing (ENOENT). On Windows n is
// \\.\COMn (port 0 too, which opens nothing); a negative number gives the empty name.
std::string MakeComPortName(int portNumber);
// The device of a base-station list entry: a bare decimal number goes through MakeComPortName,
// anything else is taken as the device path it is (on Windows "COM12" as \\.\COM12).
std::string PortNameFromListText(const std::string& text);

// Opens the device exclusively at 38400 baud 8N1, raw; null when it cannot be opened or set up.
// `stopFd` (an EventFd's descriptor, -1 for none) cuts the waits of writes, purges and the close
// short while it is raised, so the program can end during an exchange with a stuck device: each
// of them then waits only as long as a working device needs for a byte (20 ms), so the frame in
// hand, an off frame above all, still goes out when the device takes it.
BaseStationPortHandle OpenBaseStationPort(const char* name, int stopFd = -1);
// errno of the last failed open on this thread, for the operator's message.
int LastBaseStationOpenError();
// Lets output still queued leave first (within 300 ms; what is left then is discarded, or the
// close itself would wait for it).
int CloseBaseStationPort(BaseStationPortHandle handle);
int PurgeBaseStationPort(BaseStationPortHandle handle);
// Lets earlier output drain, discards pending input, then writes. The drain and the write
// together wait at most 300 ms: a working line takes a byte in well under one, so a device that
// takes nothing for that long is stuck. Earlier output that has not left by then gives 1 with
// nothing written, as these bytes would only queue behind it.
int WriteBaseStationPort(BaseStationPortHandle handle, const std::uint8_t* bytes, std::size_t count);
// Returns when all `count` bytes are there; or 30 ms after a byte with no next one; or after
// 100 ms x count + 500 ms in all.
int ReadBaseStationPort(BaseStationPortHandle handle, std::uint8_t* buffer, std::size_t count);

} // namespace ostrim

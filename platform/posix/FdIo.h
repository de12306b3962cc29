#pragma once
// Reads and writes on a non-blocking descriptor, shared by the serial device and the
// pseudo-terminal's master side. Results are 0 or errno; running out of time is a short count.

#include "platform/posix/Deadline.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ostrim {

// What is there now, up to `size` bytes, without waiting: 0 with *got (0 when nothing is
// there), or errno. End of file (the other side of a pseudo-terminal gone) is EIO.
int ReadNow(int fd, std::uint8_t* buffer, std::size_t size, std::size_t* got);

// Writes all bytes over as many partial writes as it takes, waiting in poll() while the
// descriptor takes nothing, for at most `stall` without progress and never past `limit`; then
// returns 0 with the short count in *written. `stopFd` (an event, -1 for none) ends a wait as
// soon as it is readable: ECANCELED, with what was written so far in *written.
int WriteAll(int fd, const std::uint8_t* bytes, std::size_t count, std::chrono::milliseconds stall,
             std::size_t* written, const Deadline& limit = Deadline::Never(), int stopFd = -1);

} // namespace ostrim

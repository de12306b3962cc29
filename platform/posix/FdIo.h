#pragma once
// Reads and writes on a non-blocking descriptor, shared by the serial device and the
// pseudo-terminal's master side. Results are 0 or errno; running out of time is a short count.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ostrim {

// What is there now, up to `size` bytes, without waiting: 0 with *got (0 when nothing is
// there), or errno. End of file (the other side of a pseudo-terminal gone) is EIO.
int ReadNow(int fd, std::uint8_t* buffer, std::size_t size, std::size_t* got);

// Writes all bytes over as many partial writes as it takes, waiting in poll() while the
// descriptor takes nothing, for at most `stall` without progress; then returns 0 with the short
// count in *written.
int WriteAll(int fd, const std::uint8_t* bytes, std::size_t count, std::chrono::milliseconds stall,
             std::size_t* written);

} // namespace ostrim

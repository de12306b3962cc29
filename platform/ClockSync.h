#pragma once
// Whether the computer's clock is kept synchronised (NTP and the like): a time measured against
// it, such as the receiver's lag, means something only then.

namespace ostrim {

enum class ClockSync { Synchronised, NotSynchronised, Unknown };

// Linux: the kernel's clock status, as `timedatectl show -p NTPSynchronized` reads it; Unknown
// where the call is refused (the service's sandbox refuses it). Windows: Unknown, as the system
// gives no cheap answer (`w32tm /query /status` does).
ClockSync SystemClockSync();

} // namespace ostrim

#pragma once
// Turns two looks at the modem lines into the monitor's line notifications.

#include "platform/posix/SerialDevice.h"

#include <vector>

namespace ostrim {

inline constexpr int kRingCode = 4;
inline constexpr int kCarrierOnCode = 5;
inline constexpr int kCarrierOffCode = 6;

// A ring reports 4 only while the ring indicator is on, and a carrier-detect change reports 5
// or 6 by the line's state now. Transition counts, where the driver keeps them, catch a change
// that came and went between the two looks; a ring already over by then reports nothing.
inline std::vector<int> LineWatchCodes(const ModemLines& before, const ModemLines& now)
{
    bool counted = before.haveCounts && now.haveCounts;
    bool ringEvent = (now.ring && !before.ring) || (counted && now.ringCount != before.ringCount);
    bool carrierEvent = now.carrierDetect != before.carrierDetect ||
                        (counted && now.carrierDetectCount != before.carrierDetectCount);
    std::vector<int> codes;
    if (ringEvent && now.ring)
        codes.push_back(kRingCode);
    if (carrierEvent)
        codes.push_back(now.carrierDetect ? kCarrierOnCode : kCarrierOffCode);
    return codes;
}

} // namespace ostrim

#include "platform/ClockSync.h"

namespace ostrim {

ClockSync SystemClockSync()
{
    return ClockSync::Unknown;
}

} // namespace ostrim

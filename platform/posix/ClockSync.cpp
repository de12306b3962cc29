#include "platform/ClockSync.h"

#include <sys/timex.h>

namespace ostrim {

ClockSync SystemClockSync()
{
    // With no mode bits set, adjtimex only reads.
    timex status{};
    const int state = ::adjtimex(&status);
    if (state == -1)
        return ClockSync::Unknown;
    return state == TIME_ERROR || (status.status & STA_UNSYNC) != 0 ? ClockSync::NotSynchronised
                                                                     : ClockSync::Synchronised;
}

} // namespace ostrim

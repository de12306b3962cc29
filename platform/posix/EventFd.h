#pragma once
// A wake-up event for a thread that waits in poll(): raised from any thread, cleared by the
// waiter. Raising it twice before it is cleared counts as once.

#include "platform/posix/UniqueFd.h"

namespace ostrim {

class EventFd {
public:
    // 0, or errno when the event cannot be created.
    int Create();
    bool Valid() const { return fd_.Valid(); }
    // The descriptor to poll for reading; readable while the event is raised.
    int Fd() const { return fd_.Get(); }

    // Safe from any thread, including signal handlers.
    void Raise() const;
    void Clear() const;
    // Whether it is raised now, without waiting or clearing it.
    bool IsRaised() const;

private:
    UniqueFd fd_;
};

} // namespace ostrim

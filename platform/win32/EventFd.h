#pragma once
// A wake-up event for a thread that waits in WaitForMultipleObjects: raised from any thread,
// cleared by the waiter. Raising it twice before it is cleared counts as once. A manual-reset
// event object; Fd() gives its handle as an int (see Win32Error.h) so that the shared
// interfaces pass it as they pass an eventfd.

namespace ostrim {

class EventFd {
public:
    EventFd() = default;
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    // 0, or errno when the event cannot be created.
    int Create();
    bool Valid() const { return handle_ >= 0; }
    int Fd() const { return handle_; }

    void Raise() const;
    void Clear() const;
    bool IsRaised() const;

private:
    int handle_ = -1;
};

// Whether the event that `fd` (an EventFd's Fd(), -1 for none) names is raised now.
bool IsEventRaised(int fd);

} // namespace ostrim

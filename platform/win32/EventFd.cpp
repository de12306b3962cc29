#include "platform/win32/EventFd.h"

#include "platform/win32/Win32Error.h"

#include <windows.h>

namespace ostrim {

EventFd::~EventFd()
{
    if (handle_ >= 0)
        ::CloseHandle(HandleOfInt(handle_));
}

int EventFd::Create()
{
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return LastErrno();
    if (handle_ >= 0)
        ::CloseHandle(HandleOfInt(handle_));
    handle_ = IntOfHandle(event);
    return 0;
}

void EventFd::Raise() const
{
    if (handle_ >= 0)
        ::SetEvent(HandleOfInt(handle_));
}

void EventFd::Clear() const
{
    if (handle_ >= 0)
        ::ResetEvent(HandleOfInt(handle_));
}

bool EventFd::IsRaised() const
{
    return IsEventRaised(handle_);
}

bool IsEventRaised(int fd)
{
    return fd >= 0 && ::WaitForSingleObject(HandleOfInt(fd), 0) == WAIT_OBJECT_0;
}

} // namespace ostrim

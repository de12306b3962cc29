#pragma once
// The wake-up event of this platform: an eventfd on POSIX, an event object on Windows. Both give
// an int for Fd(), so a stop event is passed alike to the serial layer everywhere.

#ifdef _WIN32
#include "platform/win32/EventFd.h"
#else
#include "platform/posix/EventFd.h"
#endif

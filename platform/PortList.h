#pragma once
// The serial ports present on this machine: devices under /dev on POSIX, COM ports on Windows.

#ifdef _WIN32
#include "platform/win32/PortList.h"
#else
#include "platform/posix/PortList.h"
#endif

#pragma once
// Local time of a time_t, thread-safe on both systems.

#include <ctime>

namespace ostrim {

// False when the time cannot be converted.
inline bool ToLocalTime(std::time_t time, std::tm* local)
{
#ifdef _WIN32
    return ::localtime_s(local, &time) == 0;
#else
    return ::localtime_r(&time, local) != nullptr;
#endif
}

} // namespace ostrim

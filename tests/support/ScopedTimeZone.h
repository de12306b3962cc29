#pragma once
// Sets TZ for the life of the object, so tests that format local time pass in any zone.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace ostrim::test {

#ifdef _WIN32
// The C library reads TZ too ("EET-2", "UTC0"); an empty value is its unset.
inline int setenv(const char* name, const char* value, int) { return ::_putenv_s(name, value); }
inline int unsetenv(const char* name) { return ::_putenv_s(name, ""); }
inline void tzset() { ::_tzset(); }
#endif

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

} // namespace ostrim::test

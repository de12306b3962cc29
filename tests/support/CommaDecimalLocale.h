#pragma once
// Puts a comma-decimal numeric locale (German) in force for the life of the object, compiling
// one with localedef into a scratch folder where none is installed, and restores "C" after.
// Active() is false where neither works; callers then skip.

#include "tests/support/ScratchFolder.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace ostrim::test {

class CommaDecimalLocale {
public:
    CommaDecimalLocale()
    {
#ifdef _WIN32
        // Windows names its locales otherwise and has them all.
        for (const char* name : {"German_Germany.1252", "de-DE", "German"}) {
            if (std::setlocale(LC_NUMERIC, name) != nullptr) {
                active_ = true;
                return;
            }
        }
#else
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE.ISO-8859-1", "de_DE"}) {
            if (std::setlocale(LC_NUMERIC, name) != nullptr) {
                active_ = true;
                return;
            }
        }
        const std::string command = "localedef -i de_DE -f ISO-8859-1 " +
                                    (folder_ / "de_DE.ISO-8859-1") + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
            return;
        ::setenv("LOCPATH", folder_.Path().c_str(), 1);
        active_ = std::setlocale(LC_NUMERIC, "de_DE.ISO-8859-1") != nullptr;
        ::unsetenv("LOCPATH");
        if (active_) {
            char printed[16];
            std::snprintf(printed, sizeof printed, "%.1f", 3.5);
            active_ = std::string(printed) == "3,5"; // the locale really is in force
        }
#endif
    }
    ~CommaDecimalLocale() { std::setlocale(LC_NUMERIC, "C"); }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool Active() const { return active_; }

private:
    ScratchFolder folder_;
    bool active_ = false;
};

} // namespace ostrim::test

#pragma once
// The fuzz targets' one way to fail: say what broke and abort, so libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ostrim::fuzz {

inline void Check(bool condition, const char* what, std::string_view detail = {})
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "  at: %.*s\n", static_cast<int>(detail.size()), detail.data());
    std::abort();
}

} // namespace ostrim::fuzz

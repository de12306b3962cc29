#include "gps/FixQuality.h"

#include <algorithm>

namespace ostrim {

namespace {

// "0", "00": all digits, all zero.
bool IsQualityZero(std::string_view quality)
{
    return !quality.empty() &&
           std::all_of(quality.begin(), quality.end(), [](char c) { return c == '0'; });
}

} // namespace

int FixQualityNumber(std::string_view quality)
{
    if (quality.empty())
        return -1;
    int value = 0;
    for (char c : quality) {
        if (c < '0' || c > '9')
            return -1;
        value = std::min(value * 10 + (c - '0'), 9999); // "00" is 0, as IsQualityZero reads it
    }
    return value;
}

bool NoPositionGate::MayTrigger(std::string_view quality)
{
    const bool none = IsQualityZero(quality);
    if (none != noPosition_)
        fields_.SetText(Field::Status, none ? kNoPositionText : kPositionAgainText);
    noPosition_ = none;
    return !none;
}

} // namespace ostrim

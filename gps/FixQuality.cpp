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

bool NoPositionGate::MayTrigger(std::string_view quality)
{
    const bool none = IsQualityZero(quality);
    if (none != noPosition_)
        fields_.SetText(Field::Status, none ? kNoPositionText : kPositionAgainText);
    noPosition_ = none;
    return !none;
}

} // namespace ostrim

#pragma once
// The receiver's own word on a GGA fix: quality 0 means it has no position, whatever the
// latitude and longitude fields hold (receivers may repeat their last position there). Such a
// fix is shown and logged like any other; it only never reaches the trigger engine.

#include "runstate/DialogFields.h"

#include <string_view>

namespace ostrim {

// Field 7 of a GGA sentence as a number; -1 when it is empty or not all digits.
int FixQualityNumber(std::string_view quality);

inline constexpr char kNoPositionText[] =
    "GPS receiver has no position (fix quality 0): fixes logged, no node switched";
inline constexpr char kPositionAgainText[] = "GPS receiver has a position again";

// Thread rule: the GPS reader thread only, as GpsInput.
class NoPositionGate {
public:
    explicit NoPositionGate(DialogFields& fields) : fields_(fields) {}

    // `quality` is field 7 of the sentence. False for quality 0; the first fix of such a run,
    // and the first good one after it, set one status text each. An empty or unreadable field
    // is no statement of the receiver's and lets the fix through.
    bool MayTrigger(std::string_view quality);
    // The last fix had quality 0.
    bool NoPosition() const { return noPosition_; }

private:
    DialogFields& fields_;
    bool noPosition_ = false;
};

} // namespace ostrim

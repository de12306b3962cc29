#pragma once
// Watches the distance between consecutive fixes on their way to the trigger engine. A sensor
// fires only at a fix inside its firing region, which reaches no deeper than the threshold; when
// fixes lie further apart than that, a pass can fall between two of them. Says so once when such
// a stretch starts and once when it ends, not at every fix.

#include "runstate/DialogFields.h"
#include "runstate/RunState.h"
#include "trigger/TriggerInterfaces.h"

#include <atomic>
#include <functional>
#include <string>

namespace ostrim {

// Fixes in a row that make a stretch: one wide step (a gap after Trigger off) is not one.
inline constexpr int kSpacingRun = 3;

// "Fixes %d m apart: sensors may be missed", the spacing rounded to whole metres.
std::string SparseFixesText(double metres);
// "Fixes %d m apart again: closer than the threshold".
std::string DenseFixesText(double metres);

// Thread rule: TriggerOnPosition runs on the GPS reader thread (it sits where the engine sits,
// so it sees fixes only while triggering is on); LargestSpacing may be read from any thread.
class FixSpacingWatch : public PositionConsumer {
public:
    // Called with the sparse text when a stretch starts and with an empty text when it ends,
    // on the reader thread, after the status line has been set.
    using OnChange = std::function<void(const std::string& warning)>;

    FixSpacingWatch(const RunState& state, DialogFields& fields, PositionConsumer& next,
                    OnChange onChange = {});

    // Measures the step from the previous fix, reports, then hands the fix on.
    int TriggerOnPosition(double latitude, double longitude) override;
    int TriggerOnFix(double latitude, double longitude, std::int64_t utcMs) override;

    // The widest step between consecutive fixes seen so far, metres; 0 before two fixes.
    double LargestSpacing() const { return largest_.load(); }

private:
    void Measure(double latitude, double longitude);

    const RunState& state_;
    DialogFields& fields_;
    PositionConsumer& next_;
    OnChange onChange_;
    bool havePrevious_ = false;
    double previousLatitude_ = 0;
    double previousLongitude_ = 0;
    int run_ = 0;        // fixes in a row on the other side of the threshold from `sparse_`
    bool sparse_ = false;
    std::atomic<double> largest_{0.0};
};

} // namespace ostrim

// Fixes further apart than the threshold, three in a row, are reported once when the stretch
// starts and once when it ends; every fix still reaches the engine.

#include "tests/support/FakeDialogFields.h"
#include "tests/support/RecordingPositionConsumer.h"
#include "trigger/FixSpacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ostrim {
namespace {

struct SpacingCase {
    const char* name;
    std::vector<double> steps; // metres north between consecutive fixes
    std::vector<std::string> statuses;
    std::vector<std::string> changes; // what the dialog's title is told
};

TEST(FixSpacingWatch, WideStretch_SaidOnceWhenItStartsAndOnceWhenItEnds)
{
    const std::string sparse = "Fixes 36 m apart: sensors may be missed";
    const std::string dense = "Fixes 2 m apart again: closer than the threshold";
    const SpacingCase cases[] = {
        {"close fixes", {2, 2, 2, 2, 2}, {}, {}},
        {"two wide steps are not a stretch", {36, 36, 2, 36, 36, 2}, {}, {}},
        {"a long stretch", {36, 36, 36, 36, 36, 36}, {sparse}, {sparse}},
        {"a stretch that ends", {36, 36, 36, 2, 2, 2, 2}, {sparse, dense}, {sparse, ""}},
        // One wide step among close ones does not end and restart it.
        {"an end that wavers", {36, 36, 36, 2, 2, 36, 2, 2, 2}, {sparse, dense}, {sparse, ""}},
    };
    for (const SpacingCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunState state; // threshold 10 m
        test::FakeDialogFields fields;
        test::RecordingPositionConsumer engine;
        std::vector<std::string> changes;
        FixSpacingWatch watch(state, fields, engine, [&](const std::string& w) { changes.push_back(w); });
        constexpr double kDegreesPerMetre = 1 / 111250.0; // along the meridian at 52 degrees
        double latitude = 52.24;
        watch.TriggerOnPosition(latitude, 6.85);
        for (double step : c.steps) {
            latitude += step * kDegreesPerMetre;
            watch.TriggerOnPosition(latitude, 6.85);
        }
        EXPECT_EQ(fields.StatusHistory(), c.statuses);
        EXPECT_EQ(changes, c.changes);
        EXPECT_EQ(engine.Count(), c.steps.size() + 1);
        EXPECT_NEAR(watch.LargestSpacing(), *std::max_element(c.steps.begin(), c.steps.end()), 0.2);
    }
}

} // namespace
} // namespace ostrim

// A pass by a sensor that ends without a firing is told as it ends: the sensor's row, the
// history, the event log and the summary's count, with the reason and the closest approach.

#include "run/PanelText.h"
#include "tests/support/SessionRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Road;
using test::SessionRig;

TEST(LiveMisses, PassWithSwitchingOff_ReportedMissedWithReasonAndClosestApproach)
{
    SessionRig rig({20.0});
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    rig.Control().OnTriggerOnOff(); // off: the operator's choice
    // Past the sensor 4 m off the road and on until 50 m beyond it, where the pass ends.
    const std::vector<std::string> sentences = Road::Sentences(0, 110, 0.7);
    rig.Play(sentences, 100);
    ASSERT_TRUE(rig.PlayedAll(15s));
    ASSERT_TRUE(rig.LogsReach(sentences.size(), 10s));

    const RunSnapshot s = rig.GetSession().Monitor().Take();
    ASSERT_EQ(s.sensors.size(), 1u);
    EXPECT_EQ(s.sensors[0].state, SensorRow::State::Held) << "switching is still off";
    EXPECT_EQ(s.sensors[0].passesMissed, 1);
    EXPECT_EQ(s.sensors[0].missReason, "switching off");
    EXPECT_NEAR(s.sensors[0].closest, Road::kSensorOffset, 0.2);
    rig.Control().OnTriggerOnOff(); // on again: the row shows the miss
    const PanelTexts texts = MakePanelTexts(rig.GetSession().Monitor().Take());
    EXPECT_EQ(texts.sensors[0].state.text,
              "missed " + ClockText(s.sensors[0].missedAt) + ": switching off, closest 4.0 m");
    const auto history = rig.GetSession().Monitor().HistoryFrom(0);
    EXPECT_TRUE(std::any_of(history.begin(), history.end(), [](const HistoryEntry& e) {
        return e.text == "Sensor 1 missed: switching off, closest 4.0 m";
    }));

    rig.StopRun();
    EXPECT_TRUE(rig.Base().Commands().empty());
    const std::string events = test::ReadFile(rig.GetSession().State().logPaths.Events());
    EXPECT_NE(events.find(",missed,1,40A00001,on-fix,,,switching off: inside the firing region at "),
              std::string::npos)
        << events;
    EXPECT_NE(rig.GetSession().Summary().find("; passes: sensor 1 fired 0 missed 1;"), std::string::npos)
        << rig.GetSession().Summary();
}

} // namespace
} // namespace ostrim

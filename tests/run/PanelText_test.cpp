// The panel's words from a run's state: the state indicator says what the engine will do with
// the next fix, a sensor row never says "armed" while nothing can fire.

#include "run/PanelText.h"
#include "run/RunMonitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace ostrim {
namespace {

TEST(PanelText, RunStates_IndicatorAndSensorRowSayWhatTheEngineWillDo)
{
    const struct {
        const char* name;
        bool started;
        int sensors;
        bool triggerOn;
        bool baseStationHold;
        bool predictive;
        const char* indicator;
        PanelLevel level;
        const char* row; // the first sensor's state, armed if it could fire
    } cases[] = {
        {"before Start", false, 1, true, false, false, "", PanelLevel::Normal, "armed"},
        {"switching on", true, 1, true, false, false, "Switching on (on-fix rule)", PanelLevel::Good, "armed"},
        {"predictive", true, 1, true, false, true, "Switching on (predictive rule)", PanelLevel::Good, "armed"},
        {"operator", true, 1, false, false, false, "Off: turned off by the operator", PanelLevel::Warning,
         "held: switching off"},
        {"base station", true, 1, false, true, false, "Off: base station did not answer, checking every 3 s",
         PanelLevel::Alarm, "held: switching off"},
        {"no sensors, triggering on", true, 0, true, false, false, "Off: no sensors loaded", PanelLevel::Alarm,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunState state;
        SensorTable table;
        table.count.store(c.sensors);
        state.triggerEnabled.store(c.triggerOn ? 1 : 0);
        state.baseStationHold.store(c.baseStationHold ? 1 : 0);
        state.predictive.store(c.predictive ? 1 : 0);
        if (c.started)
            state.logPaths.SetGps("/logs/10_00-GPS-Data.txt");
        RunMonitor monitor;
        monitor.Attach(state, table);
        const PanelTexts texts = MakePanelTexts(monitor.Take());
        EXPECT_EQ(texts.state.text, c.indicator);
        EXPECT_EQ(texts.state.level, c.level);
        ASSERT_EQ(texts.sensors.size(), static_cast<std::size_t>(c.sensors));
        if (c.row != nullptr) {
            EXPECT_EQ(texts.sensors[0].state.text, c.row);
        }
    }
}

TEST(PanelText, HeldRecordsAndMisses_ShownInRed)
{
    RunSnapshot s;
    s.fixesLogged = 509;
    s.held.records = 41;
    s.held.since = std::chrono::system_clock::now();
    SensorRow row;
    row.number = 2;
    row.nodeId = 0x403BA38B;
    row.state = SensorRow::State::Missed;
    row.missedAt = s.held.since;
    row.missReason = "switching off";
    row.closest = 3.94;
    row.distance = 57.26;
    s.sensors.push_back(row);

    const PanelTexts texts = MakePanelTexts(s);
    const std::string since = ClockText(s.held.since);
    EXPECT_EQ(texts.fixesLogged.text, "509");
    EXPECT_EQ(texts.held.text, "41 held, not yet written (since " + since + ")");
    EXPECT_EQ(texts.held.level, PanelLevel::Alarm);
    EXPECT_EQ(texts.logsState.text, "Logs not written since " + since);
    EXPECT_EQ(texts.logsState.level, PanelLevel::Alarm);
    ASSERT_EQ(texts.sensors.size(), 1u);
    EXPECT_EQ(texts.sensors[0].nodeId, "403BA38B");
    EXPECT_EQ(texts.sensors[0].state.text, "missed " + since + ": switching off, closest 3.9 m");
    EXPECT_EQ(texts.sensors[0].state.level, PanelLevel::Alarm);
    EXPECT_EQ(texts.sensors[0].distance, "57.3 m");
}

} // namespace
} // namespace ostrim

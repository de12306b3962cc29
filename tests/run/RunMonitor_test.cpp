// The run's figures as the panel and the summary show them, on a clock the test moves.

#include "run/RunMonitor.h"

#include "tests/support/MemoryLogFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

constexpr char kFix[] = "$GPGGA,123519.00,5214.40216,N,00651.09164,E,2,09,0.9,545.4,M,46.9,M,,*62\r\n";

struct FakeClock {
    MonitorTime now{std::chrono::steady_clock::time_point{} + 1000h,
                    std::chrono::system_clock::time_point{} + 1000h};
    void Advance(std::chrono::milliseconds d)
    {
        now.steady += d;
        now.wall += d;
    }
    RunMonitor::Clock Clock()
    {
        return [this] { return now; };
    }
};

TEST(RunMonitor, FixesAtSteadyIntervals_GiveCountRateAgeAndStaleness)
{
    struct Case {
        const char* name;
        int fixes;
        std::chrono::milliseconds interval;
        std::chrono::milliseconds silenceAfter; // after the last fix
        double rate;
        double age;
        bool stale;
    };
    const Case cases[] = {
        {"ten a second for 10 s", 100, 100ms, 100ms, 10.0, 0.1, false},
        {"young run: rate over its first second", 10, 100ms, 100ms, 10.0, 0.1, false},
        {"one a second", 8, 1000ms, 1000ms, 1.0, 1.0, false},
        {"silent for 2.5 s", 100, 100ms, 2500ms, 26 / 5.0, 2.5, true},
        {"silent for 2 s exactly", 100, 100ms, 2000ms, 31 / 5.0, 2.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        RunMonitor monitor(clock.Clock());
        EXPECT_FALSE(monitor.Take().haveFix);
        for (int i = 0; i < c.fixes; ++i) {
            if (i > 0)
                clock.Advance(c.interval);
            monitor.OnAcceptedSentence(kFix);
        }
        clock.Advance(c.silenceAfter);
        RunSnapshot s = monitor.Take();
        EXPECT_EQ(s.fixes, static_cast<std::uint64_t>(c.fixes));
        EXPECT_TRUE(s.haveFix);
        EXPECT_NEAR(s.fixRate, c.rate, 1e-9);
        EXPECT_NEAR(s.lastFixAge, c.age, 1e-9);
        EXPECT_EQ(s.fixStale, c.stale);
        EXPECT_EQ(s.quality, 2);
        EXPECT_EQ(s.satellites, 9);
    }
}

TEST(RunMonitor, StatusTexts_KeptInOrderWithRepeatsFolded)
{
    FakeClock clock;
    RunMonitor monitor(clock.Clock());
    for (const char* text : {"Trigger on", "Checksum error in GGA string", "Checksum error in GGA string",
                             "Checksum error in GGA string", "Node 1081130875 success", "Trigger on"}) {
        monitor.OnStatus(text);
        clock.Advance(1s);
    }
    std::vector<HistoryEntry> all = monitor.HistoryFrom(0);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].text, "Trigger on");
    EXPECT_EQ(all[1].text, "Checksum error in GGA string");
    EXPECT_EQ(all[1].repeats, 3u);
    EXPECT_EQ(all[1].last - all[1].first, 2s);
    EXPECT_EQ(all[3].text, "Trigger on");
    EXPECT_EQ(all[3].sequence, 3u);
    EXPECT_EQ(monitor.Take().historyEnd, 4u);
    // A viewer that has seen two entries gets the rest.
    std::vector<HistoryEntry> rest = monitor.HistoryFrom(2);
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].text, "Node 1081130875 success");
    EXPECT_NE(HistoryLine(all[1]).find("Checksum error in GGA string (x3)"), std::string::npos);

    // Past the limit the oldest go; a viewer behind them gets what is kept.
    for (std::size_t i = 0; i < RunMonitor::kHistoryLimit; ++i)
        monitor.OnStatus("Node " + std::to_string(i) + " success");
    std::vector<HistoryEntry> kept = monitor.HistoryFrom(1);
    ASSERT_EQ(kept.size(), RunMonitor::kHistoryLimit);
    EXPECT_EQ(kept.front().sequence, 4u);
    EXPECT_EQ(kept.back().text, "Node " + std::to_string(RunMonitor::kHistoryLimit - 1) + " success");
    EXPECT_EQ(monitor.HistoryFrom(RunMonitor::kHistoryLimit + 3).size(), 1u);
}

TEST(RunMonitor, Sensors_ShowStateSwitchTimeAndDistanceFromTheLastFix)
{
    FakeClock clock;
    RunMonitor monitor(clock.Clock());
    RunState state;
    SensorTable table;
    // The fix is at 52.24003600, 6.85152733; the second sensor about 111 m north of it.
    table.latitude[0] = 52.240036;
    table.longitude[0] = 6.85152733;
    table.nodeId[0] = 0x4070BF7B;
    table.latitude[1] = 52.241036;
    table.longitude[1] = 6.85152733;
    table.nodeId[1] = 0xC0000001; // shown as a negative number in the status line
    table.SetUnreadableNodeId(2, "403BA38G");
    table.count.store(3);
    monitor.Attach(state, table);

    EXPECT_TRUE(std::isnan(monitor.Take().sensors.at(0).distance)) << "no fix yet";
    monitor.OnAcceptedSentence(kFix);
    table.triggered[1].store(1);
    // The switch is its two frames written, not a status text.
    monitor.OnStatus("Node -1073741823 success");
    EXPECT_EQ(monitor.Take().nodesSwitched, 0);
    for (EventType frame : {EventType::NodeOn, EventType::NodeOff}) {
        RunEvent written;
        written.type = frame;
        written.sensor = 1;
        written.nodeId = 0xC0000001;
        written.hasNode = true;
        written.result = EventResult::Written;
        monitor.OnEvent(written);
    }
    RunSnapshot loop = monitor.Take();
    ASSERT_EQ(loop.sensors.size(), 3u);
    EXPECT_EQ(loop.sensors[2].state, SensorRow::State::NotArmed);
    EXPECT_EQ(loop.sensors[2].unreadableNodeId, "403BA38G");
    EXPECT_EQ(loop.sensors[0].state, SensorRow::State::Armed);
    EXPECT_NEAR(loop.sensors[0].distance, 0.0, 0.01);
    EXPECT_EQ(loop.sensors[1].state, SensorRow::State::Fired);
    EXPECT_TRUE(loop.sensors[1].switched);
    EXPECT_EQ(loop.sensors[1].switchedAt, clock.now.wall);
    EXPECT_NEAR(loop.sensors[1].distance, 111.26, 0.05);
    EXPECT_EQ(loop.nodesSwitched, 1);

    state.loopMode.store(0);
    state.nextIndex.store(0);
    RunSnapshot backAndForth = monitor.Take();
    EXPECT_EQ(backAndForth.sensors[0].state, SensorRow::State::Next);
    EXPECT_EQ(backAndForth.sensors[1].state, SensorRow::State::Fired);
    EXPECT_EQ(backAndForth.sensors[2].state, SensorRow::State::NotArmed);
}

TEST(RunMonitor, Summary_NamesFilesWithRecordsOnDiskSwitchesPassesAndFailures)
{
    FakeClock clock;
    RunMonitor monitor(clock.Clock());
    RunState state;
    SensorTable table;
    table.count.store(2);
    test::MemoryLogFiles files;
    GpsLogs logs(state.logPaths, files);
    monitor.Attach(state, table, &logs);
    EXPECT_FALSE(monitor.RunStarted());
    EXPECT_EQ(monitor.Summary(), "Run summary: 0 fixes logged; 0 nodes switched, 0 switches failed; no failures.");

    state.logPaths.SetGps("/d/10_00-GPS-Data.txt");
    state.logPaths.SetRaw("/d/10_00-Raw-GPS-Data.txt");
    EXPECT_TRUE(monitor.RunStarted());
    ASSERT_EQ(logs.AppendGpsLog("fix 1\n"), 0);
    ASSERT_EQ(logs.AppendRawLog("$GPGGA,1\r\n"), 0);
    state.logPaths.SetGps("/d/10_05-GPS-Data.txt"); // End of Lap
    ASSERT_EQ(logs.AppendGpsLog("fix 2\n"), 0);
    ASSERT_EQ(logs.AppendRawLog("$GPGGA,2\r\n"), 0);
    files.SetOpenError(ENOSPC);
    ASSERT_EQ(logs.AppendGpsLog("fix 3\n"), ENOSPC); // accepted, never on disk
    ASSERT_EQ(logs.AppendRawLog("$GPGGA,3\r\n"), ENOSPC);

    auto frame = [&](EventType type, int sensor, EventResult result) {
        RunEvent event;
        event.type = type;
        event.sensor = sensor;
        event.nodeId = 12u + static_cast<std::uint32_t>(sensor);
        event.hasNode = true;
        event.result = result;
        monitor.OnEvent(event);
    };
    for (int sensor : {0, 0}) {
        frame(EventType::PassFired, sensor, EventResult::None);
        frame(EventType::NodeOn, sensor, EventResult::Written);
        frame(EventType::NodeOff, sensor, EventResult::Written);
    }
    frame(EventType::PassFired, 1, EventResult::None);
    frame(EventType::NodeOn, 1, EventResult::Written);
    frame(EventType::NodeOff, 1, EventResult::WriteFailed);
    frame(EventType::PassFired, 1, EventResult::None);
    frame(EventType::NodeOn, 1, EventResult::OpenFailed);
    RunEvent miss;
    miss.type = EventType::Missed;
    miss.sensor = 1;
    miss.detail = "switching off";
    monitor.OnEvent(miss);
    for (const char* text : {"$GPGGA missing in GGA string", "Base station failed to open"})
        monitor.OnStatus(text);
    EXPECT_EQ(monitor.Summary(),
              "Run summary: 2 fixes logged to the GPS logs /d/10_00-GPS-Data.txt (1 record) and "
              "/d/10_05-GPS-Data.txt (1 record) and the raw log /d/10_00-Raw-GPS-Data.txt (2 records); "
              "2 nodes switched, 2 switches failed; passes: sensor 1 fired 2 missed 0, sensor 2 fired 2 "
              "missed 1; 2 records lost; 1 failure: \"Base station failed to open\".");

    RescueResult rescue;
    rescue.written = 2;
    monitor.NoteRescue(rescue, "/rescue/run");
    EXPECT_NE(monitor.Summary().find("; 2 records not written during the run, written to /rescue/run; 1 failure"),
              std::string::npos)
        << monitor.Summary();
}

// The receiver's lag: each sentence's arrival on the computer's clock less its own UTC time,
// the median of the last fixes, shown only where the clock may be trusted.
TEST(RunMonitor, ReceiverLag_MedianOfArrivalLessFixTimeWhenTheClockIsSynchronised)
{
    struct Case {
        const char* name;
        ClockSync sync;
        const char* utc;                       // the fixes' time field
        std::chrono::milliseconds arrivedAt;   // after midnight UTC
        std::vector<std::chrono::milliseconds> lateBy; // a fix each, after `arrivedAt`
        const char* text;
    };
    const auto at = [](int h, int m, int s, int ms) { return std::chrono::milliseconds(((h * 60 + m) * 60 + s) * 1000 + ms); };
    const Case cases[] = {
        {"synchronised; one sentence held up", ClockSync::Synchronised, "123519.00", at(12, 35, 19, 0),
         {60ms, 63ms, 900ms}, "Receiver lag: 63 ms (median of the last 3 fixes)"},
        {"a fix before midnight, arriving after", ClockSync::Synchronised, "235959.95", at(0, 0, 0, 20), {0ms},
         "Receiver lag: 70 ms (one fix)"},
        {"not synchronised", ClockSync::NotSynchronised, "123519.00", at(12, 35, 19, 0), {63ms},
         "Receiver lag: not measured, the computer's clock is not synchronised"},
        {"not known to be", ClockSync::Unknown, "123519.00", at(12, 35, 19, 0), {63ms},
         "Receiver lag: 63 ms if the computer's clock is synchronised (one fix)"},
        {"no time in the sentence", ClockSync::Synchronised, "", at(12, 35, 19, 0), {63ms},
         "Receiver lag: no fix with a time yet"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        clock.now.sync = c.sync;
        RunMonitor monitor(clock.Clock());
        const std::string sentence = std::string("$GPGGA,") + c.utc + ",5214.40216,N,00651.09164,E,2,09,0.9,545.4,M,46.9,M,,\r\n";
        for (std::chrono::milliseconds late : c.lateBy) {
            clock.now.wall = std::chrono::system_clock::time_point{} + 24h * 20000 + c.arrivedAt + late;
            monitor.OnAcceptedSentence(sentence);
        }
        EXPECT_EQ(ReceiverLagText(monitor.Take().receiverLag), c.text);
    }
}

} // namespace
} // namespace ostrim

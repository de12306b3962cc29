#include "trigger/TriggerEngine.h"

#include "sensors/Distance.h"
#include "trigger/PathPrediction.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/FakeTimers.h"
#include "tests/support/RecordingNodeSwitcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::FakeDialogFields;
using test::FakeTimers;
using test::RecordingNodeSwitcher;
using Call = FakeTimers::Call;
using Ids = std::vector<std::uint32_t>;
using Texts = std::vector<std::string>;

struct Position {
    double latitude;
    double longitude;
};

// Sensors along the track, about 136 m apart: a fix near one is far from the others.
Position TrackSensor(int i)
{
    return {45.26 + 0.001 * i, 93.70 + 0.001 * i};
}
constexpr std::uint32_t kFirstNode = 0x4070BF70;

double Metres(Position a, Position b)
{
    return GeodesicDistance(a.latitude, a.longitude, b.latitude, b.longitude);
}

std::string TraceOf(Position vehicle, Position sensor)
{
    return "Distance is: " + std::to_string(static_cast<int>(Metres(vehicle, sensor))) + "\n";
}

// 4 m from sensor i, on the side where both coordinate numbers are smaller.
Position Near(int i)
{
    Position s = TrackSensor(i);
    return {s.latitude - 0.00003, s.longitude - 0.00003};
}

class TriggerEngineTest : public testing::Test {
protected:
    TriggerEngineTest()
    {
        timers.onExpiry = [this](int id) { engine.OnTimer(id); };
    }

    void Add(Position p, std::uint32_t nodeId)
    {
        int i = table.count.load();
        table.latitude[i] = p.latitude;
        table.longitude[i] = p.longitude;
        table.nodeId[i] = nodeId;
        table.triggered[i] = 0;
        table.count = i + 1;
    }
    void LoadTrack(int n)
    {
        for (int i = 0; i < n; ++i)
            Add(TrackSensor(i), kFirstNode + i);
    }
    int At(Position p) { return engine.TriggerOnPosition(p.latitude, p.longitude); }
    int AtSensor(int i) { return At(Near(i)); }
    void BackAndForth() { state.loopMode = 0; }
    Ids Nodes(std::initializer_list<int> sensors)
    {
        Ids ids;
        for (int i : sensors)
            ids.push_back(kFirstNode + i);
        return ids;
    }
    Texts Fired(int i) // the status texts of a Back and Forth firing of track sensor i
    {
        const std::uint32_t node = kFirstNode + i;
        return {NearerSensorText(node), RecordingNodeSwitcher::SuccessText(node)};
    }

    RunState state;
    SensorTable table;
    FakeDialogFields fields;
    FakeTimers timers;
    RecordingNodeSwitcher switcher{fields};
    Texts traces;
    TriggerEngine engine{state, table, fields, timers, switcher,
                         [this](const std::string& line) { traces.push_back(line); }};
};

// ---------------------------------------------------------------------------------------------
// Loop mode

TEST_F(TriggerEngineTest, Loop_PassingOrder102_FiresInThatOrderAndRearmsAfter5s)
{
    LoadTrack(3);
    EXPECT_EQ(AtSensor(1), 0);
    EXPECT_EQ(AtSensor(0), 0);
    EXPECT_FALSE(timers.Running(kAllTriggeredTimer));
    EXPECT_EQ(AtSensor(2), 0);
    EXPECT_EQ(switcher.Switched(), Nodes({1, 0, 2}));
    ASSERT_TRUE(timers.Running(kAllTriggeredTimer));
    EXPECT_EQ(timers.Period(kAllTriggeredTimer), 5000ms);

    fields.ClearHistory();
    timers.Advance(4999ms);
    EXPECT_TRUE(fields.StatusHistory().empty());
    EXPECT_EQ(table.triggered[0].load(), 1);
    // Well past a second period: the timer was killed on its expiry and runs out only once.
    timers.Advance(20000ms);
    EXPECT_EQ(fields.StatusHistory(), Texts{"All sensors triggered"});
    EXPECT_FALSE(timers.Running(kAllTriggeredTimer));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(table.triggered[i].load(), 0) << i;

    switcher.Clear();
    AtSensor(2);
    AtSensor(0);
    AtSensor(1);
    EXPECT_EQ(switcher.Switched(), Nodes({2, 0, 1}));
}

TEST_F(TriggerEngineTest, Loop_TwoInRangeInOneFix_BothFireLowerIndexFirst)
{
    const Position vehicle{45.26, 93.70};
    const Position p{45.26003, 93.70003};
    const Position q{45.26005, 93.70001};
    ASSERT_LT(Metres(vehicle, q), 10.0);
    Add(q, 0x11);
    Add(p, 0x22);
    Add(TrackSensor(5), 0x33);
    EXPECT_EQ(At(vehicle), 0);
    EXPECT_EQ(switcher.Switched(), (Ids{0x11, 0x22}));
    EXPECT_EQ(traces.size(), 3u); // every sensor measured, fired or not
    EXPECT_FALSE(timers.Running(kAllTriggeredTimer));
}

TEST_F(TriggerEngineTest, Loop_StillInRange_NoRefireUntilRearm)
{
    LoadTrack(2);
    AtSensor(0);
    AtSensor(0);
    AtSensor(0);
    EXPECT_EQ(switcher.Switched(), Nodes({0}));
    EXPECT_EQ(traces.size(), 6u); // a fired sensor is still measured
    AtSensor(1);
    timers.Advance(5000ms);
    AtSensor(0);
    EXPECT_EQ(switcher.Switched(), Nodes({0, 1, 0}));
}

TEST_F(TriggerEngineTest, Loop_SwitchFails_SensorStillCountsAsFired)
{
    LoadTrack(1);
    switcher.SetPortOpens(false);
    AtSensor(0);
    AtSensor(0);
    EXPECT_EQ(switcher.Switched(), Nodes({0}));
    EXPECT_EQ(fields.Status(), "Base station failed to open");
    EXPECT_TRUE(timers.Running(kAllTriggeredTimer));
}

TEST_F(TriggerEngineTest, Loop_TraceLines_OnePerSensorPerFix)
{
    Add({46.0, 94.0}, 1);
    Add({45.26009, 93.70}, 2);
    At({45.0, 93.0});
    At({45.26, 93.70});
    // 135869.091 m and 10.002 m (see the distance tests), cut to whole metres.
    const Texts expected = {
        "Distance is: 135869\n",
        TraceOf({45.0, 93.0}, {45.26009, 93.70}),
        TraceOf({45.26, 93.70}, {46.0, 94.0}),
        "Distance is: 10\n",
    };
    EXPECT_EQ(traces, expected);
}

// Headless prints the trace whichever rule is in force.
TEST_F(TriggerEngineTest, PredictiveRule_WritesTheTraceTheOnFixRuleWrites)
{
    LoadTrack(3);
    for (bool loop : {true, false}) {
        SCOPED_TRACE(loop ? "Loop" : "Back and Forth search");
        state.loopMode = loop ? 1 : 0;
        std::vector<Texts> written;
        for (int predictive : {0, 1}) {
            state.predictive = predictive;
            traces.clear();
            std::int64_t utcMs = 36000000;
            for (Position p : {Position{45.0, 93.0}, Position{45.0001, 93.0001}}) {
                engine.TriggerOnFix(p.latitude, p.longitude, utcMs);
                utcMs += 100;
            }
            written.push_back(traces);
        }
        EXPECT_EQ(written[0].size(), 6u);
        EXPECT_EQ(written[1], written[0]);
    }
    EXPECT_TRUE(switcher.Switched().empty());
}

TEST_F(TriggerEngineTest, NanSensorPosition_TracedAsMinusOneNeverFires)
{
    Add({std::numeric_limits<double>::quiet_NaN(), 93.70}, 1);
    At({45.26, 93.69});
    EXPECT_EQ(traces, Texts{"Distance is: -1\n"});
    BackAndForth();
    At({45.26, 93.69});
    EXPECT_TRUE(switcher.Switched().empty());
}

TEST_F(TriggerEngineTest, CheckAllTriggered_StartsTimerOnlyWhenEveryLoadedSensorFired)
{
    EXPECT_EQ(engine.CheckAllTriggered(), 1);
    EXPECT_FALSE(timers.Running(kAllTriggeredTimer)); // nothing loaded, nothing to re-arm
    LoadTrack(3);
    table.triggered[0] = 1;
    table.triggered[2] = 1;
    table.triggered[3] = 1; // past the count: does not stand in for sensor 1
    EXPECT_EQ(engine.CheckAllTriggered(), 1);
    EXPECT_FALSE(timers.Running(kAllTriggeredTimer));
    table.triggered[1] = 1;
    EXPECT_EQ(engine.CheckAllTriggered(), 1);
    EXPECT_EQ(timers.Period(kAllTriggeredTimer), 5000ms);
}

// ---------------------------------------------------------------------------------------------
// The in-range test, in both modes

TEST_F(TriggerEngineTest, DistanceAtThreshold_DoesNotFire)
{
    const Position vehicle = Near(0);
    const Position s = TrackSensor(0);
    const double d = Metres(vehicle, s);
    LoadTrack(1);
    for (int loop : {1, 0}) {
        SCOPED_TRACE(loop ? "Loop" : "Back and Forth");
        state.loopMode = loop;
        state.nextIndex = -1;
        table.triggered[0] = 0;
        switcher.Clear();
        state.distanceThreshold = d; // exactly the distance: not closer than it
        At(vehicle);
        EXPECT_TRUE(switcher.Switched().empty());
        state.distanceThreshold = std::nextafter(d, 100.0);
        At(vehicle);
        EXPECT_EQ(switcher.Switched(), Nodes({0}));
    }
}

TEST_F(TriggerEngineTest, AroundTenMetres_FiresOnlyBelow)
{
    // Along a meridian, 0.00009 degrees is 10.002 m; a hair of longitude keeps the side rule.
    const Position vehicle{45.26, 93.70};
    const Position justBeyond{45.26009, 93.7000000001};
    const Position justWithin{45.2600899, 93.7000000001};
    const double beyond = Metres(vehicle, justBeyond);
    const double within = Metres(vehicle, justWithin);
    ASSERT_GT(beyond, 10.0);
    ASSERT_LT(within, 10.0);
    ASSERT_GT(within, 9.99);
    Add(justBeyond, 1);
    Add(justWithin, 2);
    At(vehicle);
    EXPECT_EQ(switcher.Switched(), (Ids{2}));
}

TEST_F(TriggerEngineTest, WrongSide_DoesNotFireInEitherMode)
{
    const Position s = TrackSensor(0);
    const struct {
        const char* name;
        double dLatitude, dLongitude; // vehicle minus sensor, degrees
        bool fires;
    } cases[] = {
        {"BothSmaller", -0.00003, -0.00003, true},
        {"SameLatitude", 0.0, -0.00006, false},
        {"GreaterLatitude", 0.00003, -0.00003, false},
        {"SameLongitude", -0.00004, 0.0, false},
        {"GreaterLongitude", -0.00003, 0.00003, false},
        {"BothGreater", 0.00003, 0.00003, false},
    };
    LoadTrack(1);
    for (const auto& c : cases) {
        const Position vehicle{s.latitude + c.dLatitude, s.longitude + c.dLongitude};
        ASSERT_LT(Metres(vehicle, s), 6.0) << c.name;
        for (int loop : {1, 0}) {
            state.loopMode = loop;
            state.nextIndex = -1;
            table.triggered[0] = 0;
            switcher.Clear();
            At(vehicle);
            EXPECT_EQ(switcher.Switched().size(), c.fires ? 1u : 0u)
                << c.name << (loop ? " in Loop" : " in Back and Forth");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Back and Forth mode

TEST_F(TriggerEngineTest, BackAndForth_StartNearSensor1_FullPassThenHoldAndRearm)
{
    LoadTrack(3);
    BackAndForth();

    EXPECT_EQ(AtSensor(1), 1); // search
    EXPECT_EQ(switcher.Switched(), Nodes({1}));
    EXPECT_EQ(traces.size(), 2u); // sensors 0 and 1 measured, then the search stopped
    EXPECT_EQ(state.nextIndex.load(), 2);
    EXPECT_EQ(fields.StatusHistory(), Texts{RecordingNodeSwitcher::SuccessText(kFirstNode + 1)});

    fields.ClearHistory();
    EXPECT_EQ(AtSensor(0), 0); // sensor 0 is not tested again in this pass
    EXPECT_EQ(AtSensor(2), 1);
    EXPECT_EQ(fields.StatusHistory(), Fired(2));
    EXPECT_EQ(state.nextIndex.load(), 0);
    EXPECT_EQ(state.rearmed.load(), 0);

    fields.ClearHistory();
    EXPECT_EQ(AtSensor(0), 1);
    EXPECT_EQ(fields.StatusHistory(), Texts{"Back and Forth timer set"});
    EXPECT_EQ(timers.Period(kRearmTimer), 5000ms);
    EXPECT_EQ(switcher.Switched(), Nodes({1, 2}));

    // Each fix in range restarts the timer: it runs out 5 s after the last one.
    timers.Advance(3000ms);
    AtSensor(0);
    EXPECT_EQ(timers.Remaining(kRearmTimer), 5000ms);
    timers.Advance(4999ms);
    EXPECT_EQ(state.rearmed.load(), 0);
    fields.ClearHistory();
    timers.Advance(1ms);
    EXPECT_EQ(fields.StatusHistory(), Texts{"Back and forth timer reset"});
    EXPECT_EQ(state.rearmed.load(), 1);
    EXPECT_FALSE(timers.Running(kRearmTimer));
    EXPECT_EQ(timers.Calls().back(), (Call{Call::Kill, kRearmTimer, 0ms}));

    fields.ClearHistory();
    EXPECT_EQ(AtSensor(0), 1);
    EXPECT_EQ(fields.StatusHistory(), Fired(0));
    EXPECT_EQ(switcher.Switched(), Nodes({1, 2, 0}));
    EXPECT_EQ(state.nextIndex.load(), 1);
    EXPECT_EQ(state.rearmed.load(), 1); // cleared only when a pass wraps
    AtSensor(1);
    AtSensor(2);
    EXPECT_EQ(state.nextIndex.load(), 0);
    EXPECT_EQ(state.rearmed.load(), 0);
}

TEST_F(TriggerEngineTest, BackAndForth_NextIndex2_IgnoresOthersWithoutTrace)
{
    LoadTrack(3);
    BackAndForth();
    state.nextIndex = 2;
    state.rearmed = 1;
    EXPECT_EQ(AtSensor(0), 0);
    EXPECT_EQ(AtSensor(1), 0);
    EXPECT_EQ(At({45.0, 93.0}), 0);
    EXPECT_TRUE(switcher.Switched().empty());
    EXPECT_TRUE(traces.empty());
    EXPECT_EQ(state.nextIndex.load(), 2);
    EXPECT_EQ(AtSensor(2), 1);
    EXPECT_TRUE(traces.empty()); // the sensor due next is tested without a trace line
}

TEST_F(TriggerEngineTest, BackAndForth_OneSensor_45sHold)
{
    LoadTrack(1);
    BackAndForth();
    EXPECT_EQ(AtSensor(0), 1); // search fires it
    EXPECT_EQ(state.nextIndex.load(), 0);

    fields.ClearHistory();
    EXPECT_EQ(AtSensor(0), 1);
    EXPECT_EQ(fields.StatusHistory(), Texts{"One Cell: Back and Forth timer set"});
    EXPECT_EQ(timers.Period(kRearmTimer), 45000ms);
    timers.Advance(44000ms);
    AtSensor(0);
    timers.Advance(44999ms);
    AtSensor(0); // still held: restarts once more
    EXPECT_EQ(switcher.Switched(), Nodes({0}));
    timers.Advance(45000ms);
    EXPECT_EQ(state.rearmed.load(), 1);
    EXPECT_EQ(fields.Status(), "Back and forth timer reset");

    EXPECT_EQ(AtSensor(0), 1);
    EXPECT_EQ(switcher.Switched(), Nodes({0, 0}));
    EXPECT_EQ(state.rearmed.load(), 0); // a pass of one sensor wraps at once
    fields.ClearHistory();
    AtSensor(0);
    EXPECT_EQ(fields.StatusHistory(), Texts{"One Cell: Back and Forth timer set"});
}

TEST_F(TriggerEngineTest, BackAndForth_SearchFindsLastSensor_Sensor0Held)
{
    LoadTrack(3);
    BackAndForth();
    EXPECT_EQ(AtSensor(2), 1);
    EXPECT_EQ(traces.size(), 3u);
    EXPECT_EQ(state.nextIndex.load(), 0);
    EXPECT_EQ(state.rearmed.load(), 0);
    fields.ClearHistory();
    EXPECT_EQ(AtSensor(0), 1);
    EXPECT_EQ(fields.StatusHistory(), Texts{"Back and Forth timer set"});
    EXPECT_EQ(switcher.Switched(), Nodes({2}));
}

TEST_F(TriggerEngineTest, BackAndForth_SearchKeepsRearmed)
{
    LoadTrack(3);
    BackAndForth();
    state.rearmed = 1;
    AtSensor(2); // the search wraps without touching rearmed
    EXPECT_EQ(state.rearmed.load(), 1);
    EXPECT_EQ(AtSensor(0), 1);
    EXPECT_EQ(switcher.Switched(), Nodes({2, 0}));
}

TEST_F(TriggerEngineTest, BackAndForth_TriggerOffOnMidPass_SearchesAgainKeepingRearmed)
{
    LoadTrack(3);
    BackAndForth();
    state.rearmed = 1;
    AtSensor(0);
    EXPECT_EQ(state.nextIndex.load(), 1);
    state.nextIndex = -1; // Trigger off; Trigger on later touches neither value
    AtSensor(2);
    EXPECT_EQ(state.nextIndex.load(), 0);
    EXPECT_EQ(state.rearmed.load(), 1);
    AtSensor(0);
    EXPECT_EQ(switcher.Switched(), Nodes({0, 2, 0}));
}

TEST_F(TriggerEngineTest, BackAndForth_SwitchFails_IndexMovesOn)
{
    LoadTrack(3);
    BackAndForth();
    switcher.SetPortOpens(false);
    AtSensor(0);
    EXPECT_EQ(state.nextIndex.load(), 1);
    EXPECT_EQ(fields.Status(), "Base station failed to open");
}

TEST_F(TriggerEngineTest, EmptyTable_NoTraceNoFiringNoTimer)
{
    for (int loop : {1, 0}) {
        state.loopMode = loop;
        EXPECT_EQ(At({45.26, 93.70}), 0);
    }
    state.nextIndex = 0; // as if the index outlived a larger table
    EXPECT_EQ(At({45.26, 93.70}), 0);
    EXPECT_EQ(state.nextIndex.load(), -1);
    EXPECT_TRUE(traces.empty());
    EXPECT_TRUE(switcher.Switched().empty());
    EXPECT_TRUE(timers.Calls().empty());
    EXPECT_TRUE(fields.StatusHistory().empty());
}

// A node id typed wrong ("403BA38G", which "%X" reads as 0403BA38) switches nothing, under
// either rule, in either mode; Loop re-arms once the others fired, Back and Forth steps over it.
TEST(TriggerEngineUnreadable, NeverSwitchedAndSteppedOver)
{
    for (bool backAndForth : {false, true}) {
        for (bool predictive : {false, true}) {
            SCOPED_TRACE(std::string(backAndForth ? "back and forth" : "loop") + (predictive ? ", predictive" : ""));
            RunState state;
            state.loopMode = backAndForth ? 0 : 1;
            state.predictive = predictive ? 1 : 0;
            SensorTable table;
            for (int i = 0; i < 3; ++i) {
                table.latitude[i] = TrackSensor(i).latitude;
                table.longitude[i] = TrackSensor(i).longitude;
                table.nodeId[i] = kFirstNode + i;
            }
            table.nodeId[1] = 0x0403BA38;
            table.SetUnreadableNodeId(1, "403BA38G");
            table.count = 3;
            FakeDialogFields fields;
            FakeTimers timers;
            RecordingNodeSwitcher switcher{fields};
            TriggerEngine engine{state, table, fields, timers, switcher, [](const std::string&) {}};
            // Fixes 6 s apart: no path between them for the predictive rule to follow.
            std::int64_t t = 36'000'000;
            for (int sensor : {1, 0, 1, 2, 0}) {
                engine.TriggerOnFix(Near(sensor).latitude, Near(sensor).longitude, t);
                t += 6000;
            }
            EXPECT_EQ(switcher.Switched(), (Ids{kFirstNode, kFirstNode + 2}));
            if (backAndForth) {
                EXPECT_EQ(state.nextIndex.load(), 0);
                EXPECT_TRUE(timers.Running(kRearmTimer)); // sensor 0 held after the pass 0, 2
            } else {
                EXPECT_TRUE(timers.Running(kAllTriggeredTimer));
            }
            EXPECT_EQ(engine.HeldReason(1, 1), "not armed: node id 403BA38G unreadable");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Timers

TEST_F(TriggerEngineTest, Timer102_ClearsOnlyFirstNFlags)
{
    LoadTrack(2);
    for (int i = 0; i < 5; ++i)
        table.triggered[i] = 1;
    engine.OnTimer(kAllTriggeredTimer);
    EXPECT_EQ(table.triggered[0].load(), 0);
    EXPECT_EQ(table.triggered[1].load(), 0);
    for (int i = 2; i < 5; ++i)
        EXPECT_EQ(table.triggered[i].load(), 1) << i;
    EXPECT_EQ(fields.StatusHistory(), Texts{"All sensors triggered"});
    EXPECT_EQ(timers.Calls(), (std::vector<Call>{{Call::Kill, kAllTriggeredTimer, 0ms}}));
}

TEST_F(TriggerEngineTest, OtherTimerIds_ChangeNothing)
{
    LoadTrack(2);
    table.triggered[0] = 1;
    for (int id : {0, 1, 100, 103, -1, 1023})
        engine.OnTimer(id);
    EXPECT_EQ(table.triggered[0].load(), 1);
    EXPECT_EQ(state.rearmed.load(), 0);
    EXPECT_TRUE(fields.StatusHistory().empty());
    EXPECT_TRUE(timers.Calls().empty());
}

// ---------------------------------------------------------------------------------------------
// Texts

TEST(NearerSensorText, NodeIdInHex)
{
    EXPECT_EQ(NearerSensorText(0x4070BF7B), "4070BF7B sensor is nearer ");
    EXPECT_EQ(NearerSensorText(0xCE), "CE sensor is nearer ");
    EXPECT_EQ(NearerSensorText(0xFFFFFFFF), "FFFFFFFF sensor is nearer ");
}

TEST(DistanceTraceLine, WholeMetresAndDefinedExtremes)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double metres;
        const char* line;
    } cases[] = {
        {10.999, "Distance is: 10\n"},
        {0.4, "Distance is: 0\n"},
        {135869.091, "Distance is: 135869\n"},
        {-3.7, "Distance is: -3\n"},
        {std::numeric_limits<double>::quiet_NaN(), "Distance is: -1\n"},
        {inf, "Distance is: 2147483647\n"},
        {1e300, "Distance is: 2147483647\n"},
        {-inf, "Distance is: -2147483648\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DistanceTraceLine(c.metres), c.line) << c.metres;
}

// ---------------------------------------------------------------------------------------------
// The GUI thread resetting nextIndex while the engine fires

TEST_F(TriggerEngineTest, ResetDuringSwitch_TheResetStands)
{
    LoadTrack(3);
    BackAndForth();
    switcher.duringSwitch = [this](std::uint32_t) { state.nextIndex = -1; };
    // The operator's reset that lands while a sensor is switched is not undone by the step
    // after it: the next firing comes from a fresh search.
    for (int k : {1, 2}) {
        state.nextIndex = k;
        state.rearmed = 1;
        AtSensor(k);
        EXPECT_EQ(state.nextIndex.load(), -1) << k;
        EXPECT_EQ(state.rearmed.load(), 1) << "no wrap happened, so rearmed stays: " << k;
    }
    // The same in a search that finds the last sensor.
    state.nextIndex = -1;
    AtSensor(2);
    EXPECT_EQ(state.nextIndex.load(), -1);
    EXPECT_EQ(switcher.Switched(), Nodes({1, 2, 2}));

    // Without a reset the step goes on as usual and wraps after the last sensor.
    switcher.duringSwitch = nullptr;
    AtSensor(2);
    EXPECT_EQ(state.nextIndex.load(), 0);
}

TEST_F(TriggerEngineTest, ConcurrentResets_NextIndexNeverLeavesRange)
{
    LoadTrack(3);
    BackAndForth();
    std::atomic<bool> outOfRange{false};
    auto check = [&] {
        int k = state.nextIndex.load();
        if (k < -1 || k >= 3)
            outOfRange = true;
    };
    switcher.duringSwitch = [&](std::uint32_t) { check(); };
    std::atomic<bool> stop{false};
    std::thread gui([&] {
        int round = 0;
        while (!stop.load()) {
            state.nextIndex = -1;
            state.rearmed = round++ % 2;
            engine.OnTimer(kRearmTimer);
            check();
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    for (int fix = 0; fix < 20000; ++fix) {
        AtSensor(fix % 3);
        check();
    }
    stop = true;
    gui.join();
    EXPECT_FALSE(outOfRange.load());
    for (std::uint32_t id : switcher.Switched())
        ASSERT_TRUE(id >= kFirstNode && id < kFirstNode + 3) << std::hex << id;
}

// ---------------------------------------------------------------------------------------------
// Predictive rule: a switch from a timer and one from the reader, on two threads

// The timer's switch of sensor 0 is under way (the real one holds the base-station port for
// 100 ms and more) when the reader's fix reaches sensor 1: its switch must wait, not overlap.
TEST_F(TriggerEngineTest, Predictive_TimerAndReaderSwitchesNeverOverlap)
{
    LoadTrack(2);
    state.predictive = 1;
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<bool> timerSwitching{false};
    switcher.duringSwitch = [&](std::uint32_t) {
        const int now = ++inside;
        most = std::max(most.load(), now);
        timerSwitching = true;
        std::this_thread::sleep_for(150ms);
        --inside;
    };
    // Two fixes a second apart, heading north-east for sensor 0: about 3 m from its region.
    const Position s0 = TrackSensor(0);
    const std::int64_t t = 36000000;
    engine.TriggerOnFix(s0.latitude - 0.0002, s0.longitude - 0.0002, t);
    engine.TriggerOnFix(s0.latitude - 0.0001, s0.longitude - 0.0001, t + 1000);
    ASSERT_TRUE(timers.Running(kPredictedTimer)) << "no switch planned";

    std::thread timerThread([&] { engine.OnTimer(kPredictedTimer); });
    while (!timerSwitching)
        std::this_thread::yield();
    // 140 m on, after a gap: a fix the rule does not judge against the old track.
    const Position near1 = Near(1);
    engine.TriggerOnFix(near1.latitude, near1.longitude, t + 1000 + kPredictionGapMs + 100);
    timerThread.join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(switcher.Switched(), Nodes({0, 1}));
}

// Two fixes a second apart either side of sensor 0, the path between through its region: late,
// unless triggering was off and on again in between, when nobody watched that stretch.
TEST_F(TriggerEngineTest, Predictive_CrossedUnseen_FiresLateOnlyWhenTriggeringStayedOn)
{
    for (bool offAndOn : {false, true}) {
        SCOPED_TRACE(offAndOn ? "trigger off and on" : "trigger on throughout");
        table.count = 0;
        switcher.Clear();
        LoadTrack(1);
        state.predictive = 1;
        TriggerEngine fresh(state, table, fields, timers, switcher, [](const std::string&) {});
        const Position s0 = TrackSensor(0);
        const std::int64_t t = 36000000;
        fresh.TriggerOnFix(s0.latitude - 0.0002, s0.longitude - 0.0002, t);
        if (offAndOn)
            state.triggerOffs.fetch_add(1);
        fresh.TriggerOnFix(s0.latitude + 0.0002, s0.longitude + 0.0002, t + 1000);
        EXPECT_EQ(switcher.Switched(), offAndOn ? Ids{} : Nodes({0}));
        EXPECT_EQ(fresh.LateFirings(), offAndOn ? 0 : 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Predictive rule: what real receivers send, and real vehicles do

// A fix near sensor 0 in metres from it: x along the growing longitude number, y along the
// growing latitude number; its UTC time in ms after the drive's first fix.
struct MetreFix {
    double x;
    double y;
    std::int64_t ms;
};

class PredictiveTest : public TriggerEngineTest {
protected:
    PredictiveTest()
    {
        state.predictive = 1;
        switcher.duringSwitch = [this](std::uint32_t) {
            switchedAt.push_back(timers.Now());
            timers.Spend(switchTime); // the switch holds its thread, as the real one does
        };
    }
    // A sensor (x, y) metres from sensor 0's position.
    void AddAt(double x, double y)
    {
        const PlanePoint p = ToDegrees(x, y);
        Add({p.y, p.x}, kFirstNode + table.count.load());
    }
    static PlanePoint ToDegrees(double x, double y)
    {
        const Position s0 = TrackSensor(0);
        const PlanePoint scale = MetresPerDegreeAt(s0.latitude);
        return {s0.longitude + x / scale.x, s0.latitude + y / scale.y};
    }
    // A fresh engine over the sensors added, given each fix when its time comes on the timers'
    // clock (from the first fix, 10:00 UTC), then left to run for `after`. `between` acts after
    // the fix of that index. The switch times, ms after the first fix.
    std::vector<std::int64_t> Run(const std::vector<MetreFix>& fixes, std::function<void(std::size_t)> between = {},
                                  std::chrono::milliseconds after = 2000ms)
    {
        for (int i = 0; i < table.count.load(); ++i)
            table.triggered[i] = 0;
        timers.KillTimer(kAllTriggeredTimer);
        TriggerEngine fresh(state, table, fields, timers, switcher, [](const std::string&) {});
        timers.onExpiry = [&fresh](int id) { fresh.OnTimer(id); };
        engineUnderTest = &fresh;
        switchedAt.clear();
        pastEntry.clear();
        fresh.SetFiringHook([&](int, TriggerEngine::Firing) { pastEntry.push_back(fresh.CurrentFiringPlace().pastEntry); });
        const std::chrono::milliseconds t0 = timers.Now();
        std::int64_t latest = 0;
        for (std::size_t k = 0; k < fixes.size(); ++k) {
            const MetreFix& f = fixes[k];
            latest = std::max(latest, f.ms);
            const auto due = t0 + std::chrono::milliseconds(latest);
            if (due > timers.Now())
                timers.Advance(due - timers.Now());
            const PlanePoint p = ToDegrees(f.x, f.y);
            fresh.TriggerOnFix(p.y, p.x, kTen + f.ms);
            if (between)
                between(k);
        }
        timers.Advance(after);
        for (int k = 0; k < kPredictedTimerIds; ++k)
            timers.KillTimer(kPredictedTimer + k);
        timers.onExpiry = [this](int id) { engine.OnTimer(id); };
        engineUnderTest = nullptr;
        std::vector<std::int64_t> times;
        for (auto at : switchedAt)
            times.push_back((at - t0).count());
        return times;
    }
    bool AnyPlanRunning() const
    {
        for (int k = 0; k < kPredictedTimerIds; ++k) {
            if (timers.Running(kPredictedTimer + k))
                return true;
        }
        return false;
    }

    static constexpr std::int64_t kTen = 36000000; // 10:00 UTC
    std::chrono::milliseconds switchTime{110};
    std::vector<std::chrono::milliseconds> switchedAt;
    std::vector<double> pastEntry; // the firing hook's distance past the entry, each firing
    TriggerEngine* engineUnderTest = nullptr;
};

// The ms at which a path, given as its position at a time, first enters sensor 0's region.
template <typename Path>
double EntryMs(Path path, double fromMs, double toMs)
{
    for (double t = fromMs; t < toMs; t += 0.5) {
        const auto [x, y] = path(t);
        if (std::hypot(x, y) < 10.0 && x < 0 && y < 0)
            return t;
    }
    return NAN;
}

// Straight north at x = -3, `speed` m/s, a fix every `stepMs` from y = `y0`.
std::vector<MetreFix> North(double y0, double speed, int count, std::int64_t stepMs = 1000)
{
    std::vector<MetreFix> fixes;
    for (int k = 0; k < count; ++k)
        fixes.push_back({-3.0, y0 + speed * static_cast<double>(stepMs * k) / 1000.0, stepMs * k});
    return fixes;
}

struct SentenceCase {
    const char* name;
    std::vector<MetreFix> fixes;
    std::vector<std::int64_t> switched;
};

// At 36 m/s, fixes at y = -60 and -24: the region is entered 402 ms after the second. A receiver
// that sends each epoch twice, or a sentence that steps back in time, must not cost the plan; one
// lost fix must not cost the switch either.
TEST_F(PredictiveTest, RepeatedOrOlderEpochOrLostFix_KeepsTheSwitch)
{
    AddAt(0, 0);
    const SentenceCase cases[] = {
        {"the same epoch again ($GNGGA, then $GPGGA)", {{-3, -60, 0}, {-3, -24, 1000}, {-3, -24, 1000}}, {1402}},
        {"the same epoch, 0.3 m elsewhere", {{-3, -60, 0}, {-3, -24, 1000}, {-3, -23.7, 1000}}, {1402}},
        {"an older epoch after it", {{-3, -60, 0}, {-3, -24, 1000}, {-3, -60, 0}}, {1402}},
        // 2 fixes a second, the one at 1.0 s lost: the entry at 1.4 s is still planned.
        {"a fix lost", {{-3, -60, 0}, {-3, -42, 500}}, {1402}},
    };
    for (const SentenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Run(c.fixes), c.switched);
    }
}

// The jump: a vehicle parked 34 m south-west of the sensor, 10 fixes a second, sends one fix 180 m
// away (1800 m/s), its line through the region. Nothing fires, the status line says so once, and
// the sensor is still armed when the vehicle comes.
TEST_F(PredictiveTest, OneFixJumps_FiresNothingAndSaysSoOnce)
{
    AddAt(0, 0);
    struct JumpCase {
        const char* name;
        int jumps;
    };
    for (const JumpCase& c : {JumpCase{"one fix", 1}, JumpCase{"three in a row, each elsewhere", 3}}) {
        SCOPED_TRACE(c.name);
        std::vector<MetreFix> fixes;
        std::int64_t ms = 0;
        for (int k = 0; k < 10; ++k, ms += 100)
            fixes.push_back({-30, -16, ms});
        for (int k = 0; k < c.jumps; ++k, ms += 100)
            fixes.push_back({-30 + 150.0 + 20 * k, -16 + 95.0 - 60 * k, ms});
        for (int k = 0; k < 10; ++k, ms += 100)
            fixes.push_back({-30, -16, ms});
        fields.ClearHistory();
        EXPECT_EQ(Run(fixes), std::vector<std::int64_t>{});
        const Texts history = fields.StatusHistory();
        ASSERT_EQ(history.size(), 1u);
        EXPECT_EQ(history[0].rfind("Fix ignored by the predictive trigger: ", 0), 0u) << history[0];
        EXPECT_EQ(table.triggered[0].load(), 0);
    }
}

struct ChainCase {
    const char* name;
    int receiverDelayMs;
    std::chrono::milliseconds switchTime;
    std::vector<std::int64_t> switched;
    double secondPastEntry; // metres, as the firing hook is told
};

// Two sensors 10 m apart on a road driven north at 25 m/s, one fix a second: both regions are
// entered after the same fix, 400 ms apart. Each switch is timed by the clock: the second is not
// put off by the first one's switch, and the receiver delay brings both forward.
TEST_F(PredictiveTest, ChainedPlans_TimedByTheClock)
{
    AddAt(0, 0);
    AddAt(0, 10);
    const std::int64_t entry = 1418; // from y = -20 at 1000 ms
    const ChainCase cases[] = {
        {"switches of 110 ms", 0, 110ms, {entry, entry + 400}, 0.0},
        {"a receiver delay of 100 ms", 100, 110ms, {entry - 100, entry + 300}, 0.0},
        // The first switch outlasts the way to the second region: the second follows at once,
        // 200 ms (5 m) into it.
        {"a switch of 600 ms", 0, 600ms, {entry, entry + 600}, 5.0},
    };
    for (const ChainCase& c : cases) {
        SCOPED_TRACE(c.name);
        switchTime = c.switchTime;
        state.receiverDelayMs = c.receiverDelayMs;
        const std::vector<std::int64_t> times = Run(North(-45, 25, 2));
        ASSERT_EQ(times.size(), 2u);
        EXPECT_NEAR(times[0], c.switched[0], 2);
        EXPECT_NEAR(times[1], c.switched[1], 2);
        ASSERT_EQ(pastEntry.size(), 2u);
        EXPECT_NEAR(pastEntry[1], c.secondPastEntry, 0.1);
    }
    state.receiverDelayMs = 0;
}

// Arc of radius r about (cx, cy), anticlockwise at `speed` m/s, reaching angle `at` (radians) at
// `atMs`; fixes once a second from 0 to `untilMs`.
struct Bend {
    double cx, cy, r, at, speed;
    std::array<double, 2> operator()(double ms) const
    {
        const double a = at + speed * (ms - 5000.0) / 1000.0 / r;
        return {cx + r * std::cos(a), cy + r * std::sin(a)};
    }
    std::vector<MetreFix> Fixes() const
    {
        std::vector<MetreFix> fixes;
        for (std::int64_t ms = 0; ms <= 8000; ms += 1000)
            fixes.push_back({(*this)(static_cast<double>(ms))[0], (*this)(static_cast<double>(ms))[1], ms});
        return fixes;
    }
};

struct MotionCase {
    const char* name;
    std::vector<MetreFix> fixes;
    double entryMs; // NaN: never enters the region
    double speed;   // m/s at the entry
};

// At 1 fix a second the last two fixes are not enough: a vehicle braking to a stop short of the
// region, or one on a bend that stays outside it, must not be switched; one whose bend enters the
// region is switched where it enters, within 2 m.
TEST_F(PredictiveTest, OneFixASecond_BrakingAndBends)
{
    AddAt(0, 0);
    const double d = std::numbers::sqrt2 / 2;
    // Nearest the sensor at 5 s: at the bend's point closest to it, south-west of it.
    const Bend outside{-71.5 * d, -71.5 * d, 60, std::numbers::pi / 4, 15};
    const Bend inside{52 * d, 52 * d, 60, 5 * std::numbers::pi / 4, 15};
    const MotionCase cases[] = {
        // 16 m/s braking at 4 m/s^2 from y = -44: stops at y = -12, 2.5 m short of the region.
        {"braking to a stop short", {{-3, -44, 0}, {-3, -30, 1000}, {-3, -20, 2000}, {-3, -14, 3000},
                                     {-3, -12, 4000}, {-3, -12, 5000}}, NAN, 0},
        // The same from y = -40: it enters the region at 3.12 s, at 3.5 m/s, and stops in it.
        {"braking into the region", {{-3, -40, 0}, {-3, -26, 1000}, {-3, -16, 2000}, {-3, -10, 3000},
                                     {-3, -8, 4000}, {-3, -8, 5000}}, 3122, 3.5},
        // A left bend of radius 60 m, its centre south-west of the sensor: it passes 11.5 m from
        // the sensor, but the tangent at the fix before runs into the region.
        {"bend, sensor outside it, 1.5 m clear", outside.Fixes(), NAN, 15},
        // The centre north-east: the bend passes 8 m from the sensor.
        {"bend, sensor inside it", inside.Fixes(), EntryMs(inside, 0, 8000), 15},
    };
    for (const MotionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::int64_t> times = Run(c.fixes);
        if (std::isnan(c.entryMs)) {
            EXPECT_EQ(times, std::vector<std::int64_t>{});
            continue;
        }
        ASSERT_EQ(times.size(), 1u);
        EXPECT_NEAR(static_cast<double>(times[0]), c.entryMs, 2.0 / c.speed * 1000);
    }
}

// Trigger Off voids a planned switch at once; one still on its way when triggering is back on
// finds its plan made before the Off, and drops it.
TEST_F(PredictiveTest, TriggerOff_VoidsThePlan)
{
    AddAt(0, 0);
    struct OffCase {
        const char* name;
        bool voidAtOnce; // as the run control does at Trigger Off
    };
    for (const OffCase& c : {OffCase{"off", true}, OffCase{"off and on, the expiry on its way", false}}) {
        SCOPED_TRACE(c.name);
        bool planRunAfterOff = true;
        const std::vector<std::int64_t> times = Run(North(-60, 36, 2), [&](std::size_t k) {
            if (k != 1)
                return;
            ASSERT_TRUE(AnyPlanRunning());
            state.triggerOffs.fetch_add(1);
            if (c.voidAtOnce)
                engineUnderTest->VoidPlans();
            planRunAfterOff = AnyPlanRunning();
        });
        EXPECT_EQ(times, std::vector<std::int64_t>{});
        if (c.voidAtOnce) {
            EXPECT_FALSE(planRunAfterOff);
        }
    }
}

} // namespace
} // namespace ostrim

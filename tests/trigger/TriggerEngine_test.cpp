#include "trigger/TriggerEngine.h"

#include "sensors/Distance.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/FakeTimers.h"
#include "tests/support/RecordingNodeSwitcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
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
    const Position near1 = Near(1);
    engine.TriggerOnFix(near1.latitude, near1.longitude, t + 1300);
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

} // namespace
} // namespace ostrim

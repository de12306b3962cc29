// The base station failing while a node is due: unplugged, stuck (taking no bytes), or not
// answering the ping at Start. The status line says so, the GPS logs go on without a gap, and a
// base station that is back is used again at the next firing.

#include "run/DialogRun.h"
#include "run/PanelText.h"
#include "tests/support/FakeTimers.h"
#include "tests/support/PtyTestSupport.h"
#include "tests/support/SessionRig.h"

#include <gtest/gtest.h>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::LogsHoldExactly;
using test::Road;
using test::SessionRig;
using test::StuckDevice;

// Sensors at 20 m and 40 m along the road; at 0.7 m a fix the vehicle is in range of the first
// from fix 16 to 28 and of the second from fix 44 to 57.
const std::vector<double> kTwoSensors = {20.0, 40.0};
constexpr int kBeforeSecond = 42;
constexpr int kAll = 70;

std::string NodeText(int sensor, const char* outcome)
{
    return "Node " + std::to_string(static_cast<std::int32_t>(Road::NodeId(sensor))) + " " +
           outcome;
}

// The frames the base station saw, as "node on" / "node off" for comparison.
std::vector<std::string> Seen(const sim::BaseStationSim& base)
{
    std::vector<std::string> seen;
    for (const sim::NodeCommand& c : base.Commands()) {
        char text[32];
        std::snprintf(text, sizeof text, "%08X %s%s", c.nodeId, c.on ? "on" : "off",
                      c.checksumOk ? "" : " bad checksum");
        seen.push_back(text);
    }
    return seen;
}

std::vector<std::string> OnOff(int sensor)
{
    char on[32];
    char off[32];
    std::snprintf(on, sizeof on, "%08X on", Road::NodeId(sensor));
    std::snprintf(off, sizeof off, "%08X off", Road::NodeId(sensor));
    return {on, off};
}

// Plays the first part of the drive, then lets `between` change the base station, then the rest;
// every sentence must end up in both logs.
void DriveInTwoParts(SessionRig& rig, const std::function<void()>& between)
{
    const std::vector<std::string> sentences = Road::Sentences(0, kAll, 0.7);
    rig.Play({sentences.begin(), sentences.begin() + kBeforeSecond}, 50);
    ASSERT_TRUE(rig.PlayedAll(15s));
    ASSERT_TRUE(rig.LogsReach(kBeforeSecond, 10s));
    between();
    rig.Play({sentences.begin() + kBeforeSecond, sentences.end()}, 50);
    ASSERT_TRUE(rig.PlayedAll(15s));
    ASSERT_TRUE(rig.LogsReach(kAll, 10s));
    rig.StopRun();
    EXPECT_TRUE(LogsHoldExactly(rig.RawLog(), rig.GpsLogLines(), sentences));
}

TEST(BaseStationFaults, UnpluggedWhileANodeIsDue_FailedToOpenShownLoggingGoesOnUsedAgainWhenBack)
{
    SessionRig rig(kTwoSensors);
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    rig.UnplugBaseStation();

    DriveInTwoParts(rig, [&] {
        EXPECT_TRUE(rig.StatusSeen("Base station failed to open"));
        rig.fields.ClearHistory();
        ASSERT_TRUE(rig.PlugBaseStation());
    });
    EXPECT_EQ(Seen(rig.Base()), OnOff(1));
    EXPECT_TRUE(rig.StatusSeen(NodeText(1, "success")));
}

TEST(BaseStationFaults, TakingNoBytesWhileANodeIsDue_NodeFailedShownNoSentenceLostUsedAgainWhenBack)
{
    SessionRig rig(kTwoSensors);
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    StuckDevice stuck;
    ASSERT_TRUE(stuck.Make());
    ASSERT_TRUE(rig.PointBasePortAt(stuck.Path()));

    // Each frame's write gives up after its stall time, so the reader is held for seconds, not
    // for ever; the receiver's sentences wait in the port meanwhile.
    DriveInTwoParts(rig, [&] {
        EXPECT_TRUE(rig.StatusSeen(NodeText(0, "failed")));
        EXPECT_FALSE(rig.StatusSeen(NodeText(0, "success")));
        rig.fields.ClearHistory();
        ASSERT_TRUE(rig.PointBasePortAt(rig.Base().DevicePath()));
    });
    EXPECT_EQ(Seen(rig.Base()), OnOff(1));
    EXPECT_TRUE(rig.StatusSeen(NodeText(1, "success")));
}

TEST(BaseStationFaults, TakingNoBytes_StopWhileASwitchWaits_ReturnsWithinASecond)
{
    SessionRig rig(kTwoSensors);
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    StuckDevice stuck;
    ASSERT_TRUE(stuck.Make());
    ASSERT_TRUE(rig.PointBasePortAt(stuck.Path()));

    // The first sensor is due at fix 16, logged just before the reader goes to switch it.
    rig.Play(Road::Sentences(0, 20, 0.7), 50);
    ASSERT_TRUE(rig.LogsReach(17, 10s));
    std::this_thread::sleep_for(150ms);
    ASSERT_FALSE(rig.StatusSeen(NodeText(0, "failed"))) << "the switch must still be waiting";

    const auto start = std::chrono::steady_clock::now();
    rig.StopRun();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(rig.StatusSeen(NodeText(0, "failed")));
}

// A switch that hangs on the timer thread (where the predictive rule's planned switches run)
// when the run ends: the stop is raised before that thread is joined, so the end does not wait
// the switch out.
TEST(BaseStationFaults, TakingNoBytes_StopWhileATimerThreadSwitchWaits_ReturnsWithinASecond)
{
    SessionRig rig(kTwoSensors);
    constexpr int kPlannedSwitch = kPredictedTimer;
    std::atomic<bool> switching{false};
    rig.timers.SetHandler([&](int id) {
        if (id != kPlannedSwitch)
            return;
        switching = true;
        rig.GetSession().BaseStation().SwitchNode(Road::NodeId(0));
    });
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    StuckDevice stuck;
    ASSERT_TRUE(stuck.Make());
    ASSERT_TRUE(rig.PointBasePortAt(stuck.Path()));

    rig.timers.StartTimer(kPlannedSwitch, 0ms);
    ASSERT_TRUE(test::WaitFor([&] { return switching.load(); }, 2s));
    std::this_thread::sleep_for(150ms);
    ASSERT_FALSE(rig.StatusSeen(NodeText(0, "failed"))) << "the switch must still be waiting";

    // Each call of a switch to a device that takes nothing waits 300 ms, the whole switch about
    // a second; once the stop is raised each wait is cut to 20 ms. Joining the timer thread
    // first waits out the rest of the switch (550 ms here), raising the stop first does not.
    const auto start = std::chrono::steady_clock::now();
    rig.StopRun();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 1s);
    EXPECT_LT(took, 400ms) << "the rest of the switch was waited out before the stop was raised";
}

// Both dialogs' run (DialogRun): a base station missing at Start is checked again every 3 s, as
// headless does, and switching comes on once it answers; each change is a history line.
TEST(BaseStationFaults, AbsentAtStartThenPlugged_DialogRunSwitchesOnWhenItAnswers)
{
    test::ScratchFolder dir;
    test::WriteFile(dir / "sensors.txt", Road::SensorFile(kTwoSensors));
    test::FakeDialogFields fields;
    fields.SetText(Field::Folder, dir.Path().string());
    fields.SetText(Field::SensorFile, dir / "sensors.txt");
    sim::GpsReceiverSim gps;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    const std::string link = dir / "base-station"; // a by-id link, dangling until plugged
    test::FakeTimers windowTimers;
    DialogRun run(fields, windowTimers, {}, [link] { return link; }, [](const std::string&) {});
    ASSERT_EQ(run.Start(gps.DevicePath(), link, "GPS"), RunControl::StartOutcome::Running);
    EXPECT_EQ(fields.Status(), "Base station failed to open");
    EXPECT_EQ(MakePanelTexts(run.Run().Monitor().Take()).state.text,
              "Off: base station did not answer, checking every 3 s");

    sim::BaseStationSim base;
    ASSERT_TRUE(base.Start(&error)) << error;
    std::filesystem::create_symlink(base.DevicePath(), link);
    EXPECT_TRUE(test::WaitFor(
        [&] {
            run.Tick();
            return run.Run().State().triggerEnabled.load() != 0;
        },
        Session::kRecheckEvery + 3s));
    EXPECT_EQ(fields.Status(), "Trigger on");
    EXPECT_EQ(MakePanelTexts(run.Run().Monitor().Take()).state.text, "Switching on (on-fix rule)");
    run.Stop();
}

TEST(BaseStationFaults, NotAnsweringThePingAtStart_TriggeringOffUntilTheOperatorTurnsItOn)
{
    SessionRig rig(kTwoSensors);
    ASSERT_TRUE(rig.PlugBaseStation());
    rig.Base().SetAnswering(false);
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(rig.fields.Status(), "Base station failed to ping");

    DriveInTwoParts(rig, [&] {
        EXPECT_TRUE(Seen(rig.Base()).empty()) << "no node may be switched while triggering is off";
        rig.Base().SetAnswering(true);
        rig.GetSession().BaseStation().OnPing();
        EXPECT_EQ(rig.fields.Status(), "Successfully pinged base station");
        rig.Control().OnTriggerOnOff();
        EXPECT_EQ(rig.fields.Status(), "Trigger on");
    });
    EXPECT_EQ(Seen(rig.Base()), OnOff(1));
}

// A base-station entry given as a bare number ("--base-port 1") names the same device for
// Start's check as for Ping and the node commands. A file "1" in the working folder, an
// answering base station behind it, would pass a check that took the text as a path, while
// every node command opened the numbered port.
TEST(BaseStationFaults, PortGivenAsNumber_StartChecksTheDeviceTheNodeCommandsUse)
{
    test::ScratchFolder dir;
    sim::BaseStationSim base;
    sim::GpsReceiverSim gps;
    std::string error;
    ASSERT_TRUE(base.Start(&error)) << error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    std::filesystem::create_symlink(base.DevicePath(), dir / "1");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    struct Back {
        std::filesystem::path to;
        ~Back() { std::filesystem::current_path(to); }
    } back{before};

    test::FakeDialogFields fields;
    fields.SetText(Field::Folder, dir.Path().string());
    ThreadTimerService timers;
    Session session(fields, timers,
                    Session::Hooks{[] { return std::string("1"); }, [](const std::string&) {}, {}});
    // No sensor file: triggering stays on, and only the check can switch it off.
    ASSERT_EQ(session.Control().OnStart(gps.DevicePath(), "1"), RunControl::StartOutcome::Running);
    const bool checkPassed = session.State().triggerEnabled.load() != 0;

    session.BaseStation().OnPing();
    const bool pingPassed = fields.Status() == "Successfully pinged base station";
    EXPECT_EQ(checkPassed, pingPassed) << "Start's check and Ping opened different devices";
    session.Stop();
}

} // namespace
} // namespace ostrim

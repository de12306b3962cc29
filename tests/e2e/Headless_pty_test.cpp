// The program as shipped, run headless as a child process against the simulated receiver and
// base station: what it prints, what the base station receives, what the logs hold, how it ends.

#include "platform/posix/PseudoTerminal.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DriveScript.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::OutputLine;

// How late the simulator's reader may see a frame on a loaded machine (sanitizer builds on two
// shared cores), as the base-station command tests allow.
constexpr auto kReadJitter = 30ms;

#ifdef OSTRIM_EXECUTABLE
constexpr const char* kOstrim = OSTRIM_EXECUTABLE;
#else
constexpr const char* kOstrim = nullptr;
#endif

#define SKIP_WITHOUT_PROGRAM()                                                 \
    if (kOstrim == nullptr)                                                    \
    GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)"

double SecondsBetween(std::chrono::system_clock::time_point from,
                      std::chrono::system_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// The first line with this text at or after `from`, or -1.
int Find(const std::vector<OutputLine>& lines, const std::string& text, int from = 0)
{
    for (int i = from; i < static_cast<int>(lines.size()); ++i) {
        if (lines[i].text == text)
            return i;
    }
    return -1;
}

struct Case {
    const char* name;
    bool backAndForth;
    test::DriveScript drive;
    std::vector<int> firings;
    std::vector<std::string> statuses;
    std::size_t traceLines;
};

class HeadlessDrive : public ::testing::TestWithParam<int> {};

std::vector<Case> Cases()
{
    test::DriveScript loop = test::LoopDrive();
    std::size_t loopTrace = 3 * loop.Fixes(); // every sensor measured at every fix
    return {
        {"Loop", false, loop, test::kLoopFirings, test::LoopStatuses(), loopTrace},
        // The search measures until it finds sensor 0: five fixes away, then sensor 0 alone.
        // Once in step, only the sensor due next is tested, without a trace.
        {"BackAndForth", true, test::BackAndForthDrive(), test::kBackAndForthFirings,
         test::BackAndForthStatuses(), 5 * 3 + 1},
    };
}

TEST_P(HeadlessDrive, PastThreeSensors_SwitchesTheNodesInOrderAndLogsEveryFix)
{
    SKIP_WITHOUT_PROGRAM();
    const Case c = Cases()[GetParam()];
    test::ScopedTimeZone utc("UTC"); // the child's zone too, for the log's date column
    test::ScratchFolder folder;
    const std::string logs = folder / "logs";
    std::filesystem::create_directory(logs);
    test::WriteFile(folder / "sensors.txt", test::DriveScript::SensorFileText());
    ASSERT_TRUE(c.drive.WriteCapture(folder / "drive.nmea"));

    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    ASSERT_TRUE(base.Start(&error)) << error;

    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--headless", "--gps-port", gps.DevicePath(), "--base-port",
                              base.DevicePath(), "--sensor-file", folder / "sensors.txt",
                              "--folder", logs, "--mode", c.backAndForth ? "back-and-forth" : "loop"},
                             {{"TZ", "UTC"}}));
    const std::string started = c.backAndForth ? "Back and Forth mode" : "Trigger on";
    std::vector<OutputLine> lines =
        ostrim.ReadLinesUntil([&](const std::string& line) { return line == started; }, 10s);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().text, started) << ostrim.Errors();
    // "Trigger on" comes before Start opens the port and creates the logs; drive only once
    // they exist, as a receiver switched on after Start would.
    for (auto end = std::chrono::steady_clock::now() + 10s;
         test::FindLog(logs, "-GPS-Data.txt").empty() || test::FindLog(logs, "-Raw-GPS-Data.txt").empty();) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no logs: " << ostrim.Errors();
        std::this_thread::sleep_for(10ms);
    }

    const std::string dateBefore = test::LocalDateText();
    ASSERT_TRUE(gps.PlayFile(folder / "drive.nmea", test::DriveScript::kRate, &error)) << error;
    // Until the receiver has sent it all and the log holds it all.
    const auto end = std::chrono::steady_clock::now() + 40s;
    for (;;) {
        if (std::optional<OutputLine> line = ostrim.ReadLine(100ms))
            lines.push_back(*line);
        std::string gpsLog = test::FindLog(logs, "-GPS-Data.txt");
        if (gps.Finished() && !gpsLog.empty() &&
            test::CountLines(test::ReadFile(gpsLog)) >= c.drive.Fixes())
            break;
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "the drive did not reach the log";
    }
    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s, &lines), 0);
    EXPECT_EQ(ostrim.Errors(), "");
    const std::string dateAfter = test::LocalDateText();

    std::vector<OutputLine> statuses;
    std::size_t traceLines = 0;
    std::vector<std::string> summaries;
    for (const OutputLine& line : lines) {
        if (line.text.rfind("Distance is: ", 0) == 0)
            ++traceLines;
        else if (line.text.rfind("Run summary: ", 0) == 0)
            summaries.push_back(line.text);
        else if (line.text.rfind("Sensor ", 0) != 0 || line.text.find(" missed: ") == std::string::npos)
            statuses.push_back(line); // a pass missed is an event's line, not a status text

    }
    // The summary ends the output: every fix, the log it went to, every node switched.
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(lines.back().text, summaries[0]);
    EXPECT_EQ(summaries[0].rfind("Run summary: " + std::to_string(c.drive.Fixes())
                                     + " fixes logged to the GPS log " + test::FindLog(logs, "-GPS-Data.txt"),
                                 0),
              0u)
        << summaries[0];
    EXPECT_NE(summaries[0].find("; " + std::to_string(c.firings.size()) + " nodes switched, 0 switches failed"),
              std::string::npos)
        << summaries[0];
    std::vector<std::string> statusTexts;
    for (const OutputLine& line : statuses)
        statusTexts.push_back(line.text);
    EXPECT_EQ(statusTexts, c.statuses);
    EXPECT_EQ(traceLines, c.traceLines);

    // Each firing: the node on, and at least 100 ms later off.
    const std::vector<sim::NodeCommand> commands = base.Commands();
    ASSERT_EQ(commands.size(), 2 * c.firings.size());
    std::vector<sim::NodeCommand> ons;
    for (std::size_t i = 0; i < c.firings.size(); ++i) {
        const sim::NodeCommand& on = commands[2 * i];
        const sim::NodeCommand& off = commands[2 * i + 1];
        const std::uint32_t node = test::kScriptSensors[c.firings[i]].nodeId;
        EXPECT_TRUE(on.on && on.checksumOk && on.nodeId == node) << "firing " << i << ": " << on.line;
        EXPECT_TRUE(!off.on && off.checksumOk && off.nodeId == node) << "firing " << i << ": " << off.line;
        // Timed where the simulator reads the frames: a late read of the "on" frame on a busy
        // machine shortens the gap it sees, never the one the program keeps.
        EXPECT_GE(off.time - on.time, 100ms - kReadJitter) << "firing " << i;
        ons.push_back(on);
    }
    EXPECT_EQ(base.BadFrames(), 0);
    EXPECT_EQ(base.StrayBytes(), 0);

    // The 5 s timers, against the wall clock. The fourth firing needs the re-arm.
    if (c.backAndForth) {
        int reset = Find(statuses, "Back and forth timer reset");
        ASSERT_GE(reset, 1);
        ASSERT_EQ(statuses[reset - 1].text, "Back and Forth timer set");
        // The timer restarts at every fix in range, so it counts from the last of them.
        double held = SecondsBetween(statuses[reset - 1].arrived, statuses[reset].arrived);
        EXPECT_GE(held, 4.9);
        EXPECT_LE(held, 7.0);
        EXPECT_GT(ons[3].time, statuses[reset].arrived);
    } else {
        int rearmed = Find(statuses, "All sensors triggered");
        ASSERT_GE(rearmed, 0);
        double afterLast = SecondsBetween(ons[2].time, statuses[rearmed].arrived);
        EXPECT_GE(afterLast, 5.0);
        EXPECT_LE(afterLast, 7.0);
        EXPECT_GT(ons[3].time, statuses[rearmed].arrived);
    }

    // The logs hold exactly the fixes sent, byte for byte.
    if (dateBefore != dateAfter)
        GTEST_SKIP() << "the date changed during the drive";
    EXPECT_EQ(test::ReadFile(test::FindLog(logs, "-GPS-Data.txt")),
              c.drive.ExpectedGpsLog("Dunrel 80k truck", dateAfter));
    EXPECT_EQ(test::ReadFile(test::FindLog(logs, "-Raw-GPS-Data.txt")), c.drive.ExpectedRawLog());
}

INSTANTIATE_TEST_SUITE_P(Modes, HeadlessDrive, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(Cases()[info.param].name);
                         });

TEST(Headless, RefusedStart_SaysWhyOnStandardErrorAndExitsNonZero)
{
    SKIP_WITHOUT_PROGRAM();
    test::ScratchFolder folder;
    test::WriteFile(folder / "sensors.txt", test::DriveScript::SensorFileText());
    const std::string sensors = folder / "sensors.txt";
    const std::string logs = folder.Path().string();
    struct Refusal {
        std::vector<std::string> args;
        const char* says;
    };
    const Refusal refusals[] = {
        {{"--headless", "--gps-port", folder / "no-such-tty", "--sensor-file", sensors, "--folder", logs},
         "Error opening GPS receiver port"},
        {{"--headless", "--gps-port", folder / "no-such-tty", "--sensor-file", sensors, "--folder", logs},
         "is the receiver plugged in?"},
        // A folder is not a serial device.
        {{"--headless", "--gps-port", logs, "--sensor-file", sensors, "--folder", logs},
         "Error opening GPS receiver port"},
        {{"--headless", "--sensor-file", sensors, "--folder", logs}, "--headless needs --gps-port"},
        {{"--headless", "--gps-port", "/dev/null", "--sensor-file", sensors, "--folder", logs, "--mode",
          "zigzag"},
         "zigzag"},
        {{"--demo", "--gps-port", "/dev/ttyUSB0"}, "--gps-port cannot be used with --demo"},
        {{"--verbose"}, "unknown argument \"--verbose\""},
    };
    for (const Refusal& r : refusals) {
        std::vector<std::string> args = {kOstrim};
        args.insert(args.end(), r.args.begin(), r.args.end());
        test::ChildProcess ostrim;
        ASSERT_TRUE(ostrim.Start(args));
        std::vector<OutputLine> out;
        EXPECT_NE(ostrim.Wait(10s, &out), 0) << r.says;
        const std::string errors = ostrim.Errors();
        EXPECT_NE(errors.find(r.says), std::string::npos) << errors;
    }
    // No run started, so no log was made.
    EXPECT_EQ(test::FindLog(logs, "-GPS-Data.txt"), "");
    EXPECT_EQ(test::FindLog(logs, "-Raw-GPS-Data.txt"), "");
}

// A run whose logs exist, against the simulated receiver and base station.
struct HeadlessRun {
    test::ScratchFolder folder;
    std::string logs = folder / "logs";
    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    test::ChildProcess ostrim;

    ::testing::AssertionResult Start()
    {
        std::filesystem::create_directory(logs);
        test::WriteFile(folder / "sensors.txt", test::DriveScript::SensorFileText());
        std::string error;
        if (!gps.Start(&error) || !base.Start(&error))
            return ::testing::AssertionFailure() << error;
        if (!ostrim.Start({kOstrim, "--headless", "--gps-port", gps.DevicePath(), "--base-port",
                           base.DevicePath(), "--sensor-file", folder / "sensors.txt", "--folder", logs}))
            return ::testing::AssertionFailure() << "cannot start " << kOstrim;
        std::vector<OutputLine> lines =
            ostrim.ReadLinesUntil([](const std::string& line) { return line == "Trigger on"; }, 10s);
        if (lines.empty() || lines.back().text != "Trigger on")
            return ::testing::AssertionFailure() << "not started: " << ostrim.Errors();
        for (auto end = std::chrono::steady_clock::now() + 10s; RawLog().empty();) {
            if (std::chrono::steady_clock::now() >= end)
                return ::testing::AssertionFailure() << "no logs: " << ostrim.Errors();
            std::this_thread::sleep_for(10ms);
        }
        return ::testing::AssertionSuccess();
    }
    std::string RawLog() { return test::FindLog(logs, "-Raw-GPS-Data.txt"); }
};

// `ostrim --headless ... | head -1`: the reader of standard output leaves after one line.
TEST(Headless, ReaderOfOutputGone_LoggingAndSwitchingGoOn)
{
    SKIP_WITHOUT_PROGRAM();
    HeadlessRun run;
    ASSERT_TRUE(run.Start());
    run.ostrim.CloseOutput();

    // Every fix prints its distances, and each firing its status line, into the closed pipe.
    const test::DriveScript drive(
        {{test::kAway, 10}, {0, 5}, {test::kAway, 10}, {1, 5}, {test::kAway, 10}});
    ASSERT_TRUE(drive.WriteCapture(run.folder / "drive.nmea"));
    std::string error;
    ASSERT_TRUE(run.gps.PlayFile(run.folder / "drive.nmea", test::DriveScript::kRate, &error)) << error;
    const auto logged = [&] { return test::CountLines(test::ReadFile(run.RawLog())); };
    for (auto end = std::chrono::steady_clock::now() + 20s;
         !(run.gps.Finished() && logged() >= drive.Fixes()) && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(logged(), drive.Fixes());
    EXPECT_EQ(run.base.Commands().size(), 4u) << "both sensors switched on and off";

    run.ostrim.Signal(SIGTERM);
    EXPECT_EQ(run.ostrim.Wait(10s), 0) << run.ostrim.Errors();
}

TEST(Headless, UserSignals_TriggerOnOffAndEndOfLap_EachPrintsItsLine)
{
    SKIP_WITHOUT_PROGRAM();
    HeadlessRun run;
    ASSERT_TRUE(run.Start());
    const std::pair<int, std::string> presses[] = {
        {SIGUSR1, "Trigger off"}, {SIGUSR1, "Trigger on"}, {SIGUSR2, "End of Lap: "}};
    for (const auto& [signal, says] : presses) {
        run.ostrim.Signal(signal);
        std::optional<OutputLine> line = run.ostrim.ReadLine(10s);
        ASSERT_TRUE(line) << says << ": " << run.ostrim.Errors();
        EXPECT_EQ(line->text.substr(0, says.size()), says);
        if (signal == SIGUSR2) {
            EXPECT_TRUE(std::filesystem::exists(line->text.substr(says.size()))) << line->text;
        }
    }
    run.ostrim.Signal(SIGTERM);
    EXPECT_EQ(run.ostrim.Wait(10s), 0) << run.ostrim.Errors();
}

TEST(Headless, SensorWarningsOnStandardErrorAndSilentGpsPortTold)
{
    SKIP_WITHOUT_PROGRAM();
    test::ScratchFolder folder;
    test::WriteFile(folder / "sensors.txt",
                    "52.2400360 6.8515274 S1 4070BF7B\n52.2401 6.8516 S2 403BA38G\n");
    PseudoTerminal receiver; // open, and silent
    ASSERT_EQ(receiver.Open(), 0);
    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--headless", "--gps-port", receiver.SlavePath(),
                              "--sensor-file", folder / "sensors.txt", "--folder",
                              folder.Path().string()}));
    const std::string told =
        "No data from the GPS receiver on " + receiver.SlavePath() + " for 5 s";
    std::vector<OutputLine> lines = ostrim.ReadLinesUntil(
        [&](const std::string& text) { return text == told; }, 10s);
    EXPECT_NE(Find(lines, told), -1);
    EXPECT_NE(ostrim.Errors().find("line 2: node id 403BA38G unreadable: sensor 2 is not armed"), std::string::npos)
        << ostrim.Errors();
    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s), 0);
}

// The summary lines the headless demo ends with, as numbers.
struct DemoSummary {
    long fixesSent = -1;
    long gpsLogLines = -1;
    long rawLogEntries = -1;
    long nodesSwitched = -1;
    double largestSpacing = -1;
    std::string gpsLog;
};

DemoSummary ReadSummary(const std::vector<OutputLine>& lines)
{
    DemoSummary s;
    const std::regex fixes(R"(demo:   fixes sent by the simulated receiver: (\d+))");
    const std::regex gps(R"(demo:   GPS log lines: (\d+) in (.+))");
    const std::regex raw(R"(demo:   raw log entries: (\d+) in .+)");
    const std::regex nodes(R"(demo:   nodes switched: (\d+))");
    const std::regex spacing(R"(demo:   largest fix spacing: ([0-9.]+) m)");
    for (const OutputLine& line : lines) {
        std::smatch m;
        if (std::regex_match(line.text, m, fixes))
            s.fixesSent = std::stol(m[1]);
        else if (std::regex_match(line.text, m, gps)) {
            s.gpsLogLines = std::stol(m[1]);
            s.gpsLog = m[2];
        } else if (std::regex_match(line.text, m, raw))
            s.rawLogEntries = std::stol(m[1]);
        else if (std::regex_match(line.text, m, nodes))
            s.nodesSwitched = std::stol(m[1]);
        else if (std::regex_match(line.text, m, spacing))
            s.largestSpacing = std::stod(m[1]);
    }
    return s;
}

TEST(HeadlessDemo, OneLap_SwitchesEveryNodeRearmsAndLogsEveryFix)
{
    SKIP_WITHOUT_PROGRAM();
    test::ScratchFolder folder;
    test::ChildProcess ostrim;
    // --headless even where the test runs with a display.
    ASSERT_TRUE(ostrim.Start({kOstrim, "--demo", "--headless", "--laps", "1", "--folder",
                              folder / "demo"}));
    std::vector<OutputLine> lines;
    EXPECT_EQ(ostrim.Wait(60s, &lines), 0) << ostrim.Errors();

    DemoSummary summary = ReadSummary(lines);
    // A lap of 700 m at 25 m/s and ten fixes a second, from the start back to it.
    EXPECT_GE(summary.fixesSent, 280);
    EXPECT_EQ(summary.gpsLogLines, summary.fixesSent);
    EXPECT_EQ(summary.rawLogEntries, summary.fixesSent);
    EXPECT_EQ(static_cast<long>(test::CountLines(test::ReadFile(summary.gpsLog))),
              summary.fixesSent);
    EXPECT_EQ(summary.nodesSwitched, 4);
    // 25 m/s at ten fixes a second; a lost sentence would show as a step of 5 m.
    EXPECT_GT(summary.largestSpacing, 2.4);
    EXPECT_LT(summary.largestSpacing, 4.0);

    int nodeLines = 0;
    bool rearmed = false;
    for (const OutputLine& line : lines) {
        nodeLines += line.text.find("base station: ") == 0 &&
                     line.text.find(" on") == line.text.size() - 3;
        rearmed = rearmed || line.text == "All sensors triggered";
    }
    EXPECT_EQ(nodeLines, 4);
    EXPECT_TRUE(rearmed) << "the Loop re-arm did not show within the lap";
    // The operator can open the sensor file the demo drove past.
    EXPECT_EQ(test::ReadFile(folder / "demo/demo-sensors.txt"),
              test::ReadFile(std::string(OSTRIM_SOURCE_DIR) + "/res/demo/demo-sensors.txt"));
}

TEST(HeadlessDemo, Interrupted_StopsCleanlyWithEveryFixSentLogged)
{
    SKIP_WITHOUT_PROGRAM();
    test::ScratchFolder folder;
    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--demo", "--headless", "--laps", "0", "--folder",
                              folder / "demo"}));
    // Interrupted just after the first node command, while fixes stream in.
    std::vector<OutputLine> lines = ostrim.ReadLinesUntil(
        [](const std::string& line) { return line.find("node 0x4070BF7B on") != std::string::npos; },
        20s);
    ASSERT_FALSE(lines.empty());
    ASSERT_NE(lines.back().text.find("node 0x4070BF7B on"), std::string::npos) << ostrim.Errors();
    ostrim.Signal(SIGINT);
    const auto interrupted = std::chrono::steady_clock::now();
    EXPECT_EQ(ostrim.Wait(15s, &lines), 0) << ostrim.Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 8s);

    EXPECT_NE(Find(lines, "demo: interrupted"), -1);
    DemoSummary summary = ReadSummary(lines);
    EXPECT_GT(summary.fixesSent, 0);
    EXPECT_EQ(summary.gpsLogLines, summary.fixesSent);
    EXPECT_EQ(summary.rawLogEntries, summary.fixesSent);
    EXPECT_EQ(summary.nodesSwitched, 1);
}

} // namespace
} // namespace ostrim

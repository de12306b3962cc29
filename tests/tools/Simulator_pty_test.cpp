// The simulator's devices against the program's own ports, as a run uses them.

#include "basestation/BaseStationCommands.h"
#include "basestation/BaseStationPort.h"
#include "basestation/RadioFrameBuilder.h"
#include "gps/PortMonitor.h"
#include "platform/posix/SerialDevice.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/PtyTestSupport.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Nmea.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <numbers>
#include <thread>

namespace ostrim::sim {
namespace {

using namespace std::chrono_literals;
using test::Clock;

template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds timeout)
{
    auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Reads whole lines from the GPS port with the program's monitor.
struct LineCollector {
    static void Callback(PortMonitor* monitor, std::int32_t code, void* context)
    {
        auto* self = static_cast<LineCollector*>(context);
        std::lock_guard lock(self->mutex);
        if (code == 1)
            self->ended = true;
        if (code != 3)
            return;
        char c = monitor->GetReadBuffer()[0];
        self->partial += c;
        if (c == '\n') {
            self->lines.push_back(self->partial);
            self->partial.clear();
        }
        monitor->RequestNextRead();
    }
    std::size_t Count()
    {
        std::lock_guard lock(mutex);
        return lines.size();
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard lock(mutex);
        return lines;
    }

    std::mutex mutex;
    std::vector<std::string> lines;
    std::string partial;
    bool ended = false;
};

bool ChecksumOk(const std::string& sentence)
{
    std::size_t star = sentence.rfind('*');
    return sentence.size() > 6 && sentence[0] == '$' && star != std::string::npos &&
           sentence.substr(star + 1, 2) == NmeaChecksum(sentence.substr(1, star - 1));
}

// Field i (0 = "$GPGGA") of a sentence.
std::string Field(const std::string& sentence, int i)
{
    std::size_t at = 0;
    for (int k = 0; k < i; ++k)
        at = sentence.find(',', at) + 1;
    return sentence.substr(at, sentence.find(',', at) - at);
}

double Degrees(const std::string& field, int degreeDigits)
{
    return std::stod(field.substr(0, degreeDigits)) + std::stod(field.substr(degreeDigits)) / 60.0;
}

std::string WriteCapture(int lines)
{
    std::string path = ::testing::TempDir() + "ostrim-capture-" + std::to_string(::getpid()) +
                       ".log";
    std::ofstream out(path, std::ios::binary);
    out << "# Name: test capture\n# a second comment line\n";
    for (int i = 0; i < lines; ++i)
        out << "$GPTXT,01,01,02,line " << i << "*00\r\n";
    return path;
}

TEST(BaseStationSim, ProgramPingsAndSwitchesThroughIt)
{
    BaseStationSim sim;
    std::vector<std::string> printed;
    std::mutex printedMutex;
    sim.SetOnLine([&](const std::string& line) {
        std::lock_guard lock(printedMutex);
        printed.push_back(line);
    });
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    test::FakeDialogFields fields;
    BaseStationCommands commands(fields, [&] { return sim.DevicePath(); });
    commands.OnPing();
    EXPECT_EQ(fields.Status(), "Successfully pinged base station");
    EXPECT_EQ(commands.SwitchNode(0x4070BF7B), 1);
    EXPECT_EQ(fields.Status(), "Node 1081130875 success");

    ASSERT_TRUE(WaitUntil([&] { return sim.Commands().size() == 2; }, 1000ms));
    std::vector<NodeCommand> seen = sim.Commands();
    EXPECT_EQ(seen[0].nodeId, 0x4070BF7Bu);
    EXPECT_TRUE(seen[0].on);
    EXPECT_FALSE(seen[1].on);
    EXPECT_TRUE(seen[0].checksumOk && seen[1].checksumOk);
    EXPECT_GE(seen[1].time - seen[0].time, 70ms); // timed as decoded, on a busy machine
    EXPECT_EQ(sim.Pings(), 1);
    EXPECT_EQ(sim.BadFrames(), 0);
    EXPECT_EQ(sim.StrayBytes(), 0);
    std::lock_guard lock(printedMutex);
    ASSERT_EQ(printed.size(), 3u);
    EXPECT_NE(printed[0].find("ping, answered"), std::string::npos) << printed[0];
    EXPECT_NE(printed[1].find("node 0x4070BF7B on"), std::string::npos) << printed[1];
    EXPECT_NE(printed[2].find("node 0x4070BF7B off"), std::string::npos) << printed[2];
}

TEST(BaseStationSim, BadChecksumIsReportedNotIgnored)
{
    BaseStationSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    BaseStationPortHandle port = OpenBaseStationPort(sim.DevicePath().c_str());
    ASSERT_NE(port, nullptr);
    std::vector<std::uint8_t> frame = RadioFrameBuilder().MakeTxRequest({0xFE, 0x01}, 0x403BA38B);
    frame.back() ^= 0x01;
    for (std::uint8_t b : frame)
        ASSERT_EQ(WriteBaseStationPort(port, &b, 1), 0);
    CloseBaseStationPort(port);
    ASSERT_TRUE(WaitUntil([&] { return sim.Commands().size() == 1; }, 1000ms));
    EXPECT_FALSE(sim.Commands()[0].checksumOk);
    EXPECT_NE(sim.Commands()[0].line.find("BAD CHECKSUM"), std::string::npos);
    EXPECT_EQ(sim.BadFrames(), 1);
}

TEST(BaseStationSim, SilentBaseStation_PingTimesOut)
{
    BaseStationSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    sim.SetAnswering(false);
    BaseStationPortHandle port = OpenBaseStationPort(sim.DevicePath().c_str());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(PingBaseStation(port), 1);
    CloseBaseStationPort(port);
    EXPECT_EQ(sim.Pings(), 1);
}

TEST(BaseStationSim, SurvivesTheProgramReopeningItsSideAsAnOrdinaryUser)
{
    BaseStationSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const std::string path = sim.DevicePath();
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), test::kNobody, test::kNobody), 0);
    }
    int result = test::RunAsNobody([&path] {
        for (int round = 0; round < 20; ++round) {
            BaseStationPortHandle port = OpenBaseStationPort(path.c_str());
            if (port == nullptr)
                return 10;
            if (PingBaseStation(port) != 0)
                return 11;
            if (CloseBaseStationPort(port) != 0)
                return 12;
        }
        return 0;
    });
    if (result == test::kCannotChangeUser)
        GTEST_SKIP() << "this process cannot change user";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(sim.Pings(), 20);
}

TEST(BaseStationSim, Stopped_IsAnUnpluggedBaseStation)
{
    BaseStationSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    std::string path = sim.DevicePath();
    BaseStationPortHandle port = OpenBaseStationPort(path.c_str());
    ASSERT_NE(port, nullptr);
    sim.Stop();
    EXPECT_EQ(PingBaseStation(port), -1);
    CloseBaseStationPort(port);
    EXPECT_EQ(OpenBaseStationPort(path.c_str()), nullptr);
}

TEST(GpsReceiverSim, DrivesTheTrackWithValidFixesAtTheSpeed)
{
    GpsReceiverSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    Track track{.waypoints = {{52.0, 6.0}, {52.0, 6.01}}};
    LineCollector collector;
    PortMonitor monitor;
    monitor.SetCallback(&LineCollector::Callback, &collector);
    ASSERT_EQ(monitor.Open(sim.DevicePath().c_str(), 38400, 0, 8, 1), PortMonitor::kOk);
    sim.DriveTrack(track, 20.0, 20.0); // one metre a fix
    ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 12; }, 3000ms));
    std::vector<std::string> lines = collector.Lines();
    double metresPerDegreeEast =
        std::numbers::pi / 180 * 6371008.8 * std::cos(52.0 * std::numbers::pi / 180);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& s = lines[i];
        SCOPED_TRACE(s);
        EXPECT_TRUE(ChecksumOk(s));
        EXPECT_EQ(Field(s, 0), "$GPGGA");
        EXPECT_EQ(Field(s, 3), "N");
        EXPECT_EQ(Field(s, 5), "E");
        EXPECT_EQ(Field(s, 6), "1");
        EXPECT_NEAR(Degrees(Field(s, 2), 2), 52.0, 1e-6);
        double east = (Degrees(Field(s, 4), 3) - 6.0) * metresPerDegreeEast;
        EXPECT_NEAR(east, static_cast<double>(i), 0.25); // ddmm.mmmm: about 0.1 m east-west here
    }
    // The time field is the simulator's clock in UTC.
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    int fieldSeconds = std::stoi(Field(lines.back(), 1).substr(0, 2)) * 3600 +
                       std::stoi(Field(lines.back(), 1).substr(2, 2)) * 60 +
                       std::stoi(Field(lines.back(), 1).substr(4, 2));
    int nowSeconds = utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec;
    int diff = std::abs(nowSeconds - fieldSeconds);
    EXPECT_LE(std::min(diff, 86400 - diff), 5);
}

TEST(GpsReceiverSim, OpenTrackEndsOnItsLastWaypoint)
{
    GpsReceiverSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    Track track{.waypoints = {{52.0, 6.0}, {52.0001, 6.0}}}; // about 11 m north
    sim.DriveTrack(track, 100.0, 50.0);                        // 2 m a fix: 7 fixes
    ASSERT_TRUE(WaitUntil([&] { return sim.Finished(); }, 2000ms));
    EXPECT_EQ(sim.SentencesSent(), 7u);
}

TEST(GpsReceiverSim, PlaysACaptureByteExactSkippingComments)
{
    const std::string path = WriteCapture(5);
    GpsReceiverSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    SerialDevice port;
    ASSERT_EQ(port.Open(sim.DevicePath()), 0);
    ASSERT_EQ(port.Configure(SerialSettings{}), 0);
    auto start = Clock::now();
    ASSERT_TRUE(sim.PlayFile(path, 0, &error)) << error;
    std::string expected;
    for (int i = 0; i < 5; ++i)
        expected += "$GPTXT,01,01,02,line " + std::to_string(i) + "*00\r\n";
    std::vector<std::uint8_t> got(expected.size() + 1);
    std::size_t count = 0;
    ASSERT_EQ(port.Read(got.data(), got.size(), {.total = 3000ms, .interByte = 300ms}, &count), 0);
    auto took = Clock::now() - start;
    EXPECT_EQ(std::string(got.begin(), got.begin() + static_cast<long>(count)), expected);
    EXPECT_TRUE(sim.Finished());
    EXPECT_EQ(sim.SentencesSent(), 5u);
    // Its own pace: ten lines a second, the first at once.
    EXPECT_GE(took, 380ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_FALSE(sim.PlayFile(path + ".missing", 0, &error));
    std::remove(path.c_str());
}

TEST(GpsReceiverSim, ProgramClosingAndReopening_LosesNoLine)
{
    const std::string path = WriteCapture(60);
    GpsReceiverSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ASSERT_TRUE(sim.PlayFile(path, 200.0, &error)) << error;
    std::string received;
    for (int round = 0; round < 6 && !(sim.Finished() && received.size() > 0); ++round) {
        SerialDevice port;
        ASSERT_EQ(port.Open(sim.DevicePath()), 0) << "round " << round;
        ASSERT_EQ(port.Configure(SerialSettings{}), 0);
        std::uint8_t buffer[4096];
        std::size_t count = 0;
        ASSERT_EQ(port.Read(buffer, sizeof buffer, {.total = 40ms}, &count), 0);
        received.append(buffer, buffer + count);
        port.Close();
        std::this_thread::sleep_for(60ms); // closed while the receiver keeps sending
    }
    ASSERT_TRUE(WaitUntil([&] { return sim.Finished(); }, 2000ms));
    SerialDevice port;
    ASSERT_EQ(port.Open(sim.DevicePath()), 0);
    std::uint8_t buffer[4096];
    std::size_t count = 0;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, {.total = 100ms}, &count), 0);
    received.append(buffer, buffer + count);
    std::string expected;
    for (int i = 0; i < 60; ++i)
        expected += "$GPTXT,01,01,02,line " + std::to_string(i) + "*00\r\n";
    EXPECT_EQ(received, expected);
    std::remove(path.c_str());
}

TEST(GpsReceiverSim, NobodyReading_StopStillReturnsPromptly)
{
    const std::string path = WriteCapture(3000); // over 80 kB: more than a tty holds
    GpsReceiverSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ASSERT_TRUE(sim.PlayFile(path, 100000.0, &error)) << error;
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(sim.Finished());
    auto start = Clock::now();
    sim.Stop();
    EXPECT_LT(Clock::now() - start, 500ms);
    std::remove(path.c_str());
}

TEST(GpsReceiverSim, Halt_NothingMoreSentAndEveryLineSentCanStillBeRead)
{
    GpsReceiverSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    sim.DriveTrack(BuiltinTrack(), 10.0, 50.0);
    LineCollector collector;
    PortMonitor monitor;
    monitor.SetCallback(&LineCollector::Callback, &collector);
    ASSERT_EQ(monitor.Open(sim.DevicePath().c_str(), 38400, 0, 8, 1), PortMonitor::kOk);
    ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 5; }, 2000ms));
    sim.Halt();
    std::this_thread::sleep_for(100ms); // a sentence on its way finishes
    const std::size_t sent = sim.SentencesSent();
    std::this_thread::sleep_for(200ms); // ten fix intervals
    EXPECT_EQ(sim.SentencesSent(), sent);
    EXPECT_TRUE(sim.Finished());
    ASSERT_TRUE(WaitUntil([&] { return collector.Count() == sent; }, 1000ms)) << collector.Count();
    EXPECT_TRUE(monitor.Running()) << "the port must stay open";
}

TEST(GpsReceiverSim, Stopped_MonitorEndsWithCodeOne)
{
    GpsReceiverSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    sim.DriveTrack(BuiltinTrack(), 10.0, 10.0);
    LineCollector collector;
    PortMonitor monitor;
    monitor.SetCallback(&LineCollector::Callback, &collector);
    ASSERT_EQ(monitor.Open(sim.DevicePath().c_str(), 38400, 0, 8, 1), PortMonitor::kOk);
    ASSERT_TRUE(WaitUntil([&] { return collector.Count() >= 1; }, 2000ms));
    sim.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !monitor.Running(); }, 1000ms));
    std::lock_guard lock(collector.mutex);
    EXPECT_TRUE(collector.ended);
}

} // namespace
} // namespace ostrim::sim

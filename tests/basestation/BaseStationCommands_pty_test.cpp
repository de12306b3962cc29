#include "basestation/BaseStationCommands.h"

#include "basestation/RadioFrameBuilder.h"
#include "platform/posix/PseudoTerminal.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/PtyTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::ReadFromMaster;
using test::WriteToMaster;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

// The base station's side of the line: records every byte with its arrival time and, if told
// to, answers each 0x01 with a byte of its choice.
class FakeBaseStation {
public:
    explicit FakeBaseStation(const PseudoTerminal& pty, std::optional<std::uint8_t> answer)
        : pty_(pty), answer_(answer), thread_([this] { Run(); })
    {
    }
    ~FakeBaseStation() { Stop(); }

    void Stop()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }
    // The last bytes written may still be in the line when the caller returns.
    void WaitForBytes(std::size_t count, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
    }
    std::vector<std::uint8_t> Received() const
    {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::vector<Clock::time_point> Times() const
    {
        std::lock_guard lock(mutex_);
        return times_;
    }

private:
    void Run()
    {
        while (!stop_.load()) {
            std::uint8_t buffer[64];
            std::size_t got = 0;
            if (pty_.ReadMaster(buffer, sizeof buffer, 10ms, &got) != 0)
                return;
            auto now = Clock::now();
            for (std::size_t i = 0; i < got; ++i) {
                {
                    std::lock_guard lock(mutex_);
                    bytes_.push_back(buffer[i]);
                    times_.push_back(now);
                }
                arrived_.notify_all();
                if (answer_ && buffer[i] == 0x01)
                    WriteToMaster(pty_, {*answer_});
            }
        }
    }

    const PseudoTerminal& pty_;
    std::optional<std::uint8_t> answer_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::uint8_t> bytes_;
    std::vector<Clock::time_point> times_;
    std::thread thread_;
};

class BaseStationCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pty.Open(), 0); }

    BaseStationCommands Commands()
    {
        return BaseStationCommands(fields, [this] { return selected; });
    }

    PseudoTerminal pty;
    test::FakeDialogFields fields;
    std::string selected = "";
    void Select() { selected = pty.SlavePath(); }
};

TEST_F(BaseStationCommandsTest, SendNodeCommand_FramesArriveByteExact)
{
    // Bytes that a terminal, a flow-control or a framing layer would act on must pass as data.
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x4070BF7B, "4070BF7B"}, {0x403BA38B, "403BA38B"}, {0x0A0D1113, "0A0D1113"},
        {0x7E7D0304, "7E7D0304"}, {0x1A7F0A0D, "1A7F0A0D"}, {0x13117D7E, "13117D7E"},
        {0x03041A7F, "03041A7F"},
    };
    BaseStationPortHandle handle = OpenBaseStationPort(pty.SlavePath().c_str());
    ASSERT_NE(handle, nullptr);
    for (auto [id, name] : cases) {
        SCOPED_TRACE(name);
        for (int on : {1, 0, 5}) {
            ASSERT_EQ(SendNodeCommand(handle, id, on), 0);
            std::vector<std::uint8_t> expected = RadioFrameBuilder().MakeTxRequest(
                Bytes({0xFE, on ? 0x01 : 0x00}), id);
            EXPECT_EQ(ReadFromMaster(pty, 17, 300ms), expected) << "on " << on;
        }
    }
    EXPECT_TRUE(ReadFromMaster(pty, 1, 50ms).empty());
    CloseBaseStationPort(handle);
}

TEST_F(BaseStationCommandsTest, SendNodeCommand_ExampleNodesOnTheWire)
{
    BaseStationPortHandle handle = OpenBaseStationPort(pty.SlavePath().c_str());
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(SendNodeCommand(handle, 0x4070BF7B, 1), 0);
    ASSERT_EQ(SendNodeCommand(handle, 0x403BA38B, 0), 0);
    EXPECT_EQ(ReadFromMaster(pty, 35, 200ms),
              Bytes({0x7E, 0x00, 0x0D, 0x00, 0x01, 0x00, 0x13, 0xA2, 0x00, 0x40, 0x70, 0xBF,
                     0x7B, 0x00, 0xFE, 0x01, 0x60, 0x7E, 0x00, 0x0D, 0x00, 0x01, 0x00, 0x13,
                     0xA2, 0x00, 0x40, 0x3B, 0xA3, 0x8B, 0x00, 0xFE, 0x00, 0xA2}));
    CloseBaseStationPort(handle);
}

TEST_F(BaseStationCommandsTest, Ping_ResultByAnswer)
{
    const std::pair<std::optional<std::uint8_t>, int> cases[] = {
        {0x01, 0}, {0x02, 2}, {0x00, 2}, {std::nullopt, 1},
    };
    for (auto [answer, expected] : cases) {
        BaseStationPortHandle handle = OpenBaseStationPort(pty.SlavePath().c_str());
        ASSERT_NE(handle, nullptr);
        FakeBaseStation station(pty, answer);
        EXPECT_EQ(PingBaseStation(handle), expected) << (answer ? int(*answer) : -1);
        station.Stop();
        EXPECT_EQ(station.Received(), Bytes({0x01}));
        CloseBaseStationPort(handle);
    }
}

TEST_F(BaseStationCommandsTest, Ping_StaleAnswerWaitingIsNotTaken)
{
    BaseStationPortHandle handle = OpenBaseStationPort(pty.SlavePath().c_str());
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(WriteToMaster(pty, {0x01}));
    std::this_thread::sleep_for(20ms); // the stale byte is in the program's input queue
    auto start = Clock::now();
    EXPECT_EQ(PingBaseStation(handle), 1);
    EXPECT_GE(Clock::now() - start, 600ms);
    CloseBaseStationPort(handle);
}

TEST_F(BaseStationCommandsTest, Ping_Unplugged_Fails)
{
    BaseStationPortHandle handle = OpenBaseStationPort(pty.SlavePath().c_str());
    ASSERT_NE(handle, nullptr);
    pty.CloseMaster();
    EXPECT_EQ(PingBaseStation(handle), -1);
    CloseBaseStationPort(handle);
}

TEST_F(BaseStationCommandsTest, OnPing_StatusByOutcome)
{
    BaseStationCommands commands = Commands();
    commands.OnPing(); // nothing selected
    EXPECT_EQ(fields.Status(), "Base station failed to open");

    Select();
    {
        FakeBaseStation station(pty, 0x01);
        commands.OnPing();
        EXPECT_EQ(fields.Status(), "Successfully pinged base station");
    }
    {
        FakeBaseStation station(pty, 0x55);
        commands.OnPing();
        EXPECT_EQ(fields.Status(), "Failed to ping base station");
    }
    BaseStationPortHandle holder = OpenBaseStationPort(pty.SlavePath().c_str());
    ASSERT_NE(holder, nullptr);
    commands.OnPing();
    EXPECT_EQ(fields.Status(), "Base station failed to open");
    CloseBaseStationPort(holder);
}

TEST_F(BaseStationCommandsTest, SwitchNode_OnThenOffAtLeastAPulseApart)
{
    Select();
    BaseStationCommands commands = Commands();
    FakeBaseStation station(pty, std::nullopt);
    auto start = Clock::now();
    EXPECT_EQ(commands.SwitchNode(0x4070BF7B), 1);
    auto took = Clock::now() - start;
    station.WaitForBytes(34, 1s);
    station.Stop();
    EXPECT_EQ(fields.Status(), "Node 1081130875 success");
    std::vector<std::uint8_t> expected =
        RadioFrameBuilder().MakeTxRequest(Bytes({0xFE, 0x01}), 0x4070BF7B);
    std::vector<std::uint8_t> off =
        RadioFrameBuilder().MakeTxRequest(Bytes({0xFE, 0x00}), 0x4070BF7B);
    expected.insert(expected.end(), off.begin(), off.end());
    ASSERT_EQ(station.Received(), expected);
    std::vector<Clock::time_point> times = station.Times();
    // Timed where the frames are read, so a busy machine may shorten the gap seen a little.
    EXPECT_GE(times[17] - times[16], 70ms);
    EXPECT_GE(took, 100ms);
    EXPECT_LT(took, 400ms);
    // The port was closed: it opens again.
    BaseStationPortHandle again = OpenBaseStationPort(pty.SlavePath().c_str());
    EXPECT_NE(again, nullptr);
    CloseBaseStationPort(again);
}

// The port opens exclusively; every exchange of the process takes its turn instead. A switch due
// while another part of the program waits for a ping's answer is written after the ping.
TEST_F(BaseStationCommandsTest, SwitchNode_DuringAPingAwaitingItsAnswer_WaitsAndIsWritten)
{
    Select();
    FakeBaseStation station(pty, std::nullopt); // hears the ping, never answers: it waits it out
    BaseStationCommands checker = Commands();
    test::FakeDialogFields switchFields;
    BaseStationCommands switcher(switchFields, [this] { return selected; });
    std::thread ping([&] { checker.OnPing(); });
    station.WaitForBytes(1, 1s);
    ASSERT_EQ(station.Received(), Bytes({0x01}));
    EXPECT_EQ(switcher.SwitchNode(0x4070BF7B), 1);
    ping.join();
    station.WaitForBytes(35, 1s);
    station.Stop();
    EXPECT_EQ(fields.Status(), "Failed to ping base station");
    EXPECT_EQ(switchFields.Status(), "Node 1081130875 success");
    std::vector<std::uint8_t> expected = Bytes({0x01});
    for (int on : {1, 0}) {
        const std::vector<std::uint8_t> frame =
            RadioFrameBuilder().MakeTxRequest(Bytes({0xFE, on}), 0x4070BF7B);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(station.Received(), expected);
}

TEST_F(BaseStationCommandsTest, SwitchNode_PortThatDoesNotOpen_ReportsAndReturnsZero)
{
    BaseStationCommands commands = Commands();
    EXPECT_EQ(commands.SwitchNode(0x4070BF7B), 0);
    EXPECT_EQ(fields.Status(), "Base station failed to open");

    Select();
    BaseStationPortHandle holder = OpenBaseStationPort(pty.SlavePath().c_str());
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(commands.SwitchNode(0x4070BF7B), 0);
    EXPECT_EQ(fields.Status(), "Base station failed to open");
    CloseBaseStationPort(holder);
}

TEST_F(BaseStationCommandsTest, SwitchNode_UnpluggedDuringThePulse_ReportsFailure)
{
    Select();
    BaseStationCommands commands = Commands();
    std::thread unplug([this] {
        // Take the on frame, then pull the plug while the program waits to send off.
        if (ReadFromMaster(pty, 17, 1s).size() == 17)
            pty.CloseMaster();
    });
    EXPECT_EQ(commands.SwitchNode(0xFFFFFFFF), 1);
    unplug.join();
    EXPECT_EQ(fields.Status(), "Node -1 failed");
}

TEST_F(BaseStationCommandsTest, SwitchNode_BaseStationTakingNoBytes_FailsWithinTwoAndAHalfSeconds)
{
    test::StuckDevice stuck;
    ASSERT_TRUE(stuck.Make());
    selected = stuck.Path();
    BaseStationCommands commands = Commands();
    auto start = Clock::now();
    EXPECT_EQ(commands.SwitchNode(0x4070BF7B), 1);
    EXPECT_LE(Clock::now() - start, 2500ms);
    EXPECT_EQ(fields.Status(), "Node 1081130875 failed");
}

// One fix may find several sensors due; each switch after the stop would add to it.
TEST_F(BaseStationCommandsTest, SwitchNode_AfterStop_SendsNothing)
{
    Select();
    BaseStationCommands commands = Commands();
    commands.Stop();
    EXPECT_EQ(commands.SwitchNode(0x4070BF7B), 0);
    EXPECT_TRUE(ReadFromMaster(pty, 1, 150ms).empty());
    EXPECT_EQ(fields.Status(), "");
}

TEST_F(BaseStationCommandsTest, OnTestNode_SwitchesTheNodeOfTheBox)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "Node 1077650315 success"},
        {"4070BF7B", "Node 1081130875 success"},
        {"4070BF7G", "Node 67570679 success"},
        {"-1", "Node -1 success"},
    };
    Select();
    BaseStationCommands commands = Commands();
    for (auto [text, status] : cases) {
        fields.SetText(Field::NodeId, text);
        commands.OnTestNode();
        EXPECT_EQ(fields.Status(), status) << text;
        std::vector<std::uint8_t> wire = ReadFromMaster(pty, 34, 300ms);
        ASSERT_EQ(wire.size(), 34u) << text;
        std::uint32_t id = std::uint32_t(wire[9]) << 24 | std::uint32_t(wire[10]) << 16 |
                           std::uint32_t(wire[11]) << 8 | wire[12];
        EXPECT_EQ(static_cast<std::int32_t>(id), std::stoi(std::string(status).substr(5))) << text;
    }
}

TEST_F(BaseStationCommandsTest, OnTestNode_ReadsAtMost259Characters)
{
    Select();
    BaseStationCommands commands = Commands();
    // 252 spaces, then "4070BF7B": 259 characters are read, so the last B is cut.
    fields.SetText(Field::NodeId, std::string(252, ' ') + "4070BF7B");
    commands.OnTestNode();
    EXPECT_EQ(fields.Status(), "Node 67570679 success");
}

TEST(ParseNodeIdText, ReadsLikeScanfHex)
{
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"4070BF7B", 0x4070BF7B},
        {"0x4070bf7b", 0x4070BF7B},
        {"0X4070BF7B", 0x4070BF7B},
        {"4070BF7G", 0x04070BF7},
        {"  \t4070bf7b rest", 0x4070BF7B},
        {"FFFFFFFF", 0xFFFFFFFF},
        {"-1", 0xFFFFFFFF},
        {"+1a", 0x1A},
        {"-0x10", 0xFFFFFFF0},
        {"123456789", 0x23456789},
        {"0", 0},
        {"0x", 0},           // the 0 converts; the x ends the number
        {"0xg", 0},
        {"", kDefaultTestNode},
        {"   ", kDefaultTestNode},
        {"G12", kDefaultTestNode},
        {"-", kDefaultTestNode},
        {"x12", kDefaultTestNode},
        {"- 12", kDefaultTestNode},
    };
    for (auto [text, id] : cases)
        EXPECT_EQ(ParseNodeIdText(text), id) << '"' << text << '"';
}

} // namespace
} // namespace ostrim

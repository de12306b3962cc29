#include "basestation/BaseStationPort.h"

#include "platform/posix/PseudoTerminal.h"
#include "platform/posix/SerialDevice.h"
#include "tests/support/PtyTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::MsSince;
using test::ReadFromMaster;
using test::WriteToMaster;

TEST(MakeComPortName, NumbersNameSerialDevices)
{
    const std::pair<int, const char*> cases[] = {
        {1, "/dev/ttyS0"}, {3, "/dev/ttyS2"}, {12, "/dev/ttyS11"}, {0, ""}, {-4, ""},
    };
    for (auto [number, name] : cases)
        EXPECT_EQ(MakeComPortName(number), name) << number;
}

TEST(PortNameFromListText, NumbersMapAndPathsStay)
{
    const std::pair<const char*, const char*> cases[] = {
        {"3", "/dev/ttyS2"},
        {"0", ""},
        {"", ""},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"3a", "3a"},
        {"99999999999", "99999999999"}, // too long for a port number: left as a name
    };
    for (auto [text, name] : cases)
        EXPECT_EQ(PortNameFromListText(text), name) << text;
}

class BaseStationPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pty.Open(), 0); }
    void TearDown() override
    {
        if (handle != nullptr)
            CloseBaseStationPort(handle);
    }
    BaseStationPortHandle OpenIt()
    {
        handle = OpenBaseStationPort(pty.SlavePath().c_str());
        return handle;
    }

    PseudoTerminal pty;
    BaseStationPortHandle handle = nullptr;
};

TEST_F(BaseStationPortTest, NoDevice_OpenFailsWithItsErrno)
{
    EXPECT_EQ(OpenBaseStationPort("/dev/ostrim-no-such-port"), nullptr);
    EXPECT_EQ(LastBaseStationOpenError(), ENOENT);
    EXPECT_EQ(OpenBaseStationPort(MakeComPortName(0).c_str()), nullptr);
    EXPECT_EQ(OpenBaseStationPort(nullptr), nullptr);
}

TEST_F(BaseStationPortTest, HeldPort_SecondOpenFailsAndOpensAfterClose)
{
    ASSERT_NE(OpenIt(), nullptr);
    EXPECT_EQ(OpenBaseStationPort(pty.SlavePath().c_str()), nullptr);
    EXPECT_EQ(LastBaseStationOpenError(), EBUSY);
    EXPECT_EQ(CloseBaseStationPort(handle), 0);
    handle = nullptr;
    EXPECT_NE(OpenIt(), nullptr);
}

TEST_F(BaseStationPortTest, HeldPort_OrdinaryUserIsRefusedAndReopensAfterClose)
{
    ASSERT_EQ(pty.GiveSlaveTo(test::kNobody, test::kNobody), 0);
    const std::string path = pty.SlavePath();
    int result = test::RunAsNobody([&path] {
        for (int round = 0; round < 3; ++round) {
            BaseStationPortHandle first = OpenBaseStationPort(path.c_str());
            if (first == nullptr)
                return 10 + round;
            if (OpenBaseStationPort(path.c_str()) != nullptr)
                return 20;
            if (CloseBaseStationPort(first) != 0)
                return 30;
        }
        return 0;
    });
    if (result == test::kCannotChangeUser)
        GTEST_SKIP() << "this process cannot change user";
    EXPECT_EQ(result, 0);
}

TEST_F(BaseStationPortTest, SettingsRefused_NullAndNothingStaysHeld)
{
    EXPECT_EQ(OpenBaseStationPort("/dev/null"), nullptr);
    EXPECT_EQ(LastBaseStationOpenError(), ENOTTY);
    SerialDevice device;
    EXPECT_EQ(device.Open("/dev/null"), 0);
}

TEST_F(BaseStationPortTest, NullHandle_EveryCallFails)
{
    std::uint8_t byte = 0x01;
    EXPECT_EQ(CloseBaseStationPort(nullptr), -1);
    EXPECT_EQ(PurgeBaseStationPort(nullptr), -1);
    EXPECT_EQ(WriteBaseStationPort(nullptr, &byte, 1), -1);
    EXPECT_EQ(ReadBaseStationPort(nullptr, &byte, 1), -1);
}

TEST_F(BaseStationPortTest, OneByteReadWithNoAnswer_ShortAfterSixHundredMs)
{
    ASSERT_NE(OpenIt(), nullptr);
    std::uint8_t byte = 0xAA;
    auto start = Clock::now();
    EXPECT_EQ(ReadBaseStationPort(handle, &byte, 1), 1);
    long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 600);
    EXPECT_LT(elapsed, 900);
    EXPECT_EQ(byte, 0xAA);
}

TEST_F(BaseStationPortTest, FourByteReadOfWhichTwoCome_ShortThirtyMsAfterTheSecond)
{
    ASSERT_NE(OpenIt(), nullptr);
    Clock::time_point secondSent;
    std::thread device([&] {
        std::this_thread::sleep_for(100ms);
        WriteToMaster(pty, {0x7E});
        std::this_thread::sleep_for(15ms);
        WriteToMaster(pty, {0x0D});
        secondSent = Clock::now();
    });
    std::uint8_t bytes[4] = {};
    EXPECT_EQ(ReadBaseStationPort(handle, bytes, 4), 1);
    auto returned = Clock::now();
    device.join();
    EXPECT_EQ(bytes[0], 0x7E);
    EXPECT_EQ(bytes[1], 0x0D);
    long afterSecond = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(returned - secondSent).count());
    EXPECT_GE(afterSecond, 28); // the gap is timed from when the byte was read
    EXPECT_LT(afterSecond, 250); // far below the 900 ms total time-out
}

TEST_F(BaseStationPortTest, AllBytesThere_ReadReturnsAtOnce)
{
    ASSERT_NE(OpenIt(), nullptr);
    std::thread device([&] {
        std::this_thread::sleep_for(20ms);
        WriteToMaster(pty, {1, 2, 3});
    });
    std::uint8_t bytes[3] = {};
    auto start = Clock::now();
    EXPECT_EQ(ReadBaseStationPort(handle, bytes, 3), 0);
    long elapsed = MsSince(start);
    device.join();
    EXPECT_EQ(bytes[2], 3);
    EXPECT_LT(elapsed, 200);
}

TEST_F(BaseStationPortTest, InputBeforeOpenOrWrite_IsNeverReadAfterIt)
{
    // The pseudo-terminal keeps bytes for the next opener, as a driver queue would.
    ASSERT_TRUE(WriteToMaster(pty, {0x01}));
    std::this_thread::sleep_for(20ms);
    ASSERT_NE(OpenIt(), nullptr);
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadBaseStationPort(handle, &byte, 1), 1) << "stale byte before open was read";

    ASSERT_TRUE(WriteToMaster(pty, {0x01}));
    std::this_thread::sleep_for(20ms);
    std::uint8_t out = 0x55;
    EXPECT_EQ(WriteBaseStationPort(handle, &out, 1), 0);
    EXPECT_EQ(ReadBaseStationPort(handle, &byte, 1), 1) << "stale byte before write was read";
    EXPECT_EQ(ReadFromMaster(pty, 2, 200ms), std::vector<std::uint8_t>{0x55});
}

TEST_F(BaseStationPortTest, WritesInARow_EveryByteReachesTheLineInOrder)
{
    ASSERT_NE(OpenIt(), nullptr);
    std::vector<std::uint8_t> sent;
    for (int i = 0; i < 600; ++i) {
        std::uint8_t byte = static_cast<std::uint8_t>(i * 7);
        ASSERT_EQ(WriteBaseStationPort(handle, &byte, 1), 0);
        sent.push_back(byte);
    }
    EXPECT_EQ(ReadFromMaster(pty, sent.size() + 1, 300ms), sent);
}

TEST_F(BaseStationPortTest, Unplugged_WriteReadAndPurgeFail)
{
    ASSERT_NE(OpenIt(), nullptr);
    pty.CloseMaster();
    std::uint8_t byte = 0x01;
    EXPECT_EQ(WriteBaseStationPort(handle, &byte, 1), -1);
    auto start = Clock::now();
    EXPECT_EQ(ReadBaseStationPort(handle, &byte, 1), -1);
    EXPECT_LT(MsSince(start), 300);
    EXPECT_EQ(PurgeBaseStationPort(handle), -1);
    EXPECT_EQ(CloseBaseStationPort(handle), 0);
    handle = nullptr;
}

} // namespace
} // namespace ostrim

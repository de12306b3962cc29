// The Win32 serial layer under Wine, against pseudo-terminals mapped as COM ports
// (tests/win32/serial.wine.sh). OSTRIM_TEST_COM_PORTS names five ports: the first two joined
// like a null-modem cable; the third, whose far side closes when a byte reaches the fourth; the
// fifth, whose far side reads nothing.

#include "basestation/BaseStationCommands.h"
#include "basestation/BaseStationPort.h"
#include "basestation/RadioFrameBuilder.h"
#include "gps/PortMonitor.h"
#include "platform/win32/PortList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<std::string> Ports()
{
    std::vector<std::string> ports;
    const char* text = std::getenv("OSTRIM_TEST_COM_PORTS");
    std::istringstream in(text != nullptr ? text : "");
    for (std::string port; in >> port;)
        ports.push_back(port);
    return ports;
}

// What a monitor delivered, asking for the next character after each.
struct Delivery {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint8_t> bytes;
    bool ended = false;

    static void Callback(PortMonitor* monitor, std::int32_t code, void* context)
    {
        auto* self = static_cast<Delivery*>(context);
        {
            std::lock_guard lock(self->mutex);
            if (code == 3)
                self->bytes.push_back(static_cast<std::uint8_t>(monitor->GetReadBuffer()[0]));
            if (code == 1)
                self->ended = true;
        }
        self->changed.notify_all();
        if (code == 3)
            monitor->RequestNextRead();
    }
    template <typename Done>
    bool WaitFor(Done done, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, done);
    }
};

class Win32Serial : public ::testing::Test {
protected:
    void SetUp() override
    {
        ports = Ports();
        ASSERT_EQ(ports.size(), 5u) << "OSTRIM_TEST_COM_PORTS must name five COM ports";
        monitor.SetCallback(&Delivery::Callback, &delivery);
    }
    int OpenMonitor(const std::string& port)
    {
        return monitor.Open(port.c_str(), 38400, 0, 8, 1);
    }

    std::vector<std::string> ports;
    Delivery delivery;
    PortMonitor monitor;
};

TEST_F(Win32Serial, GpsPort_EveryByteValueArrivesInOrder)
{
    ASSERT_EQ(OpenMonitor(ports[0]), PortMonitor::kOk) << monitor.LastError();
    BaseStationPortHandle far = OpenBaseStationPort(ports[1].c_str());
    ASSERT_NE(far, nullptr) << LastBaseStationOpenError();
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(WriteBaseStationPort(far, all.data(), all.size()), 0);

    delivery.WaitFor([&] { return delivery.bytes.size() >= all.size(); }, 5s);
    monitor.Stop();
    CloseBaseStationPort(far);
    EXPECT_EQ(delivery.bytes, all);
}

TEST_F(Win32Serial, GpsPort_FarSideClosing_EndsTheMonitorAndClosesThePort)
{
    ASSERT_EQ(OpenMonitor(ports[2]), PortMonitor::kOk) << monitor.LastError();
    BaseStationPortHandle hangUp = OpenBaseStationPort(ports[3].c_str());
    ASSERT_NE(hangUp, nullptr) << LastBaseStationOpenError();
    const std::uint8_t any = 'x';
    EXPECT_EQ(WriteBaseStationPort(hangUp, &any, 1), 0);
    CloseBaseStationPort(hangUp);

    EXPECT_TRUE(delivery.WaitFor([&] { return delivery.ended; }, 3s));
    EXPECT_FALSE(monitor.Running());
}

TEST_F(Win32Serial, GpsPort_StopDuringABlockedRead_EndsPromptly)
{
    ASSERT_EQ(OpenMonitor(ports[0]), PortMonitor::kOk) << monitor.LastError();
    std::this_thread::sleep_for(200ms); // the read is out and nothing comes
    const auto before = Clock::now();
    monitor.Stop();
    const auto took = Clock::now() - before;
    EXPECT_LT(took, 500ms);
    EXPECT_TRUE(delivery.ended);
    // The port is free again at once.
    BaseStationPortHandle again = OpenBaseStationPort(ports[0].c_str());
    EXPECT_NE(again, nullptr) << LastBaseStationOpenError();
    CloseBaseStationPort(again);
}

// The base station on the first port, played by this test on the second.
class Win32BaseStation : public Win32Serial {
protected:
    void SetUp() override
    {
        Win32Serial::SetUp();
        far = OpenBaseStationPort(ports[1].c_str());
        ASSERT_NE(far, nullptr) << LastBaseStationOpenError();
    }
    void TearDown() override
    {
        if (far != nullptr)
            CloseBaseStationPort(far);
    }
    // Reads up to `count` bytes from the program within the read time-outs.
    std::vector<std::uint8_t> Receive(std::size_t count)
    {
        std::vector<std::uint8_t> bytes(count);
        std::size_t got = 0;
        while (got < count) {
            std::uint8_t byte = 0;
            if (ReadBaseStationPort(far, &byte, 1) != 0)
                break;
            bytes[got++] = byte;
        }
        bytes.resize(got);
        return bytes;
    }

    BaseStationPortHandle far = nullptr;
};

TEST_F(Win32BaseStation, Ping_AnswersAndTimeOuts)
{
    struct Case {
        const char* name;
        bool answer;
        std::uint8_t answerByte;
        int expected;
    };
    const Case cases[] = {
        {"answered 0x01", true, 0x01, 0},
        {"another byte", true, 0x02, 2},
        {"no answer", false, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::thread device([&] {
            std::vector<std::uint8_t> ping = Receive(1);
            EXPECT_EQ(ping, std::vector<std::uint8_t>{0x01});
            if (c.answer)
                WriteBaseStationPort(far, &c.answerByte, 1);
        });
        BaseStationPortHandle port = OpenBaseStationPort(ports[0].c_str());
        ASSERT_NE(port, nullptr) << LastBaseStationOpenError();
        const auto before = Clock::now();
        EXPECT_EQ(PingBaseStation(port), c.expected);
        const auto took = Clock::now() - before;
        CloseBaseStationPort(port);
        device.join();
        if (!c.answer) {
            std::printf("ping without an answer: %.1f ms\n",
                        std::chrono::duration<double, std::milli>(took).count());
            // 100 ms a byte plus 500 ms, as the driver's time-outs have it.
            EXPECT_GE(took, 580ms);
            EXPECT_LT(took, 1500ms);
        }
    }
}

TEST_F(Win32BaseStation, NodeFrames_ReachTheLineByteForByte)
{
    for (int on : {1, 0}) {
        SCOPED_TRACE(on);
        const std::vector<std::uint8_t> frame =
            RadioFrameBuilder().MakeTxRequest({0xFE, static_cast<std::uint8_t>(on)}, 0x4070BF7B);
        std::vector<std::uint8_t> seen;
        std::thread device([&] { seen = Receive(frame.size()); });
        BaseStationPortHandle port = OpenBaseStationPort(ports[0].c_str());
        ASSERT_NE(port, nullptr) << LastBaseStationOpenError();
        EXPECT_EQ(SendNodeCommand(port, 0x4070BF7B, on), 0);
        EXPECT_EQ(CloseBaseStationPort(port), 0);
        device.join();
        EXPECT_EQ(seen, frame);
    }
}

TEST_F(Win32Serial, PortList_ShowsTheMappedPortsInNumberOrder)
{
    std::vector<std::string> listed;
    for (const SerialPortEntry& entry : ListSerialPorts())
        listed.push_back(entry.device);
    std::vector<std::string> mapped;
    for (const std::string& name : listed) {
        for (const std::string& port : ports) {
            if (name == port)
                mapped.push_back(name);
        }
    }
    EXPECT_EQ(mapped, ports) << ::testing::PrintToString(listed);
    EXPECT_TRUE(SerialPortPresent(ports[0]));
    EXPECT_FALSE(SerialPortPresent("COM250"));
}

TEST_F(Win32Serial, BaseStation_ADeviceThatTakesNoBytes_CannotHoldTheWrite)
{
    BaseStationPortHandle stuck = OpenBaseStationPort(ports[4].c_str());
    ASSERT_NE(stuck, nullptr) << LastBaseStationOpenError();
    // More than the pseudo-terminal holds, so the writes stall.
    const std::vector<std::uint8_t> bytes(256 * 1024, 0x55);
    std::atomic<int> result{-2};
    std::thread writer([&] { result = WriteBaseStationPort(stuck, bytes.data(), bytes.size()); });
    const auto before = Clock::now();
    while (result == -2 && Clock::now() - before < 5s)
        std::this_thread::sleep_for(5ms);
    const auto took = Clock::now() - before;
    if (result == -2) {
        ADD_FAILURE() << "the write still waits after 5 s";
        writer.detach();
        return;
    }
    writer.join();
    std::printf("write to a device that takes nothing: %.1f ms\n",
                std::chrono::duration<double, std::milli>(took).count());
    EXPECT_EQ(result, 1);
    EXPECT_LT(took, 1500ms);
    const auto closing = Clock::now();
    EXPECT_EQ(CloseBaseStationPort(stuck), 0);
    EXPECT_LT(Clock::now() - closing, 1500ms);
}

TEST(Win32PortNames, ComNamesOpenAsDevicePaths)
{
    struct Case {
        const char* text;
        const char* device;
    };
    const Case cases[] = {
        {"3", "\\\\.\\COM3"},      {"12", "\\\\.\\COM12"}, {"COM12", "\\\\.\\COM12"},
        {"com3", "\\\\.\\COM3"},   {"\\\\.\\COM7", "\\\\.\\COM7"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortNameFromListText(c.text), c.device) << c.text;
}

} // namespace
} // namespace ostrim

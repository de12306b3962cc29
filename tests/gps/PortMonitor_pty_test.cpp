#include "gps/PortMonitor.h"

#include "gps/LineWatch.h"
#include "platform/posix/PseudoTerminal.h"
#include "platform/posix/SerialDevice.h"
#include "tests/support/PtyTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::WriteToMaster;

std::vector<std::uint8_t> Text(const std::string& text)
{
    return {text.begin(), text.end()};
}

// Records what the monitor tells it. Like the program's consumer it asks for the next
// character at the end of the callback, unless told not to.
struct Consumer {
    static void Callback(PortMonitor* monitor, std::int32_t code, void* context)
    {
        auto* self = static_cast<Consumer*>(context);
        if (code == 3) {
            std::int32_t count = monitor->GetReadCount();
            char c = monitor->GetReadBuffer()[0];
            bool request = self->requestInCallback; // the test may end once `chars` is full
            if (self->onChar)
                self->onChar(monitor, c);
            {
                std::lock_guard lock(self->mutex);
                if (count != 1)
                    ++self->wrongCounts;
                self->chars += c;
                self->changed.notify_all();
            }
            if (request)
                monitor->RequestNextRead();
        } else {
            if (self->onCode)
                self->onCode(monitor, code);
            std::lock_guard lock(self->mutex);
            self->codes.push_back(code);
            self->changed.notify_all();
        }
    }

    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, done);
    }
    bool WaitForChars(std::size_t n, std::chrono::milliseconds timeout = 2000ms)
    {
        return WaitFor([&] { return chars.size() >= n; }, timeout);
    }
    bool WaitForCode(int code, std::chrono::milliseconds timeout = 2000ms)
    {
        return WaitFor([&] { return std::find(codes.begin(), codes.end(), code) != codes.end(); },
                       timeout);
    }
    std::string Chars()
    {
        std::lock_guard lock(mutex);
        return chars;
    }
    std::vector<int> Codes()
    {
        std::lock_guard lock(mutex);
        return codes;
    }

    bool requestInCallback = true;
    std::function<void(PortMonitor*, char)> onChar;
    std::function<void(PortMonitor*, int)> onCode;

    std::mutex mutex;
    std::condition_variable changed;
    std::string chars;
    std::vector<int> codes;
    int wrongCounts = 0;
};

class PortMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pty.Open(), 0); }

    int OpenMonitor(PortMonitor& monitor, int parity = 0, int lineWatch = 1)
    {
        monitor.SetCallback(&Consumer::Callback, &consumer);
        return monitor.Open(pty.SlavePath().c_str(), 38400, parity, 8, lineWatch);
    }

    PseudoTerminal pty;
    Consumer consumer;
};

TEST_F(PortMonitorTest, OpenFailures_ResultCodesAndNoThread)
{
    PortMonitor monitor;
    monitor.SetCallback(&Consumer::Callback, &consumer);
    EXPECT_EQ(monitor.Open(nullptr, 38400, 0, 8, 1), PortMonitor::kNoPath);
    EXPECT_EQ(monitor.Open("/dev/ostrim-no-such-port", 38400, 0, 8, 1), PortMonitor::kOpenFailed);
    EXPECT_EQ(monitor.LastError(), ENOENT);
    EXPECT_EQ(monitor.Open(pty.SlavePath().c_str(), 31250, 0, 8, 1), PortMonitor::kSettingsFailed);
    // A pseudo-terminal cannot do parity: asking for it must fail, not pass silently.
    EXPECT_EQ(monitor.Open(pty.SlavePath().c_str(), 38400, 1, 8, 1), PortMonitor::kSettingsFailed);
    EXPECT_EQ(monitor.Open("/dev/null", 38400, 0, 8, 0), PortMonitor::kSettingsFailed);
    EXPECT_EQ(monitor.LastError(), ENOTTY);
    EXPECT_FALSE(monitor.Running());
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(consumer.Codes().empty());
    // Nothing stayed held.
    SerialDevice device;
    EXPECT_EQ(device.Open(pty.SlavePath()), 0);
}

TEST_F(PortMonitorTest, UnknownParitySelector_MeansNone)
{
    PortMonitor monitor;
    EXPECT_EQ(OpenMonitor(monitor, 7), PortMonitor::kOk);
}

TEST_F(PortMonitorTest, HeldPort_SecondMonitorGets8UntilTheFirstStops)
{
    PortMonitor first;
    PortMonitor second;
    ASSERT_EQ(OpenMonitor(first), PortMonitor::kOk);
    EXPECT_EQ(second.Open(pty.SlavePath().c_str(), 38400, 0, 8, 1), PortMonitor::kOpenFailed);
    EXPECT_EQ(second.LastError(), EBUSY);
    first.Stop();
    EXPECT_EQ(second.Open(pty.SlavePath().c_str(), 38400, 0, 8, 1), PortMonitor::kOk);
}

TEST_F(PortMonitorTest, HeldPort_OrdinaryUserIsRefusedAndReopensAfterStop)
{
    ASSERT_EQ(pty.GiveSlaveTo(test::kNobody, test::kNobody), 0);
    const std::string path = pty.SlavePath();
    int result = test::RunAsNobody([&path] {
        for (int round = 0; round < 3; ++round) {
            PortMonitor first;
            PortMonitor second;
            if (first.Open(path.c_str(), 38400, 0, 8, 1) != PortMonitor::kOk)
                return 10 + round;
            if (second.Open(path.c_str(), 38400, 0, 8, 1) != PortMonitor::kOpenFailed)
                return 20;
        }
        return 0;
    });
    if (result == test::kCannotChangeUser)
        GTEST_SKIP() << "this process cannot change user";
    EXPECT_EQ(result, 0);
}

TEST_F(PortMonitorTest, Characters_OnePerDeliveryInOrderPacedByTheConsumer)
{
    consumer.requestInCallback = false;
    std::atomic<bool> inCallback{false};
    std::atomic<bool> release{false};
    consumer.onChar = [&](PortMonitor*, char c) {
        if (c != '$')
            return;
        inCallback.store(true);
        while (!release.load())
            std::this_thread::sleep_for(1ms);
    };
    PortMonitor monitor;
    ASSERT_EQ(OpenMonitor(monitor), PortMonitor::kOk);
    ASSERT_TRUE(consumer.WaitForCode(0));
    ASSERT_TRUE(WriteToMaster(pty, Text("$GP\r\n")));

    // Requests made while the thread is busy with a character count as one.
    auto until = Clock::now() + 2s;
    while (!inCallback.load() && Clock::now() < until)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(inCallback.load());
    monitor.RequestNextRead();
    monitor.RequestNextRead();
    monitor.RequestNextRead();
    release.store(true);
    ASSERT_TRUE(consumer.WaitForChars(2));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(consumer.Chars(), "$G") << "delivered without a request";

    for (int i = 0; i < 3; ++i) {
        monitor.RequestNextRead();
        ASSERT_TRUE(consumer.WaitForChars(3 + i));
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(consumer.Chars(), "$GP\r\n");
    EXPECT_EQ(consumer.wrongCounts, 0);
    EXPECT_EQ(consumer.Codes(), std::vector<int>{0}) << "no line codes from a pseudo-terminal";
}

TEST_F(PortMonitorTest, CharactersSentWhileTheConsumerIsBusy_ArriveAfterwardsInOrder)
{
    std::atomic<bool> busy{true};
    consumer.onChar = [&busy](PortMonitor*, char c) {
        if (c == 'A') {
            while (busy.load())
                std::this_thread::sleep_for(1ms);
        }
    };
    PortMonitor monitor;
    ASSERT_EQ(OpenMonitor(monitor), PortMonitor::kOk);
    ASSERT_TRUE(WriteToMaster(pty, Text("A")));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(WriteToMaster(pty, Text("B")));
    ASSERT_TRUE(WriteToMaster(pty, Text("C")));
    ASSERT_TRUE(WriteToMaster(pty, Text("D")));
    std::this_thread::sleep_for(50ms);
    busy.store(false);
    ASSERT_TRUE(consumer.WaitForChars(4));
    EXPECT_EQ(consumer.Chars(), "ABCD");
    EXPECT_EQ(consumer.wrongCounts, 0);
}

TEST_F(PortMonitorTest, FullLineRateWithAStallingConsumer_NothingLostNothingReordered)
{
    // 3,840 characters a second (38400 baud, 10 bits a character) for three seconds, while the
    // consumer now and then blocks for 150 ms, as a node switch does.
    constexpr std::size_t kTotal = 3 * 3840;
    std::vector<std::uint8_t> sent(kTotal);
    for (std::size_t i = 0; i < kTotal; ++i)
        sent[i] = static_cast<std::uint8_t>((i * 31 + i / 256) & 0xFF);
    std::size_t delivered = 0;
    consumer.onChar = [&delivered](PortMonitor*, char) {
        if (++delivered % 1500 == 0)
            std::this_thread::sleep_for(150ms);
    };
    PortMonitor monitor;
    ASSERT_EQ(OpenMonitor(monitor), PortMonitor::kOk);

    std::thread line([&] {
        constexpr std::size_t kChunk = 96; // 25 ms of line time
        auto next = Clock::now();
        for (std::size_t at = 0; at < kTotal; at += kChunk) {
            std::vector<std::uint8_t> chunk(sent.begin() + at, sent.begin() + at + kChunk);
            WriteToMaster(pty, chunk);
            next += 25ms;
            std::this_thread::sleep_until(next);
        }
    });
    line.join();
    EXPECT_TRUE(consumer.WaitForChars(kTotal, 5000ms));
    std::string got = consumer.Chars();
    ASSERT_EQ(got.size(), kTotal);
    for (std::size_t i = 0; i < kTotal; ++i)
        ASSERT_EQ(static_cast<std::uint8_t>(got[i]), sent[i]) << "at " << i;
    EXPECT_EQ(consumer.wrongCounts, 0);
}

TEST_F(PortMonitorTest, RequestsFromAnotherThread_KeepThePacing)
{
    consumer.requestInCallback = false;
    PortMonitor monitor;
    ASSERT_EQ(OpenMonitor(monitor), PortMonitor::kOk);
    const std::string text = "$GPGGA,1*00\r\n";
    ASSERT_TRUE(WriteToMaster(pty, Text(text)));
    for (std::size_t i = 1; i <= text.size(); ++i) {
        ASSERT_TRUE(consumer.WaitForChars(i));
        EXPECT_EQ(consumer.Chars().size(), i);
        monitor.RequestNextRead();
    }
    EXPECT_EQ(consumer.Chars(), text);
}

TEST_F(PortMonitorTest, Unplugged_EndsWithCodeOne)
{
    PortMonitor monitor;
    ASSERT_EQ(OpenMonitor(monitor), PortMonitor::kOk);
    ASSERT_TRUE(WriteToMaster(pty, Text("xy")));
    ASSERT_TRUE(consumer.WaitForChars(2));
    pty.CloseMaster();
    ASSERT_TRUE(consumer.WaitForCode(1, 1000ms));
    EXPECT_EQ(consumer.Codes(), (std::vector<int>{0, 1}));
    EXPECT_FALSE(monitor.Running());
    auto start = Clock::now();
    monitor.Stop();
    EXPECT_LT(Clock::now() - start, 100ms);
}

TEST_F(PortMonitorTest, Stop_JoinsWithinAHundredMsAndPortOpensAgain)
{
    for (bool waitingForData : {true, false}) {
        SCOPED_TRACE(waitingForData ? "waiting for data" : "waiting for a request");
        Consumer local;
        local.requestInCallback = waitingForData;
        PortMonitor monitor;
        monitor.SetCallback(&Consumer::Callback, &local);
        ASSERT_EQ(monitor.Open(pty.SlavePath().c_str(), 38400, 0, 8, 1), PortMonitor::kOk);
        ASSERT_TRUE(WriteToMaster(pty, Text("ab")));
        ASSERT_TRUE(local.WaitForChars(1));
        std::this_thread::sleep_for(20ms);
        auto start = Clock::now();
        monitor.Stop();
        EXPECT_LT(Clock::now() - start, 100ms);
        EXPECT_FALSE(monitor.Running());
        EXPECT_EQ(local.Codes(), (std::vector<int>{0, 1}));
        monitor.Stop(); // twice is harmless
        SerialDevice device;
        EXPECT_EQ(device.Open(pty.SlavePath()), 0);
        device.Close();
    }
}

TEST_F(PortMonitorTest, StopFromTheCallback_EndsWithoutDeadlock)
{
    consumer.onChar = [](PortMonitor* monitor, char c) {
        if (c == '!')
            monitor->Stop();
    };
    PortMonitor monitor;
    ASSERT_EQ(OpenMonitor(monitor), PortMonitor::kOk);
    ASSERT_TRUE(WriteToMaster(pty, Text("ab!cd")));
    ASSERT_TRUE(consumer.WaitForCode(1, 1000ms));
    EXPECT_EQ(consumer.Chars(), "ab!");
    monitor.Stop();
}

TEST_F(PortMonitorTest, DestroyedFromTheCallback_ThreadEndsAndReleasesThePort)
{
    auto* monitor = new PortMonitor;
    std::atomic<int> after{0};
    consumer.requestInCallback = false; // the monitor is gone after '!'
    consumer.onChar = [&after](PortMonitor* m, char c) {
        if (c == '!') {
            delete m;
            return;
        }
        if (c != 'a')
            ++after;
        m->RequestNextRead();
    };
    ASSERT_EQ(OpenMonitor(*monitor), PortMonitor::kOk);
    ASSERT_TRUE(WriteToMaster(pty, Text("a!bc")));
    SerialDevice device;
    auto until = Clock::now() + 2s;
    while (device.Open(pty.SlavePath()) != 0 && Clock::now() < until)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(after.load(), 0) << "delivered after its monitor was destroyed";
    EXPECT_EQ(consumer.Chars(), "a!");
    EXPECT_EQ(consumer.Codes(), std::vector<int>{0}) << "no code 1 to a destroyed monitor's owner";
}

TEST_F(PortMonitorTest, OpenWhileRunning_EndsTheFirstThreadThenStartsAgain)
{
    PortMonitor monitor;
    ASSERT_EQ(OpenMonitor(monitor), PortMonitor::kOk);
    ASSERT_TRUE(consumer.WaitForCode(0));
    ASSERT_EQ(monitor.Open(pty.SlavePath().c_str(), 38400, 0, 8, 1), PortMonitor::kOk);
    ASSERT_TRUE(WriteToMaster(pty, Text("z")));
    ASSERT_TRUE(consumer.WaitForChars(1));
    EXPECT_EQ(consumer.Codes(), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(consumer.Chars(), "z");
}

TEST(LineWatchCodes, ChangesGiveTheirCodes)
{
    struct Case {
        const char* name;
        ModemLines before;
        ModemLines now;
        std::vector<int> codes;
    };
    auto lines = [](bool ring, bool cd, bool counts = false, std::uint32_t rings = 0,
                    std::uint32_t cds = 0) {
        return ModemLines{.ring = ring, .carrierDetect = cd, .haveCounts = counts,
                          .ringCount = rings, .carrierDetectCount = cds};
    };
    const Case cases[] = {
        {"nothing changed", lines(false, true), lines(false, true), {}},
        {"carrier on", lines(false, false), lines(false, true), {5}},
        {"carrier off", lines(false, true), lines(false, false), {6}},
        {"ring starts", lines(false, false), lines(true, false), {4}},
        {"ring held", lines(true, false), lines(true, false), {}},
        {"ring ends", lines(true, false), lines(false, false), {}},
        {"ring and carrier", lines(false, false), lines(true, true), {4, 5}},
        {"second ring seen by count", lines(true, false, true, 1), lines(true, false, true, 2),
         {4}},
        {"ring over before the look", lines(false, false, true, 1),
         lines(false, false, true, 2), {}},
        {"carrier blinked off and on", lines(false, true, true, 0, 4),
         lines(false, true, true, 0, 6), {5}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LineWatchCodes(c.before, c.now), c.codes) << c.name;
}

} // namespace
} // namespace ostrim

// The probe for the receiver's port over real pseudo-terminals: the receiver, a device that
// talks other NMEA, a quiet one, and one another program holds.

#include "platform/PortListen.h"
#include "platform/posix/SerialDevice.h"
#include "run/PortProbe.h"
#include "tests/support/PtyTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

TEST(PortListen, FourPseudoTerminals_ReceiverFoundHeldPortSkipped)
{
    PseudoTerminal quiet, chatter, receiver, held;
    for (PseudoTerminal* pty : {&quiet, &chatter, &receiver, &held})
        ASSERT_EQ(pty->Open(), 0);
    SerialDevice holder;
    ASSERT_EQ(holder.Open(held.SlavePath()), 0);

    std::atomic<bool> talking{true};
    std::thread devices([&] {
        while (talking.load()) {
            test::WriteToMaster(chatter, test::Sentence("GPGSV,3,1,11,03,03,111,00"));
            test::WriteToMaster(receiver, test::Sentence(
                "GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
            std::this_thread::sleep_for(100ms);
        }
    });

    PortProbe probe(ListenOnSerialPort);
    std::promise<std::vector<PortFinding>> answer;
    const auto start = test::Clock::now();
    probe.Start({quiet.SlavePath(), chatter.SlavePath(), receiver.SlavePath(), held.SlavePath()},
                [&answer](std::vector<PortFinding> findings) { answer.set_value(std::move(findings)); });
    std::future<std::vector<PortFinding>> future = answer.get_future();
    const bool ready = future.wait_for(10s) == std::future_status::ready;
    const long took = test::MsSince(start);
    talking = false;
    devices.join();
    ASSERT_TRUE(ready);

    const std::vector<PortFinding> findings = future.get();
    ASSERT_EQ(findings.size(), 4u);
    EXPECT_EQ(findings[0].heard, PortHeard::Quiet);
    EXPECT_EQ(findings[1].heard, PortHeard::Nmea);
    EXPECT_EQ(findings[2].heard, PortHeard::Gga);
    EXPECT_EQ(findings[3].heard, PortHeard::InUse);
    // One listening time for all four, not one each.
    EXPECT_LT(took, 4 * PortProbe::kListenFor.count() - 1000) << "ms";
    EXPECT_TRUE(holder.IsOpen()) << "the holder keeps its port";
}

} // namespace
} // namespace ostrim

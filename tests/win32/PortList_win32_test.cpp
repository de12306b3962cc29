// The COM port scan over a stand-in for QueryDosDeviceA: a device list longer than any first
// guess of a buffer, a scan that fails, and which names open the same port.

#include "platform/win32/PortList.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace ostrim {
namespace {

TEST(ComPortScan, DeviceListLongerThan64KiB_EveryPortFound)
{
    // A machine with many volumes and shadow copies: some 150 KiB of names.
    std::string names;
    for (int i = 0; i < 5000; ++i)
        names += "HarddiskVolumeShadowCopy" + std::to_string(i) + '\0';
    names += std::string("COM3") + '\0' + "LPT1" + '\0' + "com12" + '\0' + "COM1" + '\0' + "COM3" + '\0';
    names += '\0';
    std::vector<std::size_t> sizes;
    const ComPortScan scan = ScanComPorts([&](char* buffer, std::size_t size, unsigned long& error) {
        sizes.push_back(size);
        if (size < names.size()) {
            error = ERROR_INSUFFICIENT_BUFFER;
            return std::size_t{0};
        }
        std::memcpy(buffer, names.data(), names.size());
        return names.size();
    });
    EXPECT_EQ(scan.error, 0);
    EXPECT_EQ(scan.systemOrder, (std::vector<std::string>{"COM3", "COM12", "COM1"}));
    EXPECT_EQ(scan.Ports(), (std::vector<std::string>{"COM1", "COM3", "COM12"}));
    EXPECT_GT(sizes.size(), 1u) << "the buffer grew";
}

TEST(ComPortScan, QueryFails_TheScanSaysWhy)
{
    struct Case {
        unsigned long error;
        int expected;
    };
    const Case cases[] = {
        {ERROR_ACCESS_DENIED, EACCES},
        {ERROR_INSUFFICIENT_BUFFER, ENOBUFS}, // past the largest buffer tried
        {0, EIO},                             // a failure without a reason is one all the same
    };
    for (const Case& c : cases) {
        const ComPortScan scan = ScanComPorts([&](char*, std::size_t, unsigned long& error) {
            error = c.error;
            return std::size_t{0};
        });
        EXPECT_EQ(scan.error, c.expected) << c.error;
        EXPECT_TRUE(scan.systemOrder.empty());
    }
}

TEST(SameSerialPort, NamesOfOnePort_AreTheSame)
{
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"COM5", "COM5", true},  {"COM5", "com5", true},   {"\\\\.\\COM5", "COM5", true},
        {"5", "COM5", true},     {"COM05", "COM5", true},  {"COM5", "COM15", false},
        {"COM5", "6", false},    {"", "", false},          {"COM5", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SameSerialPort(c.a, c.b), c.same) << c.a << " " << c.b;
}

} // namespace
} // namespace ostrim

// Finding the GPS receiver's port by listening: what counts as heard, a probe cut short by
// Start, and the lists' selections that follow. The listening itself: PortListen_pty_test.

#include "run/PortProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

TEST(NmeaSniffer, Streams_HeardAsGgaNmeaOrNothing)
{
    struct Case {
        const char* what;
        std::vector<std::string> chunks;
        bool gga;
        bool nmea;
    };
    const std::string gga = "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69\r\n";
    const Case cases[] = {
        {"a GGA with its checksum", {gga}, true, true},
        {"a GGA split over reads", {gga.substr(0, 9), gga.substr(9, 30), gga.substr(39)}, true, true},
        {"after noise on the same line", {"\x7f\x13\xfe" + gga}, true, true},
        {"GNGGA of a multi-system receiver",
         {"$GNGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*77\r\n"}, true, true},
        {"no checksum: the run takes it", {"$GPGGA,123519,4807.038,N,01131.000,E,1,08\r\n"}, true, true},
        {"a wrong checksum", {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*68\r\n"},
         false, false},
        {"other sentences only", {"$GPGSV,3,1,11,03,03,111,00*4A\r\n"}, false, true},
        {"a GGA not yet ended", {gga.substr(0, gga.size() - 2)}, false, false},
        {"a line longer than any sentence", {"$GPGGA," + std::string(300, '1') + "\r\n"}, false, false},
        {"text that is no NMEA", {"AT+CGMI\r\nOK\r\n$GP\r\n"}, false, false},
    };
    for (const Case& c : cases) {
        NmeaSniffer sniffer;
        for (const std::string& chunk : c.chunks)
            sniffer.Add(chunk);
        EXPECT_EQ(sniffer.HeardGga(), c.gga) << c.what;
        EXPECT_EQ(sniffer.HeardNmea(), c.nmea) << c.what;
    }
}

TEST(PortProbe, CancelledWhileListening_ReturnsAtOnceWithoutAnswer)
{
    std::atomic<int> listening{0};
    PortListen hang = [&listening](const std::string&, std::chrono::milliseconds,
                                   const std::atomic<bool>& stop,
                                   const std::function<bool(std::string_view)>&) {
        ++listening;
        while (!stop.load())
            std::this_thread::sleep_for(1ms);
        return ListenResult{};
    };
    bool answered = false;
    {
        PortProbe probe(hang, 1h);
        probe.Start({"COM1", "COM2"}, [&answered](std::vector<PortFinding>) { answered = true; });
        while (listening.load() < 2)
            std::this_thread::sleep_for(1ms);
        probe.Cancel();
    }
    EXPECT_FALSE(answered);
}

PortFinding Heard(const char* device, PortHeard heard)
{
    return {device, heard, 0};
}

TEST(ChoosePorts, Findings_SelectReceiverAndAnotherPortForTheBaseStation)
{
    const std::vector<std::string> entries{"COM1", "COM3", "COM5", "COM7"};
    using O = std::optional<std::size_t>;
    struct Case {
        const char* what;
        std::vector<PortFinding> findings;
        O gpsNow, baseNow;
        bool gpsHeld, baseHeld;
        O gps, base;
        std::string status;
    };
    const PortFinding quiet1 = Heard("COM1", PortHeard::Quiet);
    const PortFinding quiet3 = Heard("COM3", PortHeard::Quiet);
    const PortFinding nmea3 = Heard("COM3", PortHeard::Nmea);
    const PortFinding gga5 = Heard("COM5", PortHeard::Gga);
    const PortFinding gga7 = Heard("COM7", PortHeard::Gga);
    const PortFinding busy7 = Heard("COM7", PortHeard::InUse);
    const Case cases[] = {
        {"the receiver among three; the rule's base port is quiet and stays",
         {quiet1, quiet3, gga5}, 0, 0, false, false, 2, 0, "GPS receiver heard on COM5"},
        {"the rule put the base station on the receiver's port: the first quiet one",
         {quiet1, quiet3, gga5}, 0, 2, false, false, 2, 0, "GPS receiver heard on COM5"},
        {"the rule's base port talks NMEA: a quiet one instead",
         {nmea3, Heard("COM1", PortHeard::Nmea), gga5, Heard("COM7", PortHeard::Quiet)}, 0, 1,
         false, false, 2, 3, "GPS receiver heard on COM5"},
        {"nothing heard: the rule stands", {quiet1, nmea3, busy7}, 0, 0, false, false, 0, 0,
         "No GPS receiver heard on COM1, COM3; in use by another program: COM7"},
        {"two receivers: the first, and the other named", {quiet1, gga5, gga7}, 0, 0, false, false,
         2, 0, "GPS receiver heard on COM5 (GGA also on COM7)"},
        {"GPS port named: it stays, the base station leaves it", {quiet1, quiet3, gga5}, 1, 1,
         true, false, 1, 0, "GPS receiver heard on COM5"},
        {"base port chosen by the operator: it stays", {quiet1, gga5}, 0, 2, false, true, 2, 2,
         "GPS receiver heard on COM5"},
        {"nothing probed: nothing said", {}, 0, 0, false, false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const PortChoice choice =
            ChoosePorts(entries, entries, c.findings, {c.gpsNow, c.baseNow, {}}, c.gpsHeld, c.baseHeld);
        EXPECT_EQ(choice.gps, c.gps) << c.what;
        EXPECT_EQ(choice.base, c.base) << c.what;
        EXPECT_EQ(choice.status, c.status) << c.what;
    }
}

} // namespace
} // namespace ostrim

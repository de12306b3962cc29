// The simulator's pieces without a device: frame decoding, sentences, tracks.

#include "tools/sim/FrameDecoder.h"
#include "tools/sim/Nmea.h"
#include "tools/sim/Track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ostrim::sim {
namespace {

using namespace std::chrono_literals;
using Kind = Decoded::Kind;

std::vector<std::uint8_t> Hex(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    std::istringstream in(text);
    unsigned value;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

const std::string kOn = "7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 01 60";
const std::string kOff = "7E 00 0D 00 01 00 13 A2 00 40 3B A3 8B 00 FE 00 A2";

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::vector<Kind> kinds;
    std::string lineHas; // in the last line
};

TEST(FrameDecoder, BytesBecomeEvents)
{
    const DecodeCase cases[] = {
        {"ping", "01", {Kind::Ping}, "ping"},
        {"on", kOn, {Kind::Command}, "node 0x4070BF7B on"},
        {"off", kOff, {Kind::Command}, "node 0x403BA38B off"},
        {"two frames back to back", kOn + " " + kOff, {Kind::Command, Kind::Command}, "off"},
        {"bad checksum", "7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 01 61",
         {Kind::Command}, "BAD CHECKSUM 0x61, expected 0x60"},
        {"other frame type", "7E 00 04 08 01 41 50 65", {Kind::BadFrame}, "not a node command"},
        {"payload not a command", "7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 02 5F",
         {Kind::BadFrame}, "not a node command"},
        {"impossible length", "7E 01 2C", {Kind::BadFrame}, "length 300"},
        {"zero length", "7E 00 00", {Kind::BadFrame}, "length 0"},
        {"stray before a ping", "41 42 01", {Kind::StrayBytes, Kind::Ping}, "ping"},
        {"stray before a frame", "0D 0A " + kOn, {Kind::StrayBytes, Kind::Command}, "on"},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FrameDecoder decoder;
        std::vector<Decoded> out;
        std::vector<std::uint8_t> bytes = Hex(c.bytes);
        decoder.Feed(bytes.data(), bytes.size(), std::chrono::system_clock::now(), &out);
        std::vector<Kind> kinds;
        for (const Decoded& d : out)
            kinds.push_back(d.kind);
        EXPECT_EQ(kinds, c.kinds);
        ASSERT_FALSE(out.empty());
        EXPECT_NE(out.back().line.find(c.lineHas), std::string::npos) << out.back().line;
    }
}

TEST(FrameDecoder, CommandFields)
{
    FrameDecoder decoder;
    std::vector<Decoded> out;
    std::vector<std::uint8_t> bad = Hex("7E 00 0D 00 01 00 13 A2 00 7E 7D 11 13 00 FE 01 00");
    decoder.Feed(bad.data(), bad.size(), std::chrono::system_clock::now(), &out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].command.nodeId, 0x7E7D1113u);
    EXPECT_TRUE(out[0].command.on);
    EXPECT_FALSE(out[0].command.checksumOk);
    EXPECT_EQ(out[0].command.line, out[0].line);
}

TEST(FrameDecoder, FrameSplitAcrossReads_PingByteInsideIsData)
{
    FrameDecoder decoder;
    std::vector<Decoded> out;
    std::vector<std::uint8_t> bytes = Hex(kOn);
    auto now = std::chrono::system_clock::now();
    for (std::uint8_t b : bytes)
        decoder.Feed(&b, 1, now, &out); // the frame id byte is 0x01
    decoder.Idle(now + 100ms, &out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, Kind::Command);
}

TEST(FrameDecoder, QuietLine_ReportsStrayBytesAndFramesCutOff)
{
    FrameDecoder decoder;
    std::vector<Decoded> out;
    auto now = std::chrono::system_clock::now();
    std::vector<std::uint8_t> stray = Hex("55 AA");
    decoder.Feed(stray.data(), stray.size(), now, &out);
    EXPECT_TRUE(out.empty()) << "stray bytes are gathered while they come";
    decoder.Idle(now + 100ms, &out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, Kind::StrayBytes);
    EXPECT_EQ(out[0].strayCount, 2u);

    out.clear();
    std::vector<std::uint8_t> half = Hex("7E 00 0D 00 01 00 13");
    decoder.Feed(half.data(), half.size(), now, &out);
    decoder.Idle(now + 100ms, &out);
    EXPECT_TRUE(out.empty()) << "a short pause inside a frame is not a fault";
    decoder.Idle(now + FrameDecoder::kFrameGap, &out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, Kind::BadFrame);
    EXPECT_NE(out[0].line.find("cut off after 7 of 17 bytes"), std::string::npos) << out[0].line;

    // A frame cut off and never idled over does not swallow the next one.
    out.clear();
    decoder.Feed(half.data(), half.size(), now, &out);
    std::vector<std::uint8_t> on = Hex(kOn);
    decoder.Feed(on.data(), on.size(), now + 2s, &out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, Kind::BadFrame);
    EXPECT_EQ(out[1].kind, Kind::Command);
}

TEST(Nmea, ChecksumOfAKnownSentence)
{
    EXPECT_EQ(NmeaChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), "47");
}

std::chrono::system_clock::time_point Utc(int h, int m, int s, int ms)
{
    // 2024-03-01 00:00:00 UTC
    return std::chrono::system_clock::time_point(std::chrono::seconds(1709251200)) +
           std::chrono::hours(h) + std::chrono::minutes(m) + std::chrono::seconds(s) +
           std::chrono::milliseconds(ms);
}

TEST(Nmea, GgaFields)
{
    struct Case {
        double lat, lon;
        std::chrono::system_clock::time_point time;
        const char* fields; // from the time to the east/west letter
    };
    const Case cases[] = {
        {48.1173, 11.516666666, Utc(12, 35, 19, 0), "123519.00,4807.0380,N,01131.0000,E"},
        {-33.8688, -151.2093, Utc(23, 59, 59, 990), "235959.99,3352.1280,S,15112.5580,W"},
        {0.0, 0.0, Utc(0, 0, 0, 50), "000000.05,0000.0000,N,00000.0000,E"},
        {52.99999999, 6.999999999, Utc(1, 2, 3, 456), "010203.45,5300.0000,N,00700.0000,E"},
    };
    for (const Case& c : cases) {
        std::string gga = FormatGga(c.time, c.lat, c.lon);
        SCOPED_TRACE(gga);
        ASSERT_GT(gga.size(), 10u);
        EXPECT_EQ(gga.substr(0, 7), "$GPGGA,");
        EXPECT_EQ(gga.substr(7, std::string(c.fields).size()), c.fields);
        EXPECT_NE(gga.find(",1,08,"), std::string::npos) << "fix quality 1";
        ASSERT_EQ(gga.substr(gga.size() - 2), "\r\n");
        std::size_t star = gga.rfind('*');
        EXPECT_EQ(gga.substr(star + 1, 2), NmeaChecksum(gga.substr(1, star - 1)));
    }
}

TEST(Track, BuiltinLoop_LengthAndPositions)
{
    Track track = BuiltinTrack();
    ASSERT_TRUE(track.closed);
    EXPECT_NEAR(TrackLength(track), 1100.0, 2.0);
    auto start = PositionAlong(track, 0);
    EXPECT_DOUBLE_EQ(start.first, track.waypoints[0].first);
    auto mid = PositionAlong(track, 200);
    EXPECT_NEAR(mid.second, (track.waypoints[0].second + track.waypoints[1].second) / 2, 1e-5);
    auto again = PositionAlong(track, TrackLength(track) + 200);
    EXPECT_NEAR(again.first, mid.first, 1e-9);
    EXPECT_NEAR(again.second, mid.second, 1e-9);

    Track open = track;
    open.closed = false;
    auto end = PositionAlong(open, 1e6);
    EXPECT_DOUBLE_EQ(end.first, open.waypoints.back().first);
    EXPECT_DOUBLE_EQ(end.second, open.waypoints.back().second);
}

TEST(Track, BuiltinSensors_EachIsPassedWithinRangeFromTheSouthWest)
{
    Track track = BuiltinTrack();
    struct Case {
        std::string text;
        int count;
    };
    const Case cases[] = {{BuiltinSensorFileText(), 4}, {BuiltinSensorFileText(24), 24},
                          {BuiltinSensorFileText(1), 1}};
    for (const Case& c : cases) {
        std::istringstream file(c.text);
        std::string line;
        int sensors = 0;
        std::set<unsigned> ids;
        while (std::getline(file, line)) {
            double lat = 0;
            double lon = 0;
            char name[16];
            unsigned id = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %15s %X", &lat, &lon, name, &id), 4)
                << line;
            ++sensors;
            ids.insert(id);
            bool passed = false;
            for (double along = 0; along < TrackLength(track) && !passed; along += 0.5) {
                auto [vLat, vLon] = PositionAlong(track, along);
                double north = (lat - vLat) * std::numbers::pi / 180 * 6371008.8;
                double east = (lon - vLon) * std::numbers::pi / 180 * 6371008.8 *
                              std::cos(lat * std::numbers::pi / 180);
                passed = vLat < lat && vLon < lon && std::hypot(north, east) < 10.0;
            }
            EXPECT_TRUE(passed) << line;
        }
        EXPECT_EQ(sensors, c.count);
        EXPECT_EQ(ids.size(), static_cast<std::size_t>(c.count)) << "node ids must differ";
    }
}

TEST(Track, LoadTrackFile_GoodAndBadFiles)
{
    const std::string path = ::testing::TempDir() + "ostrim-track.txt";
    struct Case {
        const char* text;
        bool ok;
        std::size_t waypoints;
        const char* errorHas;
    };
    const Case cases[] = {
        {"# test loop\n52.1 6.8\n52.2,6.9\n\n52.3\t7.0  # corner\r\n", true, 3, ""},
        {"52.1 6.8\n", false, 0, "two waypoints"},
        {"52.1 6.8\n52.2 east\n", false, 0, ":2:"},
        {"52.1 6.8\n91 6.8\n", false, 0, ":2:"},
        {"52.1 6.8 7\n52.2 6.9\n", false, 0, ":1:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::ofstream(path) << c.text;
        Track track;
        std::string error;
        EXPECT_EQ(LoadTrackFile(path, &track, &error), c.ok);
        if (c.ok) {
            EXPECT_EQ(track.waypoints.size(), c.waypoints);
            EXPECT_DOUBLE_EQ(track.waypoints.back().second, 7.0);
        } else {
            EXPECT_NE(error.find(c.errorHas), std::string::npos) << error;
        }
    }
    Track track;
    std::string error;
    EXPECT_FALSE(LoadTrackFile(path + ".missing", &track, &error));
    std::remove(path.c_str());
}

} // namespace
} // namespace ostrim::sim

#include "basestation/RadioFrameBuilder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace ostrim {
namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string out;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", b);
        out += buf;
    }
    return out;
}

std::vector<std::uint8_t> NodeCommand(std::uint32_t nodeId, bool on)
{
    return RadioFrameBuilder().MakeTxRequest({0xFE, static_cast<std::uint8_t>(on ? 0x01 : 0x00)},
                                             nodeId);
}

struct FrameCase {
    std::uint32_t nodeId;
    bool on;
    const char* wire;
};

TEST(RadioFrameBuilder, NodeCommands_MatchTheWireBytes)
{
    const FrameCase cases[] = {
        {0x4070BF7B, true, "7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 01 60"},
        {0x4070BF7B, false, "7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 00 61"},
        {0x403BA38B, true, "7E 00 0D 00 01 00 13 A2 00 40 3B A3 8B 00 FE 01 A1"},
        {0x403BA38B, false, "7E 00 0D 00 01 00 13 A2 00 40 3B A3 8B 00 FE 00 A2"},
        // Bytes a framing or flow-control layer would escape or eat are sent as they are.
        {0x7E7D1113, true, "7E 00 0D 00 01 00 13 A2 00 7E 7D 11 13 00 FE 01 2B"},
        {0x00000000, false, "7E 00 0D 00 01 00 13 A2 00 00 00 00 00 00 FE 00 4B"},
        {0xFFFFFFFF, true, "7E 00 0D 00 01 00 13 A2 00 FF FF FF FF 00 FE 01 4E"},
    };
    for (const FrameCase& c : cases)
        EXPECT_EQ(Hex(NodeCommand(c.nodeId, c.on)), c.wire) << std::hex << c.nodeId << " " << c.on;
}

TEST(RadioFrameBuilder, AnyNodeId_SeventeenBytesSummingToFF)
{
    for (std::uint32_t id : {0x0A0D1113u, 0x7E7D0304u, 0x1A7F7E7Du, 0x12345678u, 0x80000000u}) {
        for (bool on : {true, false}) {
            std::vector<std::uint8_t> frame = NodeCommand(id, on);
            ASSERT_EQ(frame.size(), 17u);
            unsigned sum = std::accumulate(frame.begin() + 3, frame.end(), 0u);
            EXPECT_EQ(sum % 256, 0xFFu) << Hex(frame);
        }
    }
}

TEST(RadioFrameBuilder, PayloadLength_SetsTheLengthByte)
{
    RadioFrameBuilder builder;
    EXPECT_EQ(Hex(builder.MakeTxRequest({}, 0x01020304)),
              "7E 00 0B 00 01 00 13 A2 00 01 02 03 04 00 3F");
    std::vector<std::uint8_t> longest(244, 0x00);
    std::vector<std::uint8_t> frame = builder.MakeTxRequest(longest, 0);
    EXPECT_EQ(frame.size(), 3u + 255u + 1u);
    EXPECT_EQ(frame[2], 0xFF);
}

} // namespace
} // namespace ostrim

#pragma once
// Transmit-request frames (XBee API frame, type 0x00: 64-bit destination), unescaped.
//
// Example, node 0x4070BF7B on: 7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 01 60

#include <chrono>
#include <cstdint>
#include <vector>

namespace ostrim {

// A node switch on the line: the on frame, the pulse, the off frame. A node frame is 17 bytes
// (the example above), ten bits a byte at the base station's 38400 baud.
inline constexpr int kNodeFrameBytes = 17;
inline constexpr int kBaseStationBaud = 38400;
inline constexpr std::chrono::microseconds kNodeFrameLineTime{kNodeFrameBytes * 10 * 1000000LL / kBaseStationBaud};
inline constexpr std::chrono::milliseconds kNodePulse{100};

class RadioFrameBuilder {
public:
    // 00 13 A2 00 followed by the node id, most significant byte first.
    std::vector<std::uint8_t> MakeAddress64(std::uint32_t nodeId) const;
    // The whole frame: delimiter, length, API id, frame id 1, address, options 0, payload,
    // checksum. The payload must not exceed 244 bytes (the high length byte is always 0).
    std::vector<std::uint8_t> MakeTxRequest(const std::vector<std::uint8_t>& payload,
                                            std::uint32_t nodeId) const;
};

} // namespace ostrim

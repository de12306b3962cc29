#pragma once
// Transmit-request frames (XBee API frame, type 0x00: 64-bit destination), unescaped.
//
// Example, node 0x4070BF7B on: 7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 01 60

#include <cstdint>
#include <vector>

namespace ostrim {

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

#include "basestation/RadioFrameBuilder.h"

namespace ostrim {
namespace {

constexpr std::uint8_t kStartDelimiter = 0x7E;
constexpr std::uint8_t kTxRequest64 = 0x00;
constexpr std::uint8_t kFrameId = 0x01;
constexpr std::uint8_t kOptions = 0x00;
// API id, frame id, 8 address bytes and the options byte precede the payload in the length.
constexpr std::size_t kHeaderLength = 11;
// Offset of the API id: the checksum covers it and everything after it.
constexpr std::size_t kChecksumStart = 3;

} // namespace

std::vector<std::uint8_t> RadioFrameBuilder::MakeAddress64(std::uint32_t nodeId) const
{
    // The upper half is the radio maker's fixed prefix; the node id is the lower half.
    return {0x00,
            0x13,
            0xA2,
            0x00,
            static_cast<std::uint8_t>(nodeId >> 24),
            static_cast<std::uint8_t>(nodeId >> 16),
            static_cast<std::uint8_t>(nodeId >> 8),
            static_cast<std::uint8_t>(nodeId)};
}

std::vector<std::uint8_t> RadioFrameBuilder::MakeTxRequest(const std::vector<std::uint8_t>& payload,
                                                           std::uint32_t nodeId) const
{
    std::vector<std::uint8_t> frame;
    frame.reserve(kChecksumStart + kHeaderLength + payload.size() + 1);
    frame.push_back(kStartDelimiter);
    frame.push_back(0x00); // length, high byte: frames here never exceed 255 bytes
    frame.push_back(static_cast<std::uint8_t>(payload.size() + kHeaderLength));
    frame.push_back(kTxRequest64);
    frame.push_back(kFrameId);
    for (std::uint8_t b : MakeAddress64(nodeId))
        frame.push_back(b);
    frame.push_back(kOptions);
    frame.insert(frame.end(), payload.begin(), payload.end());

    std::uint8_t sum = 0;
    for (std::size_t i = kChecksumStart; i < frame.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    frame.push_back(static_cast<std::uint8_t>(0xFF - sum));
    return frame;
}

} // namespace ostrim

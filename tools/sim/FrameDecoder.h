#pragma once
// What the simulated base station makes of the bytes it receives: pings, node command frames,
// and everything that is neither, each as one printable line. Nothing is ignored: a frame with
// a bad checksum, a frame that is not a node command, a frame cut off and bytes outside any
// frame are all reported.
//
// A node command frame (transmit request to a 64-bit address, 2-byte payload):
//   7E 00 0D 00 01 00 13 A2 00 40 70 BF 7B 00 FE 01 60   node 0x4070BF7B on

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrim::sim {

struct NodeCommand {
    std::chrono::system_clock::time_point time{};
    std::uint32_t nodeId = 0;
    bool on = false;
    bool checksumOk = false;
    std::string line{}; // the printed line
};

struct Decoded {
    enum class Kind { Ping, Command, BadFrame, StrayBytes };
    Kind kind = Kind::Ping;
    NodeCommand command{}; // Kind::Command, also one with a bad checksum
    std::string line{};
    std::size_t strayCount = 0; // Kind::StrayBytes
};

class FrameDecoder {
public:
    using Clock = std::chrono::system_clock;

    // A frame that stops arriving for this long is reported as cut off.
    static constexpr std::chrono::milliseconds kFrameGap{500};
    // Longest frame taken as one; a longer length field means the frame start was not one.
    static constexpr std::size_t kMaxLength = 255;

    // Appends what the bytes complete to `out`.
    void Feed(const std::uint8_t* bytes, std::size_t count, Clock::time_point now,
              std::vector<Decoded>* out);
    // Call when no byte has come for a while: reports stray bytes and a frame cut off.
    void Idle(Clock::time_point now, std::vector<Decoded>* out);

private:
    void DropCutOffFrame(Clock::time_point now, std::vector<Decoded>* out);
    void Take(std::uint8_t byte, Clock::time_point now, std::vector<Decoded>* out);
    void FinishFrame(Clock::time_point now, std::vector<Decoded>* out);
    void FlushStray(Clock::time_point now, std::vector<Decoded>* out);

    std::vector<std::uint8_t> frame_; // empty: between frames
    std::vector<std::uint8_t> stray_;
    Clock::time_point lastByte_{};
};

// "14:03:07.125", local time.
std::string Timestamp(std::chrono::system_clock::time_point time);
// "7E 00 0D ..."
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);

} // namespace ostrim::sim

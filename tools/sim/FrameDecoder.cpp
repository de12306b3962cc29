#include "tools/sim/FrameDecoder.h"

#include <cstdio>
#include <ctime>

namespace ostrim::sim {
namespace {

constexpr std::uint8_t kStart = 0x7E;
constexpr std::uint8_t kPing = 0x01;
constexpr std::uint8_t kTxRequest64 = 0x00;
constexpr std::uint8_t kNodeCommand = 0xFE;
constexpr std::size_t kCommandLength = 13; // API id, frame id, address, options, 2 payload bytes
constexpr std::uint8_t kAddressHigh[4] = {0x00, 0x13, 0xA2, 0x00};
constexpr std::size_t kStrayShown = 16;

} // namespace

std::string Timestamp(std::chrono::system_clock::time_point time)
{
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    using std::chrono::milliseconds;
    auto ms = std::chrono::duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms < 0 ? ms + 1000 : ms));
    return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count)
{
    // Written in place: a formatted print per byte is slow for a long bad frame.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out(count == 0 ? 0 : count * 3 - 1, ' ');
    for (std::size_t i = 0; i < count; ++i) {
        out[i * 3] = kDigits[bytes[i] >> 4];
        out[i * 3 + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

void FrameDecoder::Feed(const std::uint8_t* bytes, std::size_t count, Clock::time_point now,
                        std::vector<Decoded>* out)
{
    // A frame cut off long ago must not swallow the bytes that follow.
    if (count > 0)
        DropCutOffFrame(now, out);
    for (std::size_t i = 0; i < count; ++i)
        Take(bytes[i], now, out);
}

void FrameDecoder::Idle(Clock::time_point now, std::vector<Decoded>* out)
{
    DropCutOffFrame(now, out);
    if (frame_.empty())
        FlushStray(now, out);
}

void FrameDecoder::DropCutOffFrame(Clock::time_point now, std::vector<Decoded>* out)
{
    if (!frame_.empty() && now - lastByte_ >= kFrameGap) {
        std::size_t expected = frame_.size() >= 3 ? 4u + (frame_[1] << 8 | frame_[2]) : 0u;
        Decoded d{.kind = Decoded::Kind::BadFrame};
        char reason[64];
        if (expected > 0)
            std::snprintf(reason, sizeof reason, "cut off after %zu of %zu bytes", frame_.size(),
                          expected);
        else
            std::snprintf(reason, sizeof reason, "cut off after %zu bytes", frame_.size());
        d.line = Timestamp(now) + "  BAD FRAME (" + reason + "): " +
                 HexBytes(frame_.data(), frame_.size());
        out->push_back(std::move(d));
        frame_.clear();
    }
}

void FrameDecoder::Take(std::uint8_t byte, Clock::time_point now, std::vector<Decoded>* out)
{
    lastByte_ = now;
    if (frame_.empty()) {
        if (byte == kStart) {
            FlushStray(now, out);
            frame_.push_back(byte);
        } else if (byte == kPing) {
            FlushStray(now, out);
            out->push_back({.kind = Decoded::Kind::Ping, .line = Timestamp(now) + "  ping"});
        } else {
            stray_.push_back(byte);
        }
        return;
    }
    frame_.push_back(byte);
    if (frame_.size() < 3)
        return;
    std::size_t length = static_cast<std::size_t>(frame_[1] << 8 | frame_[2]);
    if (length == 0 || length > kMaxLength) {
        Decoded d{.kind = Decoded::Kind::BadFrame};
        d.line = Timestamp(now) + "  BAD FRAME (length " + std::to_string(length) +
                 "): " + HexBytes(frame_.data(), frame_.size());
        out->push_back(std::move(d));
        frame_.clear();
        return;
    }
    if (frame_.size() == 3 + length + 1)
        FinishFrame(now, out);
}

void FrameDecoder::FinishFrame(Clock::time_point now, std::vector<Decoded>* out)
{
    const std::vector<std::uint8_t>& f = frame_;
    std::uint8_t sum = 0;
    for (std::size_t i = 3; i + 1 < f.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + f[i]);
    std::uint8_t expected = static_cast<std::uint8_t>(0xFF - sum);
    std::uint8_t got = f.back();
    bool checksumOk = got == expected;
    char checksumNote[64] = "";
    if (!checksumOk)
        std::snprintf(checksumNote, sizeof checksumNote, "  BAD CHECKSUM 0x%02X, expected 0x%02X",
                      got, expected);

    bool isCommand = f.size() == 3 + kCommandLength + 1 && f[3] == kTxRequest64 &&
                     f[5] == kAddressHigh[0] && f[6] == kAddressHigh[1] &&
                     f[7] == kAddressHigh[2] && f[8] == kAddressHigh[3] &&
                     f[14] == kNodeCommand && (f[15] == 0x00 || f[15] == 0x01);
    Decoded d;
    if (isCommand) {
        d.kind = Decoded::Kind::Command;
        NodeCommand& c = d.command;
        c.time = now;
        c.nodeId = std::uint32_t{f[9]} << 24 | std::uint32_t{f[10]} << 16 |
                   std::uint32_t{f[11]} << 8 | f[12];
        c.on = f[15] == 0x01;
        c.checksumOk = checksumOk;
        char text[64];
        std::snprintf(text, sizeof text, "  node 0x%08X %s", static_cast<unsigned>(c.nodeId),
                      c.on ? "on" : "off");
        c.line = Timestamp(now) + text + checksumNote;
        d.line = c.line;
    } else {
        d.kind = Decoded::Kind::BadFrame;
        char reason[80] = "not a node command";
        if (!checksumOk)
            std::snprintf(reason, sizeof reason,
                          "not a node command, bad checksum 0x%02X, expected 0x%02X", got,
                          expected);
        d.line = Timestamp(now) + "  BAD FRAME (" + reason + "): " + HexBytes(f.data(), f.size());
    }
    out->push_back(std::move(d));
    frame_.clear();
}

void FrameDecoder::FlushStray(Clock::time_point now, std::vector<Decoded>* out)
{
    if (stray_.empty())
        return;
    Decoded d{.kind = Decoded::Kind::StrayBytes, .strayCount = stray_.size()};
    std::size_t shown = stray_.size() < kStrayShown ? stray_.size() : kStrayShown;
    d.line = Timestamp(now) + "  " + std::to_string(stray_.size()) + " STRAY BYTE" +
             (stray_.size() == 1 ? "" : "S") + " outside a frame: " +
             HexBytes(stray_.data(), shown) + (shown < stray_.size() ? " ..." : "");
    out->push_back(std::move(d));
    stray_.clear();
}

} // namespace ostrim::sim

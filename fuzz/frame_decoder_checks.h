#pragma once
// What the simulated base station's frame decoder must make of any bytes, fed in pieces with
// time passing between them: every byte is reported exactly once (in a ping, a command, a bad
// frame or a run of stray bytes), every line prints, and a genuine frame that follows a pause
// is always decoded as the command it is. A violation aborts, so libFuzzer keeps the input.

#include "basestation/RadioFrameBuilder.h"
#include "fuzz/fuzz_check.h"
#include "tools/sim/FrameDecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrim::fuzz {

inline std::size_t BytesReported(const sim::Decoded& d)
{
    using sim::Decoded;
    switch (d.kind) {
    case Decoded::Kind::Ping:
        return 1;
    case Decoded::Kind::Command:
        return 17;
    case Decoded::Kind::StrayBytes:
        return d.strayCount;
    case Decoded::Kind::BadFrame: {
        // "... BAD FRAME (why): 7E 00 0D ..."
        std::size_t colon = d.line.rfind("): ");
        Check(colon != std::string::npos, "a bad frame without its bytes", d.line);
        std::size_t hex = d.line.size() - (colon + 3);
        Check(hex % 3 == 2, "a bad frame's bytes are not hex pairs", d.line);
        return (hex + 1) / 3;
    }
    }
    return 0;
}

inline void FuzzFrameDecoder(FuzzedDataProvider& in)
{
    using sim::Decoded;
    using sim::FrameDecoder;
    FrameDecoder decoder;
    std::vector<Decoded> out;
    auto now = FrameDecoder::Clock::time_point{} + std::chrono::hours(24 * 365 * 50);
    std::size_t fed = 0;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: { // some bytes, then some time
            std::uint8_t bytes[40];
            std::size_t count = in.ConsumeData(bytes, in.ConsumeIntegralInRange(1, 40));
            decoder.Feed(bytes, count, now, &out);
            fed += count;
            now += std::chrono::milliseconds(in.ConsumeIntegralInRange(0, 700));
            break;
        }
        case 1:
            decoder.Idle(now, &out);
            break;
        case 2: { // a pause, then a genuine frame
            now += FrameDecoder::kFrameGap;
            decoder.Idle(now, &out);
            std::uint32_t node = in.ConsumeIntegral<std::uint32_t>();
            bool on = in.ConsumeBool();
            std::vector<std::uint8_t> frame = RadioFrameBuilder().MakeTxRequest(
                {0xFE, on ? std::uint8_t{1} : std::uint8_t{0}}, node);
            std::size_t before = out.size();
            decoder.Feed(frame.data(), frame.size(), now, &out);
            fed += frame.size();
            Check(out.size() == before + 1 && out.back().kind == Decoded::Kind::Command &&
                      out.back().command.nodeId == node && out.back().command.on == on &&
                      out.back().command.checksumOk,
                  "a genuine frame after a pause was not decoded as its command");
            break;
        }
        default:
            now += std::chrono::milliseconds(in.ConsumeIntegralInRange(0, 2000));
            break;
        }
    }
    now += FrameDecoder::kFrameGap;
    decoder.Idle(now, &out);

    std::size_t reported = 0;
    for (const Decoded& d : out) {
        Check(!d.line.empty(), "an empty line");
        for (char c : d.line)
            Check(c >= 0x20 && c < 0x7F, "a line that does not print", d.line);
        reported += BytesReported(d);
    }
    Check(reported == fed, "bytes lost or reported twice");
}

} // namespace ostrim::fuzz

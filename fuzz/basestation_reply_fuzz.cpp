// What comes back from the base station, and what the simulated base station decodes.
//
// 1. The port path, over a real pseudo-terminal: stale bytes wait in the input, a ping goes out,
//    the "base station" answers with bytes from the input, and reads of any size take the rest.
//    Checks: a stale byte is never taken for the answer; the ping's result follows the first
//    byte of the answer alone (0x01 gives 0, any other 2); every byte read is the byte sent, in
//    order, whatever its value (no XON/XOFF, CR or signal byte is eaten or translated); a read
//    never writes past the count it was given; the next ping discards what was left unread.
// 2. The simulator's frame decoder, fed the same bytes in pieces with time passing between them:
//    every byte is reported exactly once (in a ping, a command, a bad frame or a run of stray
//    bytes), and a genuine frame that follows a pause is always decoded as the command it is.
// A violation aborts, so libFuzzer keeps the input.

#include "basestation/BaseStationCommands.h"
#include "basestation/BaseStationPort.h"
#include "basestation/RadioFrameBuilder.h"
#include "platform/posix/PseudoTerminal.h"
#include "tools/sim/FrameDecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using ostrim::sim::Decoded;
using ostrim::sim::FrameDecoder;

// Far below the tty's input buffer, so the answer never waits for room.
constexpr std::size_t kMaxAnswer = 512;

void Check(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "basestation_reply_fuzz: %s\n", what);
    std::abort();
}

struct Link {
    ostrim::PseudoTerminal pty;
    ostrim::BaseStationPortHandle port = nullptr;
};

Link* theLink = nullptr;

void WriteToProgram(const std::vector<std::uint8_t>& bytes)
{
    std::size_t written = 0;
    Check(theLink->pty.WriteMaster(bytes.data(), bytes.size(), 2s, &written) == 0 &&
              written == bytes.size(),
          "cannot write to the pseudo-terminal");
}

// Reads exactly `count` bytes the program wrote, waiting for them.
std::vector<std::uint8_t> ReadFromProgram(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    std::size_t have = 0;
    while (have < count) {
        std::size_t got = 0;
        Check(theLink->pty.ReadMaster(bytes.data() + have, count - have, 2000ms, &got) == 0 &&
                  got > 0,
              "the program's bytes did not arrive");
        have += got;
    }
    return bytes;
}

// One ping answered with `answer`, with `stale` bytes waiting in the input before it.
void PingExchange(const std::vector<std::uint8_t>& stale, const std::vector<std::uint8_t>& answer)
{
    if (!stale.empty())
        WriteToProgram(stale);
    // The base station answers only once the ping byte has come, as the real one does.
    std::future<void> station = std::async(std::launch::async, [&answer] {
        std::vector<std::uint8_t> ping = ReadFromProgram(1);
        Check(ping[0] == 0x01, "the ping byte is not 0x01");
        WriteToProgram(answer);
    });
    int result = ostrim::PingBaseStation(theLink->port);
    station.get();
    Check(result == (answer[0] == 0x01 ? 0 : 2), "ping result does not follow the answer");
    std::uint8_t extra = 0;
    std::size_t got = 0;
    Check(theLink->pty.ReadMaster(&extra, 1, &got) == 0 && got == 0, "the ping wrote more than 1 byte");
}

void FuzzPort(FuzzedDataProvider& in)
{
    for (int round = 0; round < 2 && in.remaining_bytes() > 0; ++round) {
        std::vector<std::uint8_t> stale = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 8));
        std::vector<std::uint8_t> answer =
            in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(1, kMaxAnswer));
        if (answer.empty())
            return;
        PingExchange(stale, answer);

        // The rest of the answer waits in the input; reads of any size take it in order.
        std::size_t next = 1;
        while (next < answer.size() && in.ConsumeBool()) {
            std::size_t count =
                in.ConsumeIntegralInRange<std::size_t>(1, answer.size() - next);
            // Exactly `count` bytes of heap, so a read past it is caught.
            std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[count]);
            int result = ostrim::ReadBaseStationPort(theLink->port, buffer.get(), count);
            Check(result == 0, "a read of bytes that were there came back short");
            for (std::size_t i = 0; i < count; ++i)
                Check(buffer[i] == answer[next + i], "a byte read is not the byte sent");
            next += count;
        }
        // Whatever is left unread must not answer the next round's ping.
    }
}

std::size_t BytesReported(const Decoded& d)
{
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
        Check(colon != std::string::npos, "a bad frame without its bytes");
        std::size_t hex = d.line.size() - (colon + 3);
        Check(hex % 3 == 2, "a bad frame's bytes are not hex pairs");
        return (hex + 1) / 3;
    }
    }
    return 0;
}

void FuzzDecoder(FuzzedDataProvider& in)
{
    FrameDecoder decoder;
    std::vector<Decoded> out;
    auto now = FrameDecoder::Clock::time_point{} + std::chrono::hours(24 * 365 * 50);
    std::size_t fed = 0;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: { // some bytes, then some time
            std::vector<std::uint8_t> bytes =
                in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(1, 40));
            decoder.Feed(bytes.data(), bytes.size(), now, &out);
            fed += bytes.size();
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
            std::vector<std::uint8_t> frame =
                ostrim::RadioFrameBuilder().MakeTxRequest({0xFE, on ? std::uint8_t{1} : std::uint8_t{0}}, node);
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
            Check(c >= 0x20 && c < 0x7F, "a line that does not print");
        reported += BytesReported(d);
    }
    Check(reported == fed, "bytes lost or reported twice");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static Link made;
    if (made.pty.Open() != 0) {
        std::perror("pseudo-terminal");
        std::abort();
    }
    made.port = ostrim::OpenBaseStationPort(made.pty.SlavePath().c_str());
    if (made.port == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", made.pty.SlavePath().c_str());
        std::abort();
    }
    theLink = &made;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider port(data, size);
    FuzzPort(port);
    FuzzedDataProvider decoder(data, size);
    FuzzDecoder(decoder);
    return 0;
}

// What comes back from the base station, and what the simulated base station decodes.
//
// 1. The port path, over a real pseudo-terminal: stale bytes wait in the input, a ping goes out,
//    the "base station" answers with bytes from the input, and reads of any size take the rest.
//    Checks: a stale byte is never taken for the answer; the ping's result follows the first
//    byte of the answer alone (0x01 gives 0, any other 2); every byte read is the byte sent, in
//    order, whatever its value (no XON/XOFF, CR or signal byte is eaten or translated); a read
//    never writes past the count it was given; the next ping discards what was left unread.
// 2. The simulator's frame decoder, fed the same bytes (the checks in frame_decoder_checks.h;
//    frame_decoder_fuzz runs them alone, several times faster).
// A violation aborts, so libFuzzer keeps the input.

#include "basestation/BaseStationCommands.h"
#include "basestation/BaseStationPort.h"
#include "fuzz/frame_decoder_checks.h"
#include "platform/posix/PseudoTerminal.h"

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

// Far below the tty's input buffer, so the answer never waits for room.
constexpr std::size_t kMaxAnswer = 512;

using ostrim::fuzz::Check;

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
    ostrim::fuzz::FuzzFrameDecoder(decoder);
    return 0;
}

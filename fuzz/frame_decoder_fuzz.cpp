// The simulated base station's frame decoder alone, in memory: the second half of
// basestation_reply_fuzz without its pseudo-terminal, reading the same inputs the same way, so
// the two share their seeds and this one runs the decoder checks several times faster.

#include "fuzz/frame_decoder_checks.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    ostrim::fuzz::FuzzFrameDecoder(in);
    return 0;
}

#pragma once
// The sensors of the track, as loaded from the sensor file.
//
// Thread rule: the loader (GUI thread) writes an entry's position and node id before it raises
// `count` (release); the trigger engine (GPS reader thread) reads `count` (acquire) first and then
// only entries below it, so it never sees a half-written entry. `triggered` is written by both the
// engine and the re-arm timer, hence atomic.
//
// A table reloaded during a run is put in place on the GPS reader thread, between two fixes
// (TriggerEngine::ApplyOfferedTable), under `replacing`: a reader on another thread (the panel)
// takes it to read positions and node ids; the engine's own threads are kept out otherwise.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace ostrim {

struct SensorTable {
    static constexpr int kCapacity = 24;

    std::array<double, kCapacity> latitude{};  // decimal degrees, unsigned, as in the file
    std::array<double, kCapacity> longitude{}; // decimal degrees, unsigned, as in the file
    std::array<std::uint32_t, kCapacity> nodeId{};
    std::array<std::atomic<std::int32_t>, kCapacity> triggered{};
    std::atomic<std::int32_t> count{0};
    mutable std::mutex replacing;
};

} // namespace ostrim

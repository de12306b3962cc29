#pragma once
// The sensors of the track, as loaded from the sensor file.
//
// Thread rule: the loader (GUI thread) writes an entry's position and node id before it raises
// `count` (release); the trigger engine (GPS reader thread) reads `count` (acquire) first and then
// only entries below it, so it never sees a half-written entry. `triggered` is written by both the
// engine and the re-arm timer, hence atomic. `unreadableNodeId` is part of the entry, written
// with it before the count.
//
// A table reloaded during a run is put in place on the GPS reader thread, between two fixes
// (TriggerEngine::ApplyOfferedTable), under `replacing`: a reader on another thread (the panel)
// takes it to read positions, node ids and marks; the engine's own threads are kept out otherwise.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace ostrim {

struct SensorTable {
    static constexpr int kCapacity = 24;

    std::array<double, kCapacity> latitude{};  // decimal degrees, unsigned, as in the file
    std::array<double, kCapacity> longitude{}; // decimal degrees, unsigned, as in the file
    std::array<std::uint32_t, kCapacity> nodeId{};
    std::array<std::atomic<std::int32_t>, kCapacity> triggered{};
    std::atomic<std::int32_t> count{0};

    // A node id field that is not a hex number: the field as written (cut to kNodeTextLimit
    // characters and "..."), NUL-terminated; empty for a readable id. Such a sensor keeps its
    // place and number but is never switched (nodeId is 0).
    static constexpr std::size_t kNodeTextLimit = 24;
    std::array<std::array<char, kNodeTextLimit + 4>, kCapacity> unreadableNodeId{};

    bool Armable(int i) const { return unreadableNodeId[i][0] == '\0'; }
    void SetUnreadableNodeId(int i, const std::string& text);

    mutable std::mutex replacing;
};

// "not armed: node id 403BA38G unreadable", for a sensor whose node id is no hex number.
std::string NotArmedText(const std::string& nodeIdText);

} // namespace ostrim

#pragma once
// The digest of a data phase: FNV-1a over every byte, so two transfers with
// the same digest moved the same bytes, however long they were. The trace
// writes it for each transfer, and a replay compares what a program sends
// with it.
#include <cstddef>
#include <cstdint>

namespace keluflash {

inline uint32_t TransferDigest(const uint8_t* bytes, size_t count) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

}  // namespace keluflash

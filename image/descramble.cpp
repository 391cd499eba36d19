#include "image/descramble.h"

#include <array>
#include <bit>
#include <cstring>

namespace keluflash {
namespace {

// Eight bytes at a time: each byte is its own lane, so additions and
// subtractions must not carry from one byte into the next.
constexpr uint64_t kHighBits = 0x8080808080808080ull;

constexpr uint64_t SubtractBytes(uint64_t a, uint64_t b) {
    return ((a | kHighBits) - (b & ~kHighBits)) ^ ((a ^ ~b) & kHighBits);
}

// For every key K the group's eight key bytes K + 57j (j = 0-7), in memory
// order, so the table is right on either byte order.
constexpr std::array<uint64_t, 256> MakeKeyGroups() {
    std::array<uint64_t, 256> groups{};
    for (unsigned key = 0; key < 256; ++key) {
        std::array<uint8_t, 8> bytes{};
        for (unsigned j = 0; j < 8; ++j) bytes[j] = static_cast<uint8_t>(key + 57 * j);
        groups[key] = std::bit_cast<uint64_t>(bytes);
    }
    return groups;
}
constexpr std::array<uint64_t, 256> kKeyGroups = MakeKeyGroups();

}  // namespace

void ScrambleRun(uint8_t* buffer, uint32_t length, uint8_t key) {
    const uint64_t groups = (static_cast<uint64_t>(length) + 7) / 8;
    for (uint64_t g = 0; g < groups; ++g) {
        uint8_t* group = buffer + g * 8;
        uint64_t value;
        std::memcpy(&value, group, 8);
        value = SubtractBytes(kKeyGroups[key], value);
        std::memcpy(group, &value, 8);
        key = static_cast<uint8_t>(key * 35);
    }
}

void DescrambleBlock(uint8_t* buffer, uint32_t length) {
    if (length == 0) return;  // no group starts; the buffer may be empty
    ScrambleRun(buffer, length, static_cast<uint8_t>(buffer[0] + 2));
}

uint16_t AddToChecksum(uint16_t sum, const uint8_t* data, size_t length) {
    // Sums pairs of bytes in four 16-bit lanes; a lane gains at most 510 per
    // step, so it is emptied every 128 steps before it could carry into its
    // neighbour.
    constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
    constexpr size_t kStepsPerFlush = 128;
    uint32_t total = sum;
    size_t i = 0;
    while (length - i >= 8) {
        uint64_t lanes = 0;
        for (size_t step = 0; step < kStepsPerFlush && length - i >= 8; ++step, i += 8) {
            uint64_t value;
            std::memcpy(&value, data + i, 8);
            lanes += (value & kEvenBytes) + ((value >> 8) & kEvenBytes);
        }
        total += static_cast<uint32_t>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) +
                                       (lanes >> 48));
    }
    for (; i < length; ++i) total += data[i];
    return static_cast<uint16_t>(total);
}

}  // namespace keluflash

#include "image/descramble.h"

#include <algorithm>
#include <array>

namespace keluflash {
namespace {

// The key is multiplied by 35 after each group of 8, and 35 has order 64
// modulo 256: the key bytes repeat every 64 groups, 512 bytes. A run is then
// one byte-wise subtraction from a 512-byte pattern, which compilers turn
// into vector code.
constexpr size_t kKeyPeriodGroups = 64;
constexpr size_t kPatternBytes = kKeyPeriodGroups * 8;
constexpr size_t kChecksumChunk = 256;

}  // namespace

void ScrambleRun(uint8_t* buffer, uint32_t length, uint8_t key) {
    const uint64_t bytes = (static_cast<uint64_t>(length) + 7) / 8 * 8;  // whole groups
    std::array<uint8_t, kPatternBytes> pattern;
    const size_t patternBytes = static_cast<size_t>(std::min<uint64_t>(bytes, kPatternBytes));
    for (size_t group = 0; group * 8 < patternBytes; ++group) {
        for (unsigned j = 0; j < 8; ++j) pattern[group * 8 + j] = static_cast<uint8_t>(key + 57 * j);
        key = static_cast<uint8_t>(key * 35);
    }
    uint64_t i = 0;
    for (; bytes - i >= kPatternBytes; i += kPatternBytes) {
        uint8_t* chunk = buffer + i;
        for (size_t j = 0; j < kPatternBytes; ++j) chunk[j] = static_cast<uint8_t>(pattern[j] - chunk[j]);
    }
    for (size_t j = 0; i + j < bytes; ++j) buffer[i + j] = static_cast<uint8_t>(pattern[j] - buffer[i + j]);
}

void DescrambleBlock(uint8_t* buffer, uint32_t length) {
    if (length == 0) return;  // no group starts; the buffer may be empty
    ScrambleRun(buffer, length, static_cast<uint8_t>(buffer[0] + 2));
}

uint16_t AddToChecksum(uint16_t sum, const uint8_t* data, size_t length) {
    // Fixed-size chunks summed on their own vectorise; the total only needs
    // its low 16 bits, so its wrapping does no harm.
    uint32_t total = sum;
    size_t i = 0;
    for (; length - i >= kChecksumChunk; i += kChecksumChunk) {
        uint16_t chunk = 0;  // 256 x 255 fits
        for (size_t j = 0; j < kChecksumChunk; ++j) chunk = static_cast<uint16_t>(chunk + data[i + j]);
        total += chunk;
    }
    for (; i < length; ++i) total += data[i];
    return static_cast<uint16_t>(total);
}

}  // namespace keluflash

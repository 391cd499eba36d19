#pragma once
// Block descrambling and the 16-bit byte-sum checksum.
#include <cstddef>
#include <cstdint>

namespace keluflash {

// Descrambles `length` bytes in place. The buffer must hold `length` rounded
// up to a multiple of 8: the last group of 8 is always processed whole.
void DescrambleBlock(uint8_t* buffer, uint32_t length);

// Adds every byte to a running 16-bit sum.
uint16_t AddToChecksum(uint16_t sum, const uint8_t* data, size_t length);

}  // namespace keluflash

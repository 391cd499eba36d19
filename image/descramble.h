#pragma once
// Block descrambling and the 16-bit byte-sum checksum.
#include <cstddef>
#include <cstdint>

namespace keluflash {

// Descrambles `length` bytes in place. The buffer must hold `length` rounded
// up to a multiple of 8: the last group of 8 is always processed whole. The
// key is the block's first byte + 2, so a descrambled block always starts
// with 02.
void DescrambleBlock(uint8_t* buffer, uint32_t length);

// The scrambling run with an explicit key: byte j of each group of 8 becomes
// key + 57j - byte, the key is multiplied by 35 after each group. The run is
// its own inverse for a given key, so DescrambleBlock is this run with the key
// taken from the first byte, and a writer scrambles a block that starts with
// 02 by running it with any key K: its first byte becomes K - 2.
void ScrambleRun(uint8_t* buffer, uint32_t length, uint8_t key);

// Adds every byte to a running 16-bit sum.
uint16_t AddToChecksum(uint16_t sum, const uint8_t* data, size_t length);

}  // namespace keluflash

#pragma once
// Getting an image into the drive. Method A sends every block with the vendor
// block write; method B, the fallback, sends each block behind a 2-byte length
// with WRITE BUFFER in 16 KiB chunks. Both end with the trigger, a data-less
// block write carrying the image checksum that makes the drive program its
// flash, and wait up to 120 s for the drive to answer again.
#include <cstdint>

#include "flash/flash_context.h"

namespace keluflash {

inline constexpr uint32_t kReadyWaitSeconds = 120;
inline constexpr uint32_t kMethodAPauseMilliseconds = 2000;
inline constexpr uint32_t kMethodARetryPauseMilliseconds = 20000;
inline constexpr uint32_t kMethodBPauseMilliseconds = 500;
inline constexpr uint32_t kMethodBPassThroughPauseMilliseconds = 3000;
inline constexpr uint32_t kWriteBufferChunk = 0x4000;
inline constexpr uint16_t kMethodBMaxBlock = 0xFFFE;   // the 2-byte prefix and the block fill 64 KiB

// Bytes method A sends for block i: the drive takes 0xF000 for blocks 1 and 2
// and 0xFFFE for every other block, whatever the block's own length.
uint16_t MethodATransferLength(int block);

bool DownloadMethodA(const FlashContext& context);
bool DownloadMethodB(const FlashContext& context);

}  // namespace keluflash

#pragma once
// Pre-flash patch-area synchronisation. The drive can report one patch area,
// a range of bytes inside one flash bank; when the drive's bytes there differ
// from the image's, the whole area is rewritten from the image before any
// block is downloaded.
#include <cstdint>

#include "flash/flash_context.h"

namespace keluflash {

inline constexpr uint8_t kPatchSignature0 = 0x55;
inline constexpr uint8_t kPatchSignature1 = 0xDD;
inline constexpr uint8_t kPatchBankLimit = 8;     // banks 0-7
inline constexpr uint8_t kPatchWriteChunk = 128;
inline constexpr uint32_t kMemoryReadSize = 256;

// False only when the step cannot do its work locally (memory, the file, an
// area the image does not cover); a drive without a patch area, a drive error
// while comparing and a finished rewrite are all true.
bool SyncPatchArea(const FlashContext& context);

}  // namespace keluflash

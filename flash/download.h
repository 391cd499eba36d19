#pragma once
// Getting an image into the drive. Method A sends every block with the vendor
// block write; method B, the fallback, sends each block behind a 2-byte length
// with WRITE BUFFER in 16 KiB chunks. Both end with the trigger, a data-less
// block write carrying the image checksum that makes the drive program its
// flash, and wait up to 120 s for the drive to answer again.
#include <cstdint>
#include <string>

#include "flash/flash_context.h"

namespace keluflash {

inline constexpr uint32_t kReadyWaitSeconds = 120;
inline constexpr uint32_t kMethodAPauseMilliseconds = 2000;
inline constexpr uint32_t kMethodARetryPauseMilliseconds = 20000;
inline constexpr uint32_t kMethodBPauseMilliseconds = 500;
inline constexpr uint32_t kMethodBPassThroughPauseMilliseconds = 3000;
inline constexpr uint32_t kWriteBufferChunk = 0x4000;
inline constexpr uint16_t kMethodBMaxBlock = 0xFFFE;   // the 2-byte prefix and the block fill 64 KiB
// About how long the drive is written to, from the first write to the end of
// the ready wait, at worst: method A's pauses and its 120 s wait, or a refused
// method A followed by method B's pauses and wait, and the transfers of a
// drive that answers slowly.
inline constexpr uint32_t kDriveWriteSeconds = 180;

// How a download that did not succeed ended; FlashImage decides from it what
// may follow.
enum class DownloadFailure : uint8_t {
    None,
    // The drive answered and refused a block or the trigger (or the image or
    // memory stopped the method first): nothing was programmed, and another
    // method may be tried.
    Refused,
    // A command before the trigger got no answer from the drive (a time-out,
    // a transport or system error, a drive that is gone): nothing was
    // programmed, and nothing more is sent.
    NoAnswer,
    // A command before the trigger was never sent (the transport sends no
    // more commands): nothing more can be sent.
    NotSent,
    // The drive took the trigger (or may have) and did not come back: it may
    // be programming its flash, so nothing more is sent.
    AfterTrigger,
};

// Bytes method A sends for block i: the drive takes 0xF000 for blocks 1 and 2
// and 0xFFFE for every other block, whatever the block's own length.
uint16_t MethodATransferLength(int block);

// True when the drive took every block and the trigger and came back. On
// false, `failure` (when given) says how it ended; each way adds its lines,
// NoAnswer and AfterTrigger one that says what it means for the drive.
bool DownloadMethodA(const FlashContext& context, DownloadFailure* failure = nullptr);
// A block longer than 0xFFFE bytes does not fit WRITE BUFFER's 64 KiB with its
// length: method B refuses such an image before its first WRITE BUFFER
// (method A, tried first, sends at most 0xFFFE bytes of it anyway).
bool DownloadMethodB(const FlashContext& context, DownloadFailure* failure = nullptr);


}  // namespace keluflash

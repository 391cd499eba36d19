#pragma once
// Read-back verification. The drive's flash is read back bank by bank in
// 256-byte pieces (banks 1 and 2 only up to 0xF000, the length method A
// writes there) and its 16-bit byte sum is compared with the checksum of the
// image that was flashed.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "flash/flash_context.h"

namespace keluflash {

inline constexpr uint32_t kBankSize = 0x10000;
inline constexpr uint32_t kShortBankEnd = 0xF000;   // banks 1 and 2
inline constexpr uint32_t kReadBackPiece = 0x100;

// One 256-byte piece of the flash as the read-back reads it.
using FlashPieceVisitor = std::function<void(uint8_t bank, uint16_t address, const uint8_t* data)>;

// The read that ended a read-back.
struct ReadBackFailure {
    uint8_t bank = 0;
    uint16_t address = 0;
    uint8_t status = 0;
    SenseTriple sense;
    // Why a read that looked done is not: no answer came, or fewer bytes than
    // asked for. Empty when the drive refused the read.
    std::string cause;
    // The read was never sent, or the drive answered NOT READY: the flash
    // was not read, so nothing is known about what it holds.
    bool unread = false;
};

// Reads banks 0 to bankCount-1 the way the read-back does, moving the bar and
// keeping the window alive before every read. On a failed read (refused,
// unanswered, or short: a piece is never summed from bytes that did not come)
// it stops and returns false, with that read in `failure`.
bool ReadFlashBanks(const FlashContext& context, int bankCount, const FlashPieceVisitor& visit,
                    ReadBackFailure* failure = nullptr);

// The 16-bit byte sum of banks 0 to BlockCount-1; nothing when a read failed.
std::optional<uint16_t> ReadBackChecksum(const FlashContext& context, ReadBackFailure* failure = nullptr);

// True when the sum equals the checksum the trigger carried; otherwise
// "Err:Verify NG !!" (a failed read fails too, after a line that says where)
// and the report's drive state becomes "verification failed", unless the
// flash could not be read at all (a read not sent, or a drive not ready):
// the state then stays what it was, and the line says the drive was not
// verified.
bool VerifyFlash(const FlashContext& context);

}  // namespace keluflash

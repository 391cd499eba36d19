#pragma once
// The last look at the image before the first command that writes to the
// drive. It reads the selected image's blocks as the downloads will send them
// and refuses, with an "Err:" line, an image the drive would not get whole.
#include "flash/flash_context.h"

namespace keluflash {

// True when every block of the selected image reads in full, sums to the
// checksum the trigger will carry, and loses no non-zero byte to method A's
// fixed transfer lengths; and when the header counts at least one block and
// no more than it has length slots for.
inline constexpr const char* kMessageNoBlocks = "Err:No block in the firmware file!!";
bool CheckImageBeforeWrites(const FlashContext& context);

}  // namespace keluflash

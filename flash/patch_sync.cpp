#include "flash/patch_sync.h"

#include <algorithm>
#include <cstring>

#include "flash/message_format.h"
#include "image/descramble.h"
#include "image/image_file.h"

namespace keluflash {
namespace {

bool DescramblesForPatch(uint8_t scrambleFlag) {
    // This step reads every flag other than 0 and 0x20 as scrambled.
    return scrambleFlag != 0 && scrambleFlag != 0x20;
}

void RewriteArea(const FlashContext& context, uint8_t* image, uint8_t bank, uint32_t start, uint32_t length) {
    for (uint32_t address = start, left = length; left != 0;) {
        const uint32_t count = std::min<uint32_t>(kPatchWriteChunk, left);
        // The drive's answer is not looked at: the download that follows
        // rewrites the flash anyway. Only a write that never went out leaves
        // the area as it was, and nothing more would go.
        context.atapi.VendorWriteMemory(image + address, bank, static_cast<uint16_t>(address),
                                        static_cast<uint8_t>(count));
        if (context.atapi.LastResult().Verdict() == CommandVerdict::NotSent) return;
        context.record.Reach(DriveState::PatchAreaWritten);
        address += count;
        left -= count;
    }
}

}  // namespace

bool SyncPatchArea(const FlashContext& context) {
    const ImageHeader& header = context.header;
    auto image = BlockBuffer::Allocate();
    auto info = image ? BlockBuffer::Allocate() : std::nullopt;
    if (!image || !info) {
        context.report.AddMessage(kMessageMemoryAllocation);
        return false;
    }

    // The buffer is zero before the command, so an answer without data has no
    // signature.
    if (context.atapi.VendorReadPatchInfo(info->Data()) == 0) return true;

    const uint8_t* patchInfo = info->Data();
    const uint8_t bank = patchInfo[4];
    if (patchInfo[0] != kPatchSignature0 || patchInfo[1] != kPatchSignature1 || bank >= kPatchBankLimit)
        return true;

    // The area always comes from the first image of the file: block number
    // `bank` of the copy the open took.
    uint64_t offset = kHeaderSize;
    for (int k = 0; k < bank; ++k) offset += header.BlockSize(k);
    const uint16_t blockLength = header.BlockSize(bank);
    if (context.image.Read(offset, image->Data(), blockLength) < blockLength) {
        context.report.AddMessage("Err:Read File Error(9)");
        return false;
    }

    const uint32_t start = static_cast<uint32_t>(patchInfo[5] << 8 | patchInfo[6]);
    const uint32_t length = static_cast<uint32_t>(patchInfo[7] << 8 | patchInfo[8]);
    if (length == 0) return true;
    // This step reads a flag other than 0, 1 and 0x20 as scrambled, the
    // downloads as plain: the area would be written with bytes the download
    // does not send. Without a patch area such a file flashes as plain.
    const uint8_t flag = header.ScrambleFlag();
    if (flag != kScrambleFlagPlain && flag != kScrambleFlagScrambled && flag != 0x20) {
        context.report.AddMessage(FormatLine("Err:Unknown scramble flag %x in the firmware file!!", flag));
        return false;
    }
    if (DescramblesForPatch(flag)) DescrambleBlock(image->Data(), blockLength);
    // The image supplies only the block's own bytes: an area reaching past
    // them would be written with bytes the file never held.
    if (start + length > blockLength) {
        context.report.AddMessage(FormatLine("Err:Patch area %x+%x is outside block %u of the firmware!!",
                                             static_cast<unsigned>(start), static_cast<unsigned>(length),
                                             static_cast<unsigned>(bank)));
        return false;
    }

    uint8_t* readBuffer = info->Data();
    for (uint32_t address = start, left = length; left != 0;) {
        std::fill(readBuffer, readBuffer + kMemoryReadSize, uint8_t{0});
        if (context.atapi.VendorReadMemory(readBuffer, bank, static_cast<uint16_t>(address)) != kStatusGood)
            return true;  // no rewrite on a drive error
        const uint32_t count = std::min(left, kMemoryReadSize);
        if (std::memcmp(readBuffer, image->Data() + address, count) != 0) {
            RewriteArea(context, image->Data(), bank, start, length);
            return true;
        }
        address += count;
        left -= count;
    }
    return true;
}

}  // namespace keluflash

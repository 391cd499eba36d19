#include "flash/image_preflight.h"

#include <algorithm>

#include "image/image_blocks.h"
#include "flash/download.h"
#include "flash/message_format.h"
#include "image/descramble.h"
#include "image/image_file.h"

namespace keluflash {

bool CheckImageBeforeWrites(const FlashContext& context) {
    const ImageHeader& header = context.header;
    OperatorReport& report = context.report;
    if (!header.BlockCountInRange()) {
        report.AddMessage(kMessageBlockCountError);
        return false;
    }
    // No block: nothing would be written, and the read-back would pass on
    // no reads at all.
    if (header.BlockCount() == 0) {
        report.AddMessage(kMessageNoBlocks);
        return false;
    }

    auto buffer = BlockBuffer::Allocate();
    if (!buffer) {
        report.AddMessage(kMessageMemoryAllocation);
        return false;
    }
    ImageBlocks blocks(context.image, header, ImageStartOffset(context.selection));
    uint16_t sum = 0;
    for (int i = 0; i < header.BlockCount(); ++i) {
        buffer->Clear();
        const uint16_t size = header.BlockSize(i);
        uint64_t got = 0;
        if (!blocks.ReadBlock(i, *buffer, &got)) {
            report.AddMessage(ShortBlockLine(i, got, size));
            return false;
        }
        sum = AddToChecksum(sum, buffer->Data(), size);
        // Method A sends a fixed number of bytes per block; what lies beyond
        // it never reaches the drive, which is harmless only when it is zero.
        const uint16_t transfer = MethodATransferLength(i);
        if (size > transfer && std::any_of(buffer->Data() + transfer, buffer->Data() + size,
                                           [](uint8_t byte) { return byte != 0; })) {
            report.AddMessage(FormatLine("Err:Block %d is %u bytes, more than the %u bytes the drive takes!!", i,
                                         static_cast<unsigned>(size), static_cast<unsigned>(transfer)));
            return false;
        }
    }
    // The validation sums only the first image; the image that is
    // flashed must match the checksum its trigger carries.
    if (sum != TriggerChecksum(header, context.selection)) {
        report.AddMessage(kMessageFileChecksumError);
        return false;
    }
    return true;
}

}  // namespace keluflash

#pragma once
// The one walk over an image's blocks, as the validation, the last look
// before the first write, `info` and the downloads read them: block i is
// BlockSizes[i] bytes after block i-1, descrambled when the header says so.
// One rule for a block that is not there: a length of 0, or fewer bytes in
// the file than its length, is short.
#include <cstdint>
#include <optional>

#include "image/image_copy.h"
#include "image/image_file_reader.h"
#include "image/image_header.h"

namespace keluflash {

class ImageBlocks {
public:
    // Starts at `start` (64 for image 0, ImageStartOffset for the selected one).
    ImageBlocks(const ImageCopy& copy, const ImageHeader& header, uint64_t start);

    // Reads the next block (block i, BlockSizes[i] bytes) into the start of
    // `buffer`, descrambled. Descrambling works in whole groups of 8 and so
    // also changes up to 7 bytes behind the block; those are cleared again,
    // so that the zeros a download pads a short block with stay zeros. False
    // when the block is short; `got` then says how many of its bytes are there.
    bool ReadBlock(int block, BlockBuffer& buffer, uint64_t* got = nullptr);

private:
    const ImageCopy& m_copy;
    const ImageHeader& m_header;
    uint64_t m_offset;
};

// The 16-bit sum of blocks 0 to BlockCount-1 from `start`, or the first short
// block and how much of it is there.
struct BlockSum {
    bool complete = false;
    uint16_t sum = 0;
    int shortBlock = -1;
    uint64_t got = 0;
};
// Needs a header whose block count is in range. Nothing when the buffer
// cannot be had.
std::optional<BlockSum> SumBlocks(const ImageCopy& copy, const ImageHeader& header, uint64_t start);

}  // namespace keluflash

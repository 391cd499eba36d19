#pragma once
// The blocks of the selected image as the downloads send them, read one after
// another from the copy of the file taken at Start.
#include <cstdint>
#include <string>

#include "image/image_copy.h"
#include "image/image_file_reader.h"
#include "image/image_header.h"

namespace keluflash {

class ImageBlockSource {
public:
    // Starts at the selected image's first block.
    ImageBlockSource(const ImageHeader& header, const ImageSelection& selection, const ImageCopy& image);

    // Reads the next block (block i, BlockSizes[i] bytes) into the start of
    // `buffer` and descrambles it when the header says so. Descrambling works
    // in whole groups of 8 and so also changes up to 7 bytes behind the block;
    // those are cleared again, so that the zeros a download pads a short block
    // with stay zeros. False on a short read or a block length of 0.
    bool ReadBlock(int block, BlockBuffer& buffer);

private:
    const ImageHeader& m_header;
    const ImageCopy& m_image;
    uint64_t m_offset;
};

}  // namespace keluflash

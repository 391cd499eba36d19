#include "flash/block_source.h"

#include <algorithm>

#include "image/descramble.h"

namespace keluflash {

ImageBlockSource::ImageBlockSource(const ImageHeader& header, const ImageSelection& selection, const ImageCopy& image)
    : m_header(header), m_image(image), m_offset(ImageStartOffset(selection)) {}

bool ImageBlockSource::ReadBlock(int block, BlockBuffer& buffer) {
    const uint16_t size = m_header.BlockSize(block);
    if (size == 0 || m_image.Read(m_offset, buffer.Data(), size) < size) return false;
    m_offset += size;
    if (m_header.Scrambled()) {
        // A block of at most 65,535 bytes rounds up to at most 65,536.
        DescrambleBlock(buffer.Data(), size);
        const size_t groupEnd = (static_cast<size_t>(size) + 7) / 8 * 8;
        std::fill(buffer.Data() + size, buffer.Data() + groupEnd, uint8_t{0});
    }
    return true;
}

}  // namespace keluflash

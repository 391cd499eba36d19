#include "flash/block_source.h"

#include <algorithm>

namespace keluflash {

ImageBlockSource::ImageBlockSource(const ImageHeader& header, const ImageSelection& selection,
                                   const std::string& fileName)
    : m_header(header), m_reader(fileName) {
    m_open = m_reader.IsOpen() && m_reader.Seek(ImageStartOffset(selection));
}

bool ImageBlockSource::ReadBlock(int block, BlockBuffer& buffer) {
    const uint16_t size = m_header.BlockSize(block);
    if (!m_open || !ReadImageBlock(m_reader, buffer, size, m_header.Scrambled())) return false;
    if (m_header.Scrambled()) {
        const size_t groupEnd = (static_cast<size_t>(size) + 7) / 8 * 8;
        std::fill(buffer.Data() + size, buffer.Data() + groupEnd, uint8_t{0});
    }
    return true;
}

}  // namespace keluflash

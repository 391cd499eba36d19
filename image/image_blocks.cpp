#include "image/image_blocks.h"

#include <algorithm>

#include "image/descramble.h"

namespace keluflash {

ImageBlocks::ImageBlocks(const ImageCopy& copy, const ImageHeader& header, uint64_t start)
    : m_copy(copy), m_header(header), m_offset(start) {}

bool ImageBlocks::ReadBlock(int block, BlockBuffer& buffer, uint64_t* got) {
    const uint16_t size = m_header.BlockSize(block);
    const size_t read = size == 0 ? 0 : m_copy.Read(m_offset, buffer.Data(), size);
    if (got) *got = read;
    if (size == 0 || read < size) return false;
    m_offset += size;
    if (m_header.Scrambled()) {
        // A block of at most 65,535 bytes rounds up to at most 65,536.
        DescrambleBlock(buffer.Data(), size);
        const size_t groupEnd = (static_cast<size_t>(size) + 7) / 8 * 8;
        std::fill(buffer.Data() + size, buffer.Data() + groupEnd, uint8_t{0});
    }
    return true;
}

std::optional<BlockSum> SumBlocks(const ImageCopy& copy, const ImageHeader& header, uint64_t start) {
    auto buffer = BlockBuffer::Allocate();
    if (!buffer) return std::nullopt;
    ImageBlocks blocks(copy, header, start);
    BlockSum result;
    const int count = std::min<int>(header.BlockCount(), header.MaxBlockCount());
    for (int i = 0; i < count; ++i) {
        if (!blocks.ReadBlock(i, *buffer, &result.got)) {
            result.shortBlock = i;
            return result;
        }
        result.sum = AddToChecksum(result.sum, buffer->Data(), header.BlockSize(i));
    }
    result.complete = true;
    result.got = 0;
    return result;
}

}  // namespace keluflash

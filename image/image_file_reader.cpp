#include "image/image_file_reader.h"

#include <algorithm>
#include <new>

namespace keluflash {

bool ImageFileReader::Open(const std::string& fileName) {
    m_file = OpenReadableFile(fileName);
    return IsOpen();
}

bool ImageFileReader::Seek(uint64_t offset) {
    return IsOpen() && m_file->Seek(offset);
}

size_t ImageFileReader::Read(uint8_t* buffer, size_t count) {
    // A read error (a file that cannot be read after all) is the end of the
    // data, as a short file is.
    return IsOpen() && count > 0 ? m_file->Read(buffer, count) : 0;
}

std::optional<BlockBuffer> BlockBuffer::Allocate() {
    BlockBuffer buffer;
    try {
        buffer.m_bytes.resize(kBlockBufferSize + kTransferAlignment);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    return buffer;
}

void BlockBuffer::Clear() { std::fill_n(Data(), Size(), uint8_t{0}); }

}  // namespace keluflash

#include "image/image_file_reader.h"

#include <algorithm>
#include <filesystem>
#include <ios>
#include <new>
#include <system_error>

#include "image/descramble.h"
#include "image/image_copy.h"

namespace keluflash {

bool ImageFileReader::Open(const std::string& fileName) {
    Close();
    // A FIFO would block the open or the reads until a writer comes.
    if (NotARegularFile(fileName)) return false;
    return m_file.open(fileName, std::ios::in | std::ios::binary) != nullptr;
}

void ImageFileReader::Close() {
    if (m_file.is_open()) m_file.close();
}

bool ImageFileReader::Seek(uint64_t offset) {
    if (!IsOpen()) return false;
    const auto position = m_file.pubseekpos(static_cast<std::streamoff>(offset), std::ios::in);
    return position != std::streampos(std::streamoff(-1));
}

size_t ImageFileReader::Read(uint8_t* buffer, size_t count) {
    if (!IsOpen() || count == 0) return 0;
    // A read error (a file that cannot be read after all) is the end of the
    // data, as a short file is; the library reports it by throwing.
    try {
        const std::streamsize got = m_file.sgetn(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
        return got > 0 ? static_cast<size_t>(got) : 0;
    } catch (const std::ios_base::failure&) {
        return 0;
    }
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

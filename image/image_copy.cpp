#include "image/image_copy.h"

#include <algorithm>
#include <filesystem>
#include <new>

#include "image/image_file_reader.h"

namespace keluflash {

std::optional<std::string> NotARegularFile(const std::string& fileName) {
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(fileName, error).type();
    switch (type) {
        case std::filesystem::file_type::directory: return "a directory";
        case std::filesystem::file_type::fifo: return "a FIFO";
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character: return "a device";
        case std::filesystem::file_type::socket: return "a socket";
        default: return std::nullopt;
    }
}

std::string NotARegularFileLine(const std::string& kind) {
    return "Err:The firmware file is " + kind + ", not a file!!";
}

namespace {

uint64_t ImageBytes(const ImageHeader& header) {
    uint64_t bytes = 0;
    const int count = std::min<int>(header.BlockCount(), header.MaxBlockCount());
    for (int i = 0; i < count; ++i) bytes += header.BlockSize(i);
    return bytes;
}

}  // namespace

uint64_t ImageCopyLength(const ImageHeader& header, const ImageSelection& selection) {
    const uint64_t blocks = ImageBytes(header);
    const uint64_t end = std::max(kHeaderSize + blocks, ImageStartOffset(selection) + blocks);
    return std::min(end, kMaxImageCopy);
}

ImageCopy::LoadResult ImageCopy::Load(const std::string& fileName, const ImageSelection& selection) {
    m_bytes.clear();
    if (NotARegularFile(fileName)) return LoadResult::NotARegularFile;
    ImageFileReader reader;
    if (!reader.Open(fileName)) return LoadResult::CannotOpen;
    ImageHeader header;
    const size_t got = reader.ReadHeader(header);
    try {
        const uint64_t length = got < kHeaderSize ? got : ImageCopyLength(header, selection);
        m_bytes.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        return LoadResult::NoMemory;
    }
    std::copy_n(header.bytes.begin(), std::min(got, m_bytes.size()), m_bytes.begin());
    if (m_bytes.size() > kHeaderSize) {
        const size_t rest = reader.Read(m_bytes.data() + kHeaderSize, m_bytes.size() - kHeaderSize);
        m_bytes.resize(kHeaderSize + rest);
    }
    return LoadResult::Loaded;
}

ImageHeader ImageCopy::Header() const {
    ImageHeader header;
    std::copy_n(m_bytes.begin(), std::min(m_bytes.size(), kHeaderSize), header.bytes.begin());
    return header;
}

size_t ImageCopy::Read(uint64_t offset, uint8_t* to, size_t count) const {
    if (offset >= m_bytes.size()) return 0;
    const size_t available = std::min<uint64_t>(count, m_bytes.size() - offset);
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), available, to);
    return available;
}

}  // namespace keluflash

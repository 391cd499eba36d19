#include "image/image_copy.h"

#include <algorithm>
#include <new>

#include "image/file_access.h"
#include "image/image_file_reader.h"

namespace keluflash {

std::optional<std::string> NotARegularFile(const std::string& fileName) {
    switch (KindOf(fileName)) {
        case FileKind::Directory: return "a directory";
        case FileKind::Fifo: return "a FIFO";
        case FileKind::Device: return "a device";
        case FileKind::Socket: return "a socket";
        case FileKind::Missing:
        case FileKind::Regular: break;
    }
    return std::nullopt;
}

std::string NotARegularFileLine(const std::string& kind) {
    return "Err:The firmware file is " + kind + ", not a file!!";
}

namespace {

// The file's first `limit` bytes, or nothing when it cannot be opened.
std::optional<std::vector<uint8_t>> ReadFront(const std::string& fileName, uint64_t limit, bool& noMemory) {
    noMemory = false;
    ImageFileReader reader;
    if (!reader.Open(fileName)) return std::nullopt;
    std::vector<uint8_t> bytes;
    try {
        // Grown as the file delivers: a short file never costs the whole limit.
        constexpr size_t kStep = 0x10000;
        while (bytes.size() < limit) {
            const size_t at = bytes.size();
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kStep, limit - at));
            bytes.resize(at + want);
            const size_t got = reader.Read(bytes.data() + at, want);
            bytes.resize(at + got);
            if (got < want) break;
        }
    } catch (const std::bad_alloc&) {
        noMemory = true;
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

ImageCopy::LoadResult ImageCopy::Load(const std::string& fileName) {
    m_fileName = fileName;
    m_bytes.clear();
    m_notAFileKind.clear();
    if (const std::optional<std::string> kind = NotARegularFile(fileName)) {
        m_notAFileKind = *kind;
        return m_result = LoadResult::NotARegularFile;
    }
    // The stamp is taken before the bytes: a file written meanwhile differs
    // from it at the next look.
    const std::optional<FileStamp> stamp = StampOf(fileName);
    bool noMemory = false;
    std::optional<std::vector<uint8_t>> bytes = ReadFront(fileName, kMaxImageCopy, noMemory);
    if (!bytes) return m_result = noMemory ? LoadResult::NoMemory : LoadResult::CannotOpen;
    m_bytes = std::move(*bytes);
    m_fileSize = stamp ? stamp->size : m_bytes.size();
    m_modified = stamp ? stamp->modified : 0;
    return m_result = LoadResult::Loaded;
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

bool ImageCopy::SameAsOnDisk() const {
    if (!Loaded() || NotARegularFile(m_fileName)) return false;
    const std::optional<FileStamp> stamp = StampOf(m_fileName);
    if (!stamp || stamp->size != m_fileSize || stamp->modified != m_modified) return false;
    // A file rewritten within the clock's resolution keeps its time: the
    // bytes decide.
    bool noMemory = false;
    const std::optional<std::vector<uint8_t>> now = ReadFront(m_fileName, kMaxImageCopy, noMemory);
    return now && *now == m_bytes;
}

}  // namespace keluflash

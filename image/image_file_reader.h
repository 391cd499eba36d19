#pragma once
// Reading a file as raw bytes, and the page-aligned 64 KiB buffer blocks are
// read into. The open reads an image file through it once (ImageCopy); the
// image writer and the command line read other files with it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/file_access.h"
#include "image/image_header.h"

namespace keluflash {

// One open image file, read as raw bytes. Closed when destroyed.
class ImageFileReader {
public:
    ImageFileReader() = default;
    explicit ImageFileReader(const std::string& fileName) { Open(fileName); }
    ImageFileReader(const ImageFileReader&) = delete;
    ImageFileReader& operator=(const ImageFileReader&) = delete;

    // Opens for binary reading; false when the file cannot be opened.
    bool Open(const std::string& fileName);
    bool IsOpen() const { return m_file != nullptr; }
    void Close() { m_file.reset(); }

    // Positions at `offset` bytes from the start. Positions past the end are
    // allowed; the next read then delivers nothing.
    bool Seek(uint64_t offset);
    // Reads up to `count` bytes; returns how many arrived (fewer at the end).
    size_t Read(uint8_t* buffer, size_t count);

private:
    std::unique_ptr<ReadableFile> m_file;
};

// Data buffers handed to a drive start on a page: 64 KiB then span 16 pages,
// not 17, which some host adapters cap a request at; some demand alignment.
inline constexpr size_t kTransferAlignment = 4096;

// The one 64 KiB buffer an operation reads blocks into, page-aligned.
// Allocate() returns nothing when the memory cannot be had ("Err:Memory
// allocation").
class BlockBuffer {
public:
    static std::optional<BlockBuffer> Allocate();
    // Moved, never copied: a copy's storage would be aligned differently.
    BlockBuffer(BlockBuffer&&) = default;
    BlockBuffer& operator=(BlockBuffer&&) = default;
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;
    uint8_t* Data() { return m_bytes.data() + AlignmentOffset(); }
    const uint8_t* Data() const { return m_bytes.data() + AlignmentOffset(); }
    static constexpr size_t Size() { return kBlockBufferSize; }
    void Clear();

private:
    BlockBuffer() = default;
    // Where the page-aligned buffer starts in the storage (which has a page to spare).
    size_t AlignmentOffset() const {
        const auto address = reinterpret_cast<uintptr_t>(m_bytes.data());
        return (kTransferAlignment - address % kTransferAlignment) % kTransferAlignment;
    }
    std::vector<uint8_t> m_bytes;
};

}  // namespace keluflash

#pragma once
// The image file as the open read it, once. Identification, validation, the
// checks, the patch area, the downloads and the verification all work from
// this one private copy, so the bytes that passed every check are the bytes
// that are flashed. Before the first command of an update the file on disk is
// compared with it: a file changed since the open is refused, never flashed.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/image_header.h"

namespace keluflash {

// No byte of a file past 64 + 14 x 65,535 is ever used: a single-image file
// holds at most 14 blocks, a multi-image file's image 5 ends before
// 64 + 5 x 65,535 + 8 x 65,535, and the window of its image 6 (which the open
// names as not selectable) before 64 + 6 x 65,535 + 65,536. The open reads no
// further.
inline constexpr uint64_t kMaxImageCopy = kHeaderSize + uint64_t{kMaxBlocks} * 0xFFFF;

// What a path names when it is not a file that can be read as an image: a
// directory, a FIFO, a device or a socket (reading a FIFO would wait for a
// writer for ever). Nothing for a regular file or a path that does not exist.
std::optional<std::string> NotARegularFile(const std::string& fileName);
// "Err:The firmware file is a FIFO, not a file!!"
std::string NotARegularFileLine(const std::string& kind);

class ImageCopy {
public:
    enum class LoadResult { NotLoaded, Loaded, CannotOpen, NotARegularFile, NoMemory };

    // Reads the file from its start, up to kMaxImageCopy bytes, in one pass,
    // and notes its size and modification time.
    LoadResult Load(const std::string& fileName);

    LoadResult Result() const { return m_result; }
    bool Loaded() const { return m_result == LoadResult::Loaded; }
    const std::string& FileName() const { return m_fileName; }
    // What the path named when it was not a file ("a directory").
    const std::string& NotAFileKind() const { return m_notAFileKind; }
    // The first 64 bytes (00 where the file was shorter).
    ImageHeader Header() const;
    uint64_t Size() const { return m_bytes.size(); }
    uint64_t FileSize() const { return m_fileSize; }
    // Up to `count` bytes from file offset `offset`; fewer at the end of the copy.
    size_t Read(uint64_t offset, uint8_t* to, size_t count) const;

    // True when the file on disk is still the one that was read: the same
    // size, modification time and bytes.
    bool SameAsOnDisk() const;

private:
    std::string m_fileName;
    LoadResult m_result = LoadResult::NotLoaded;
    std::string m_notAFileKind;
    std::vector<uint8_t> m_bytes;
    uint64_t m_fileSize = 0;
    int64_t m_modified = 0;
};

}  // namespace keluflash

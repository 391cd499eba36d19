#pragma once
// The image file as one update sends it, read once at Start: its first bytes
// up to the end of the furthest block any step of the update reads (image 0
// for the validation and the patch area, the selected image for the
// downloads). Every step works from this one private copy, so a file that is
// changed, replaced or cut short during the update cannot reach the drive.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/image_header.h"

namespace keluflash {

// Single-image file: 64 + 14 blocks; multi-image file: image 5 ends before
// 64 + 5 x 65,535 + 8 x 65,535. No copy is larger.
inline constexpr uint64_t kMaxImageCopy = kHeaderSize + uint64_t{kMaxBlocks} * 0xFFFF;

// What a path names when it is not a file that can be read as an image: a
// directory, a FIFO, a device or a socket (reading a FIFO would wait for a
// writer for ever). Nothing for a regular file or a path that does not exist.
std::optional<std::string> NotARegularFile(const std::string& fileName);
// "Err:The firmware file is a FIFO, not a file!!"
std::string NotARegularFileLine(const std::string& kind);

// The bytes of the blocks the update reads, from the start of the file: the
// header, image 0's blocks and the selected image's blocks.
uint64_t ImageCopyLength(const ImageHeader& header, const ImageSelection& selection);

class ImageCopy {
public:
    enum class LoadResult { Loaded, CannotOpen, NotARegularFile, NoMemory };

    // Reads the header, then the file up to ImageCopyLength (or its end) in
    // one pass. A file shorter than that gives a shorter copy.
    LoadResult Load(const std::string& fileName, const ImageSelection& selection);

    // The first 64 bytes (00 where the file was shorter).
    ImageHeader Header() const;
    uint64_t Size() const { return m_bytes.size(); }
    // Up to `count` bytes from file offset `offset`; fewer at the end of the copy.
    size_t Read(uint64_t offset, uint8_t* to, size_t count) const;

private:
    std::vector<uint8_t> m_bytes;
};

}  // namespace keluflash

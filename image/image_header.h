#pragma once
// ImageHeader: the first 64 bytes of a .kfs file, little-endian fields.
#include <array>
#include <cstdint>

namespace keluflash {

inline constexpr size_t kHeaderSize = 64;
inline constexpr size_t kBlockBufferSize = 65536;
inline constexpr int kMaxBlocks = 14;             // length slots in the header
inline constexpr int kMaxBlocksPerImage = 8;      // multi-image files
inline constexpr int kImageChecksumSlots = 6;     // slots 8-13 in a multi-image file
inline constexpr uint8_t kLayoutMultiImage = 0x10;

struct ImageHeader {
    std::array<uint8_t, kHeaderSize> bytes{};

    uint8_t Layout() const { return bytes[24]; }
    bool IsMultiImage() const { return Layout() == kLayoutMultiImage; }
    uint8_t ScrambleFlag() const { return bytes[25]; }
    bool Scrambled() const { return ScrambleFlag() == 1; }  // validation, open, downloads
    uint16_t Checksum() const { return U16(32); }
    uint16_t BlockCount() const { return U16(34); }
    uint16_t BlockSize(int slot) const { return U16(36 + 2 * static_cast<size_t>(slot)); }  // slot 0-13
    uint16_t ImageChecksum(int image) const { return U16(52 + 2 * static_cast<size_t>(image)); }  // 0-5
    // Sum of length slots 0-7 in 16 bits: the distance between images.
    uint16_t StrideFromSlots() const {
        uint16_t stride = 0;
        for (int i = 0; i < kMaxBlocksPerImage; ++i) stride = static_cast<uint16_t>(stride + BlockSize(i));
        return stride;
    }

private:
    uint16_t U16(size_t offset) const {
        return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
    }
};

// What the open records about the chosen image.
struct ImageSelection {
    std::array<uint8_t, 2> FirmwareId{};
    int32_t ImageIndex = 0;
    uint16_t ImageStride = 0;
};

}  // namespace keluflash

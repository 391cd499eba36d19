#pragma once
// ImageHeader: the first 64 bytes of a .kfs file, little-endian fields.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace keluflash {

inline constexpr size_t kHeaderSize = 64;
inline constexpr size_t kBlockBufferSize = 65536;
inline constexpr int kMaxBlocks = 14;             // length slots in the header
inline constexpr int kMaxBlocksPerImage = 8;      // multi-image files
inline constexpr int kImageChecksumSlots = 6;     // slots 8-13 in a multi-image file
inline constexpr uint8_t kLayoutMultiImage = 0x10;
inline constexpr uint8_t kScrambleFlagScrambled = 1;
inline constexpr uint8_t kScrambleFlagPlain = 0;
inline constexpr std::string_view kImageMagic = "KELU FILE SYSTEM";  // 16 characters, byte 16 ends it

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
    // The most blocks the header can describe for its layout: the length slots
    // of one image (14, or 8 in a multi-image file).
    int MaxBlockCount() const { return IsMultiImage() ? kMaxBlocksPerImage : kMaxBlocks; }
    bool BlockCountInRange() const { return BlockCount() <= MaxBlockCount(); }
    // Bytes 0-16 read as a zero-terminated text equal "KELU FILE SYSTEM".
    bool MagicMatches() const {
        return std::string_view(reinterpret_cast<const char*>(bytes.data()), kImageMagic.size()) == kImageMagic &&
               bytes[kImageMagic.size()] == 0;
    }

    // Writers (the image writer and tests).
    void SetMagic() {
        for (size_t i = 0; i < kImageMagic.size(); ++i) bytes[i] = static_cast<uint8_t>(kImageMagic[i]);
        bytes[kImageMagic.size()] = 0;
    }
    void SetLayout(uint8_t layout) { bytes[24] = layout; }
    void SetScrambleFlag(uint8_t flag) { bytes[25] = flag; }
    void SetChecksum(uint16_t value) { SetU16(32, value); }
    void SetBlockCount(uint16_t value) { SetU16(34, value); }
    void SetBlockSize(int slot, uint16_t value) { SetU16(36 + 2 * static_cast<size_t>(slot), value); }
    void SetImageChecksum(int image, uint16_t value) { SetU16(52 + 2 * static_cast<size_t>(image), value); }

private:
    uint16_t U16(size_t offset) const {
        return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
    }
    void SetU16(size_t offset, uint16_t value) {
        bytes[offset] = static_cast<uint8_t>(value);
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
};

// What the open records about the chosen image. Every open starts from a
// cleared record, so nothing recorded for one file positions a download in
// another.
struct ImageSelection {
    std::array<uint8_t, 2> FirmwareId{};
    int32_t ImageIndex = 0;
    uint16_t ImageStride = 0;
    bool identified = false;  // the last open recorded an image (ImageIndex is meaningful)
};

// Where the selected image starts in the file: 64 + ImageIndex x ImageStride.
inline uint64_t ImageStartOffset(const ImageSelection& selection) {
    return kHeaderSize + static_cast<uint64_t>(selection.ImageIndex < 0 ? 0 : selection.ImageIndex) *
                             selection.ImageStride;
}

// The checksum the trigger carries: the selected image's slot in a
// multi-image file, the header's Checksum otherwise. The open never selects an
// image without a slot, so the index is below 6 there.
inline uint16_t TriggerChecksum(const ImageHeader& header, const ImageSelection& selection) {
    if (header.IsMultiImage() && selection.ImageIndex >= 0 && selection.ImageIndex < kImageChecksumSlots)
        return header.ImageChecksum(selection.ImageIndex);
    return header.Checksum();
}

}  // namespace keluflash

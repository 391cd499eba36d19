#pragma once
// Writing image files: from plain blocks to a .kfs file with its header and
// checksums, single- or multi-image, plain or scrambled; and a realistic
// demo firmware for a given drive identity.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/image_header.h"

namespace keluflash {

using PlainBlock = std::vector<uint8_t>;
using PlainImage = std::vector<PlainBlock>;

inline constexpr size_t kMaxBlockLength = 65535;
inline constexpr uint8_t kPlainFirstByte = 0x02;  // what every descrambled block starts with

struct ImageWriteOptions {
    // Scramble every block (ScrambleFlag 1). Each block's first plain byte
    // must be 02, the byte descrambling always yields.
    bool scramble = false;
    // Key of the first block; block n of the file is scrambled with this key
    // + 29n, so neighbouring blocks differ.
    uint8_t scrambleKey = 0x5C;
    // Append 00 bytes after the last block so that every image's 65,536-byte
    // window can be read in full, as the open needs to identify it. The
    // validation ignores bytes after the last block.
    bool padWindows = true;
    // Multi-image files: make image 0 sum to the image count (see
    // BuildMultiImageFile) by changing bytes at the end of its last block.
    bool balanceImage0 = false;
};

struct ImageWriteResult {
    bool ok = false;
    std::string error;                // why the file could not be built
    std::vector<std::string> notes;   // built, but worth knowing
    ImageHeader header;
    std::vector<uint8_t> bytes;       // the whole file
};

// A single-image file of up to 14 blocks, each 1 to 65,535 bytes.
ImageWriteResult BuildSingleImageFile(const PlainImage& blocks, const ImageWriteOptions& options = {});

// A multi-image file: every image has the same block lengths (the header holds
// one set), at most 8 blocks, adding up to at most 65,535 bytes (the distance
// between images is their 16-bit sum). ImageChecksums slots 0-5 get the sums
// of images 0-5; images 6 and above have no slot and the open does not select
// them (a note says so).
//
// The header's Checksum has two jobs in such a file: the open takes it as the
// number of images and the validation compares it with the sum of image 0.
// The writer stores the image count. When image 0 does not sum to that count
// it refuses, unless `balanceImage0` allows it to change bytes at the end of
// image 0's last block (after any identification block there) until it does;
// it refuses too when those bytes cannot absorb the difference. `images` is
// taken by value because balancing changes image 0.
ImageWriteResult BuildMultiImageFile(std::vector<PlainImage> images, const ImageWriteOptions& options = {});

// Writes `bytes` to a file; false with a reason in `error`.
bool SaveImageFile(const std::string& fileName, const std::vector<uint8_t>& bytes, std::string& error);

// A demo firmware: pseudo-random blocks (block 0 starts with 02) with an
// identification block in block 0 carrying the drive identity.
struct DemoFirmwareRecipe {
    std::string vendor = "KELU";      // padded with spaces to 8
    std::string product = "ZXR-0131K";  // padded to 16
    std::string revision = "1.00";    // padded to 4
    std::array<uint8_t, 2> firmwareId{0x4B, 0x31};
    // Empty: 8 blocks sized as the block writes send them (0xF000 for blocks
    // 1 and 2, 0xFFFE for the others) for a single image, 8 x 0x1000 for the
    // images of a multi-image file.
    std::vector<uint16_t> blockSizes;
    size_t identificationOffset = 0x200;  // in block 0; 64 or more, whole block inside block 0
    uint8_t additionalLength = 0x5B;      // INQUIRY byte 4: 1F or 5B
    uint64_t seed = 1;                    // the data; same seed, same bytes
};

// The plain blocks of one demo image; empty when the identification block
// does not fit (offset below 64 or past block 0).
PlainImage BuildDemoImageBlocks(const DemoFirmwareRecipe& recipe);
// The identification block bytes (40) for an identity.
std::array<uint8_t, 40> BuildIdentificationBlock(const DemoFirmwareRecipe& recipe);
ImageWriteResult BuildDemoFirmware(const DemoFirmwareRecipe& recipe, const ImageWriteOptions& options = {});
// One image per recipe (all with the same block sizes); image 0 is balanced.
ImageWriteResult BuildDemoMultiFirmware(const std::vector<DemoFirmwareRecipe>& recipes, ImageWriteOptions options = {});

}  // namespace keluflash

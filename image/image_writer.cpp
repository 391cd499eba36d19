#include "image/image_writer.h"

#include <algorithm>
#include <fstream>

#include "image/descramble.h"
#include "image/image_file.h"

namespace keluflash {
namespace {

constexpr uint8_t kKeyStepPerBlock = 29;
const std::vector<uint16_t> kDemoSingleBlockSizes{0xFFFE, 0xF000, 0xF000, 0xFFFE, 0xFFFE, 0xFFFE, 0xFFFE, 0xFFFE};
const std::vector<uint16_t> kDemoMultiBlockSizes(kMaxBlocksPerImage, 0x1000);

std::string Hex(unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 0xF];
    return "0x" + text;
}

std::string BlockName(size_t image, size_t block, bool multi) {
    return multi ? "image " + std::to_string(image) + " block " + std::to_string(block)
                 : "block " + std::to_string(block);
}

// Empty when every block can be stored; otherwise why not.
std::string CheckBlocks(const PlainImage& blocks, size_t image, bool multi, bool scramble) {
    for (size_t i = 0; i < blocks.size(); ++i) {
        const PlainBlock& block = blocks[i];
        if (block.empty() || block.size() > kMaxBlockLength)
            return BlockName(image, i, multi) + " is " + std::to_string(block.size()) +
                   " bytes; a block holds 1 to 65535 bytes";
        if (scramble && block[0] != kPlainFirstByte)
            return BlockName(image, i, multi) + " starts with " + Hex(block[0], 2) +
                   "; a scrambled block must start with 0x02, which descrambling always yields";
    }
    return {};
}

uint16_t ImageSum(const PlainImage& blocks) {
    uint16_t sum = 0;
    for (const PlainBlock& block : blocks) sum = AddToChecksum(sum, block.data(), block.size());
    return sum;
}

void AppendBlock(std::vector<uint8_t>& file, const PlainBlock& block, bool scramble, uint8_t key) {
    if (!scramble) {
        file.insert(file.end(), block.begin(), block.end());
        return;
    }
    // The run works on whole groups of 8; only the block's own bytes are stored.
    std::vector<uint8_t> scrambled(block);
    scrambled.resize((block.size() + 7) / 8 * 8);
    ScrambleRun(scrambled.data(), static_cast<uint32_t>(block.size()), key);
    file.insert(file.end(), scrambled.begin(), scrambled.begin() + static_cast<std::ptrdiff_t>(block.size()));
}

void PadWindow(std::vector<uint8_t>& file, uint64_t lastImageStart) {
    const uint64_t needed = lastImageStart + kBlockBufferSize;
    if (file.size() < needed) file.resize(static_cast<size_t>(needed), 0);
}

// Changes bytes at the end of `block` (never byte 0, nor an identification
// block or anything before it) so the image sum moves from `sum` to `target`.
bool Balance(PlainBlock& block, uint16_t sum, uint16_t target) {
    size_t first = 1;
    if (const auto p = FindIdentificationBlock(block.data(), block.size())) first = *p + kIdentificationSize;
    uint64_t roomUp = 0, roomDown = 0;
    for (size_t i = first; i < block.size(); ++i) {
        roomUp += 255u - block[i];
        roomDown += block[i];
    }
    const uint32_t up = static_cast<uint16_t>(target - sum);
    const uint32_t down = (65536u - up) % 65536u;
    const bool raise = up <= down ? up <= roomUp : down > roomDown;
    if (raise ? up > roomUp : down > roomDown) return false;
    uint32_t remaining = raise ? up : down;
    for (size_t i = block.size(); i-- > first && remaining > 0;) {
        const uint32_t room = raise ? 255u - block[i] : block[i];
        const uint32_t step = std::min(room, remaining);
        block[i] = static_cast<uint8_t>(raise ? block[i] + step : block[i] - step);
        remaining -= step;
    }
    return true;
}

ImageWriteResult Refuse(std::string error) {
    ImageWriteResult result;
    result.error = std::move(error);
    return result;
}

uint64_t NextRandom(uint64_t& state) {  // splitmix64: the same bytes on every platform
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void PutPadded(uint8_t* out, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) out[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

}  // namespace

ImageWriteResult BuildSingleImageFile(const PlainImage& blocks, const ImageWriteOptions& options) {
    if (blocks.size() > static_cast<size_t>(kMaxBlocks))
        return Refuse("a single-image file holds at most 14 blocks, not " + std::to_string(blocks.size()));
    if (std::string error = CheckBlocks(blocks, 0, false, options.scramble); !error.empty()) return Refuse(error);

    ImageWriteResult result;
    ImageHeader& header = result.header;
    header.SetMagic();
    header.SetScrambleFlag(options.scramble ? kScrambleFlagScrambled : kScrambleFlagPlain);
    header.SetBlockCount(static_cast<uint16_t>(blocks.size()));
    for (size_t i = 0; i < blocks.size(); ++i)
        header.SetBlockSize(static_cast<int>(i), static_cast<uint16_t>(blocks[i].size()));
    header.SetChecksum(ImageSum(blocks));

    result.bytes.assign(header.bytes.begin(), header.bytes.end());
    for (size_t i = 0; i < blocks.size(); ++i)
        AppendBlock(result.bytes, blocks[i], options.scramble,
                    static_cast<uint8_t>(options.scrambleKey + kKeyStepPerBlock * i));
    if (options.padWindows) PadWindow(result.bytes, kHeaderSize);
    result.ok = true;
    return result;
}

ImageWriteResult BuildMultiImageFile(std::vector<PlainImage> images, const ImageWriteOptions& options) {
    if (images.empty()) return Refuse("a multi-image file needs at least one image");
    if (images.size() > 65535)
        return Refuse("a multi-image file holds at most 65535 images, not " + std::to_string(images.size()));
    const PlainImage& first = images[0];
    if (first.size() > static_cast<size_t>(kMaxBlocksPerImage))
        return Refuse("an image of a multi-image file holds at most 8 blocks, not " + std::to_string(first.size()));
    size_t imageLength = 0;
    for (const PlainBlock& block : first) imageLength += block.size();
    for (size_t k = 0; k < images.size(); ++k) {
        if (images[k].size() != first.size())
            return Refuse("image " + std::to_string(k) + " has " + std::to_string(images[k].size()) +
                          " blocks, image 0 has " + std::to_string(first.size()) +
                          "; the images of one file share one block list");
        if (std::string error = CheckBlocks(images[k], k, true, options.scramble); !error.empty())
            return Refuse(error);
        for (size_t i = 0; i < first.size(); ++i)
            if (images[k][i].size() != first[i].size())
                return Refuse("image " + std::to_string(k) + " block " + std::to_string(i) + " is " +
                              std::to_string(images[k][i].size()) + " bytes, image 0's is " +
                              std::to_string(first[i].size()) + "; the images of one file share their block lengths");
    }
    if (imageLength > kMaxBlockLength)
        return Refuse("the blocks of an image add up to " + std::to_string(imageLength) +
                      " bytes; the distance between images is 16 bits wide, at most 65535");

    const auto count = static_cast<uint16_t>(images.size());
    ImageWriteResult result;
    uint16_t sum0 = ImageSum(images[0]);
    if (sum0 != count) {
        if (!options.balanceImage0)
            return Refuse("image 0 sums to " + Hex(sum0, 4) + " but the file holds " + std::to_string(count) +
                          " images; the header's Checksum must be both (image 0's sum for the validation, the "
                          "image count for the open)");
        if (images[0].empty() || !Balance(images[0].back(), sum0, count))
            return Refuse("image 0 cannot be balanced to sum to the image count " + std::to_string(count) +
                          ": its last block has too few bytes to change");
        result.notes.push_back("the last block of image 0 was changed so that image 0 sums to the image count");
        sum0 = count;
    }
    if (images.size() > static_cast<size_t>(kImageChecksumSlots))
        result.notes.push_back("images 6 to " + std::to_string(images.size() - 1) +
                               " have no checksum slot; the open does not select them");

    ImageHeader& header = result.header;
    header.SetMagic();
    header.SetLayout(kLayoutMultiImage);
    header.SetScrambleFlag(options.scramble ? kScrambleFlagScrambled : kScrambleFlagPlain);
    header.SetBlockCount(static_cast<uint16_t>(first.size()));
    for (size_t i = 0; i < first.size(); ++i)
        header.SetBlockSize(static_cast<int>(i), static_cast<uint16_t>(first[i].size()));
    header.SetChecksum(count);
    for (size_t k = 0; k < images.size() && k < static_cast<size_t>(kImageChecksumSlots); ++k)
        header.SetImageChecksum(static_cast<int>(k), ImageSum(images[k]));

    result.bytes.assign(header.bytes.begin(), header.bytes.end());
    size_t blockNumber = 0;
    for (const PlainImage& image : images)
        for (const PlainBlock& block : image)
            AppendBlock(result.bytes, block, options.scramble,
                        static_cast<uint8_t>(options.scrambleKey + kKeyStepPerBlock * blockNumber++));
    if (options.padWindows) PadWindow(result.bytes, kHeaderSize + (images.size() - 1) * imageLength);
    result.ok = true;
    return result;
}

bool SaveImageFile(const std::string& fileName, const std::vector<uint8_t>& bytes, std::string& error) {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot create " + fileName;
        return false;
    }
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = "cannot write " + fileName;
        return false;
    }
    return true;
}

std::array<uint8_t, 40> BuildIdentificationBlock(const DemoFirmwareRecipe& recipe) {
    std::array<uint8_t, kIdentificationSize> block{};
    block[0] = 0x05;  // CD/DVD device
    block[1] = 0x80;  // removable medium
    block[2] = 0x00;
    block[3] = 0x32;
    block[4] = recipe.additionalLength;
    PutPadded(block.data() + 8, recipe.vendor, 8);
    PutPadded(block.data() + 16, recipe.product, 16);
    PutPadded(block.data() + 32, recipe.revision, 4);
    block[kFirmwareIdOffset] = recipe.firmwareId[0];
    block[kFirmwareIdOffset + 1] = recipe.firmwareId[1];
    return block;
}

PlainImage BuildDemoImageBlocks(const DemoFirmwareRecipe& recipe) {
    const std::vector<uint16_t>& sizes = recipe.blockSizes.empty() ? kDemoSingleBlockSizes : recipe.blockSizes;
    if (sizes.empty() || sizes[0] == 0 || recipe.identificationOffset < kIdentificationMinOffset ||
        recipe.identificationOffset + kIdentificationSize > sizes[0])
        return {};
    uint64_t state = recipe.seed;
    PlainImage blocks;
    for (const uint16_t size : sizes) {
        PlainBlock block(size);
        for (size_t i = 0; i < block.size(); i += 8) {
            const uint64_t value = NextRandom(state);
            for (size_t j = 0; j < 8 && i + j < block.size(); ++j) block[i + j] = static_cast<uint8_t>(value >> (8 * j));
        }
        if (!block.empty()) block[0] = kPlainFirstByte;  // so the block can be scrambled
        blocks.push_back(std::move(block));
    }
    PlainBlock& block0 = blocks[0];
    const auto identification = BuildIdentificationBlock(recipe);
    std::copy(identification.begin(), identification.end(), block0.begin() + static_cast<std::ptrdiff_t>(recipe.identificationOffset));
    // The first match counts: break any accidental pattern in front of ours.
    while (const auto p = FindIdentificationBlock(block0.data(), block0.size())) {
        if (*p >= recipe.identificationOffset) break;
        block0[*p] ^= 0x01;
    }
    return blocks;
}

ImageWriteResult BuildDemoFirmware(const DemoFirmwareRecipe& recipe, const ImageWriteOptions& options) {
    PlainImage blocks = BuildDemoImageBlocks(recipe);
    if (blocks.empty()) return Refuse("the identification block does not fit in block 0 at 64 or more");
    return BuildSingleImageFile(blocks, options);
}

ImageWriteResult BuildDemoMultiFirmware(const std::vector<DemoFirmwareRecipe>& recipes, ImageWriteOptions options) {
    std::vector<PlainImage> images;
    for (DemoFirmwareRecipe recipe : recipes) {
        if (recipe.blockSizes.empty()) recipe.blockSizes = kDemoMultiBlockSizes;
        images.push_back(BuildDemoImageBlocks(recipe));
        if (images.back().empty()) return Refuse("the identification block does not fit in block 0 at 64 or more");
    }
    options.balanceImage0 = true;
    return BuildMultiImageFile(std::move(images), options);
}

}  // namespace keluflash

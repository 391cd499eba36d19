#include "image/image_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/descramble.h"
#include "image/image_blocks.h"
#include "image/image_file.h"
#include "tests/support/loaded_copy.h"
#include "tests/support/recording_report.h"
#include "tests/support/temp_dir.h"

namespace keluflash {
namespace {

using test::RecordingReport;
using test::TempDir;

PlainBlock Block(size_t size, uint8_t first = 0x02, uint8_t fill = 0x41) {
    PlainBlock block(size, fill);
    if (size > 0) block[0] = first;
    return block;
}

// Plain blocks as the validation reads them back from the file.
std::vector<PlainBlock> ReadBack(const std::string& fileName, const ImageHeader& header, uint64_t start) {
    const ImageCopy copy = test::LoadedCopy(fileName);
    ImageBlocks walk(copy, header, start);
    auto buffer = BlockBuffer::Allocate();
    std::vector<PlainBlock> blocks;
    for (int i = 0; i < header.BlockCount(); ++i) {
        if (!walk.ReadBlock(i, *buffer)) break;
        blocks.emplace_back(buffer->Data(), buffer->Data() + header.BlockSize(i));
    }
    return blocks;
}

TEST(ImageWriter, SingleImageRoundTrips) {
    const PlainImage blocks{Block(65535, 0x02, 0x99), Block(1), Block(4097, 0x02, 0x00)};
    for (const bool scramble : {false, true}) {
        ImageWriteOptions options;
        options.scramble = scramble;
        const auto image = BuildSingleImageFile(blocks, options);
        ASSERT_TRUE(image.ok) << image.error;
        EXPECT_EQ(image.header.BlockCount(), 3);
        EXPECT_EQ(image.header.ScrambleFlag(), scramble ? 1 : 0);
        EXPECT_EQ(image.header.Layout(), 0);
        TempDir folder;
        const std::string name = folder.Write("fw.kfs", image.bytes);
        RecordingReport report;
        ImageHeader header;
        EXPECT_TRUE(ValidateImageFile(test::LoadedCopy(name), header, report)) << report.messages.size();
        EXPECT_EQ(ReadBack(name, header, 64), blocks);
        if (scramble) {
            EXPECT_NE(image.bytes[64 + 1], 0x99) << "the stored bytes are scrambled";
        }
    }
}

TEST(ImageWriter, PadsSoTheOpenCanReadTheWindow) {
    const auto padded = BuildSingleImageFile({Block(100)});
    ASSERT_TRUE(padded.ok);
    EXPECT_EQ(padded.bytes.size(), 64u + 65536u);
    ImageWriteOptions options;
    options.padWindows = false;
    EXPECT_EQ(BuildSingleImageFile({Block(100)}, options).bytes.size(), 164u);
}

TEST(ImageWriter, Refusals) {
    ImageWriteOptions scramble;
    scramble.scramble = true;
    struct Case {
        std::string name;
        ImageWriteResult result;
        std::string errorPart;
    };
    const std::vector<Case> cases{
        {"15 blocks", BuildSingleImageFile(PlainImage(15, Block(8))), "at most 14 blocks"},
        {"empty block", BuildSingleImageFile({Block(8), Block(0)}), "block 1 is 0 bytes"},
        {"65,536 bytes", BuildSingleImageFile({Block(65536)}), "block 0 is 65536 bytes"},
        {"scrambled block not starting with 02", BuildSingleImageFile({Block(8), Block(8, 0x03)}, scramble),
         "block 1 starts with 0x03"},
        {"9 blocks per image", BuildMultiImageFile({PlainImage(9, Block(8))}), "at most 8 blocks"},
        {"images of different lengths", BuildMultiImageFile({{Block(8)}, {Block(9)}}), "share their block lengths"},
        {"images of different counts", BuildMultiImageFile({{Block(8)}, {Block(8), Block(8)}}), "share one block list"},
        {"image longer than 65,535", BuildMultiImageFile({{Block(40000), Block(30000)}}), "16 bits wide"},
        {"image 0 does not sum to the count", BuildMultiImageFile({{Block(8)}, {Block(8)}}),
         "image 0 sums to 0x01c9 but the file holds 2 images"},
        {"no image", BuildMultiImageFile({}), "at least one image"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.result.ok) << c.name;
        EXPECT_NE(c.result.error.find(c.errorPart), std::string::npos) << c.name << ": " << c.result.error;
        EXPECT_TRUE(c.result.bytes.empty()) << c.name;
    }
}

TEST(ImageWriter, MultiImageChecksumHoldsTheCountAndImageZerosSum) {
    // Image 0 sums to 3 (02 01 00 ...), the file holds 3 images.
    PlainBlock first(16, 0);
    first[0] = 0x02;
    first[1] = 0x01;
    const std::vector<PlainImage> images{{first}, {Block(16, 0x02, 0x10)}, {Block(16, 0x02, 0x20)}};
    ImageWriteOptions options;
    options.scramble = true;
    const auto image = BuildMultiImageFile(images, options);
    ASSERT_TRUE(image.ok) << image.error;
    EXPECT_EQ(image.header.Checksum(), 3);
    EXPECT_EQ(image.header.ImageChecksum(0), 3);
    EXPECT_EQ(image.header.ImageChecksum(1), 2 + 15 * 0x10);
    EXPECT_EQ(image.header.ImageChecksum(2), 2 + 15 * 0x20);
    EXPECT_EQ(image.header.StrideFromSlots(), 16);
    EXPECT_EQ(image.bytes.size(), 64u + 2 * 16 + 65536) << "padded to image 2's window";
    TempDir folder;
    const std::string name = folder.Write("multi.kfs", image.bytes);
    RecordingReport report;
    ImageHeader header;
    EXPECT_TRUE(ValidateImageFile(test::LoadedCopy(name), header, report));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(ReadBack(name, header, 64 + 16u * k), images[k]) << k;
}

TEST(ImageWriter, BalancingKeepsTheIdentificationAndFirstByte) {
    ImageWriteOptions options;
    options.balanceImage0 = true;
    options.scramble = true;
    std::vector<PlainImage> images{{Block(64, 0x02, 0x00), Block(600, 0x02, 0x80)}, {Block(64), Block(600)}};
    const auto image = BuildMultiImageFile(images, options);
    ASSERT_TRUE(image.ok) << image.error;
    EXPECT_EQ(image.notes.size(), 1u);
    TempDir folder;
    const std::string name = folder.Write("multi.kfs", image.bytes);
    RecordingReport report;
    ImageHeader header;
    EXPECT_TRUE(ValidateImageFile(test::LoadedCopy(name), header, report));
    const auto back = ReadBack(name, header, 64);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0], images[0][0]) << "only the last block changes";
    EXPECT_EQ(back[1][0], 0x02);

    // No room: a one-byte block (its 02 stays) cannot sum to 3.
    const auto tight = BuildMultiImageFile({{PlainBlock{0x02}}, {PlainBlock{0x02}}, {PlainBlock{0x02}}}, options);
    EXPECT_FALSE(tight.ok);
    EXPECT_NE(tight.error.find("cannot be balanced"), std::string::npos) << tight.error;
}

TEST(ImageWriter, DemoFirmwareValidatesAndCarriesItsIdentity) {
    DemoFirmwareRecipe recipe;
    recipe.product = "ZXR-0160K";
    recipe.firmwareId = {0x57, 0x30};
    recipe.identificationOffset = 64;
    const auto image = BuildDemoFirmware(recipe);
    ASSERT_TRUE(image.ok) << image.error;
    EXPECT_EQ(image.header.BlockCount(), 8);
    EXPECT_EQ(image.header.BlockSize(0), 0xFFFE);
    EXPECT_EQ(image.header.BlockSize(1), 0xF000);
    EXPECT_EQ(image.header.BlockSize(2), 0xF000);
    TempDir folder;
    const std::string name = folder.Write("demo.kfs", image.bytes);
    RecordingReport report;
    ImageHeader header;
    EXPECT_TRUE(ValidateImageFile(test::LoadedCopy(name), header, report));
    ImageSelection selection;
    std::string edit1;
    OpenImageFile(test::LoadedCopy(name), header, selection, edit1, {}, report);
    EXPECT_EQ(edit1, "KELU    ZXR-0160K       1.00");
    EXPECT_EQ(selection.FirmwareId, recipe.firmwareId);
    EXPECT_TRUE(report.messages.empty());
    // Same seed, same bytes; another seed, other bytes.
    EXPECT_EQ(BuildDemoFirmware(recipe).bytes, image.bytes);
    recipe.seed = 2;
    EXPECT_NE(BuildDemoFirmware(recipe).bytes, image.bytes);

    recipe.identificationOffset = 63;
    EXPECT_FALSE(BuildDemoFirmware(recipe).ok);
    recipe.identificationOffset = 0xFFFE - 39;
    EXPECT_FALSE(BuildDemoFirmware(recipe).ok);
}

}  // namespace
}  // namespace keluflash

#include "image/image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/descramble.h"
#include "image/image_file_reader.h"
#include "image/image_writer.h"
#include "tests/support/loaded_copy.h"
#include "tests/support/recording_report.h"
#include "tests/support/temp_dir.h"

namespace keluflash {
namespace {

using test::RecordingReport;
using test::TempDir;

std::vector<uint8_t> SmallValidFile(bool scramble = false) {
    ImageWriteOptions options;
    options.scramble = scramble;
    options.padWindows = false;
    const auto result = BuildSingleImageFile({{0x02, 0x10, 0x20, 0x30, 0x40}, {0x02, 0xAA, 0xBB}}, options);
    EXPECT_TRUE(result.ok) << result.error;
    return result.bytes;
}

void PutU16(std::vector<uint8_t>& file, size_t offset, uint16_t value) {
    file[offset] = static_cast<uint8_t>(value);
    file[offset + 1] = static_cast<uint8_t>(value >> 8);
}

struct ValidationCase {
    std::string name;
    std::vector<uint8_t> file;
    bool valid;
    std::vector<std::string> lines;
};

std::vector<ValidationCase> ValidationCases() {
    std::vector<ValidationCase> cases;
    const std::vector<uint8_t> good = SmallValidFile();
    cases.push_back({"plain", good, true, {}});
    cases.push_back({"scrambled", SmallValidFile(true), true, {}});
    auto trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3, 4});
    cases.push_back({"bytes after the last block are ignored", trailing, true, {}});

    auto lowerCase = good;
    std::copy_n("kelu", 4, lowerCase.begin());
    cases.push_back({"magic in lower case", lowerCase, false, {kMessageNotKeluFileSystem}});
    auto space16 = good;
    space16[16] = 0x20;
    cases.push_back({"byte 16 is a space", space16, false, {kMessageNotKeluFileSystem}});
    auto wrongMagic = good;
    wrongMagic[15] = 'N';
    cases.push_back({"magic differs in its last letter", wrongMagic, false, {kMessageNotKeluFileSystem}});
    cases.push_back({"63 bytes of a good header", std::vector<uint8_t>(good.begin(), good.begin() + 63), false,
                     {kMessageNotKeluFileSystem}});
    cases.push_back({"empty file", {}, false, {kMessageNotKeluFileSystem}});

    auto noBlocks = good;
    noBlocks.resize(64);
    PutU16(noBlocks, 34, 0);
    PutU16(noBlocks, 32, 0);
    cases.push_back({"no blocks and checksum 0", noBlocks, true, {}});
    PutU16(noBlocks, 32, 1);
    cases.push_back({"no blocks and checksum 1", noBlocks, false, {kMessageFileChecksumError}});

    auto zeroLength = good;
    PutU16(zeroLength, 38, 0);
    // A block that cannot be read in full is named, with its sizes.
    cases.push_back({"block length 0", zeroLength, false, {"Err:Block 1 of the firmware file has length 0!!"}});
    cases.push_back({"last block cut short", std::vector<uint8_t>(good.begin(), good.end() - 1), false,
                     {"Err:Block 1 of the firmware file is short: 2 of 3 bytes!!"}});
    auto badSum = good;
    badSum[64 + 1] ^= 0x01;
    cases.push_back({"one data bit flipped", badSum, false, {kMessageFileChecksumError}});

    auto fifteen = good;
    PutU16(fifteen, 34, 15);
    cases.push_back({"15 blocks", fifteen, false, {kMessageBlockCountError}});
    auto multiNine = good;
    multiNine[24] = kLayoutMultiImage;
    PutU16(multiNine, 34, 9);
    cases.push_back({"9 blocks in a multi-image file", multiNine, false, {kMessageBlockCountError}});
    return cases;
}

TEST(ValidateImageFile, Cases) {
    TempDir folder;
    for (const ValidationCase& c : ValidationCases()) {
        RecordingReport report;
        ImageHeader header;
        const bool valid = ValidateImageFile(test::LoadedCopy(folder.Write("case.kfs", c.file)), header, report);
        EXPECT_EQ(valid, c.valid) << c.name;
        EXPECT_EQ(report.messages, c.lines) << c.name;
        const size_t supplied = std::min(c.file.size(), kHeaderSize);
        EXPECT_TRUE(std::equal(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(supplied),
                               header.bytes.begin()))
            << c.name << ": the header holds the file's first bytes";
    }
}

TEST(ValidateImageFile, ShortFileNeverLendsBytesFromTheEarlierHeader) {
    TempDir folder;
    RecordingReport report;
    ImageHeader header;
    ASSERT_TRUE(ValidateImageFile(test::LoadedCopy(folder.Write("good.kfs", SmallValidFile())), header, report));
    // The first 16 bytes of the magic: with the old header's byte 16 = 00
    // behind them they would pass.
    const std::vector<uint8_t> good = SmallValidFile();
    const std::vector<uint8_t> stub(good.begin(), good.begin() + 16);
    EXPECT_FALSE(ValidateImageFile(test::LoadedCopy(folder.Write("stub.kfs", stub)), header, report));
    EXPECT_EQ(report.messages, std::vector<std::string>{kMessageNotKeluFileSystem});
    EXPECT_TRUE(std::all_of(header.bytes.begin() + 16, header.bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ValidateImageFile, MissingFileKeepsTheHeader) {
    TempDir folder;
    RecordingReport report;
    ImageHeader header;
    header.bytes[0] = 0xAB;
    EXPECT_FALSE(ValidateImageFile(test::LoadedCopy(folder.File("absent.kfs")), header, report));
    EXPECT_EQ(report.messages, std::vector<std::string>{kMessageOpenFirmwareFileError});
    EXPECT_EQ(header.bytes[0], 0xAB);
}

TEST(ValidateImageFile, LongestScrambledBlockCountsOnlyItsOwnBytes) {
    // 65,535 bytes: descrambled as 8,192 whole groups; the 65,536th byte of the
    // buffer changes but is not summed. The first byte counts as 2.
    PlainBlock block(65535);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    block[0] = 0x02;
    ImageWriteOptions options;
    options.scramble = true;
    const auto image = BuildSingleImageFile({block}, options);
    ASSERT_TRUE(image.ok) << image.error;
    EXPECT_EQ(image.header.Checksum(), AddToChecksum(0, block.data(), block.size()));
    TempDir folder;
    RecordingReport report;
    ImageHeader header;
    EXPECT_TRUE(ValidateImageFile(test::LoadedCopy(folder.Write("long.kfs", image.bytes)), header, report));
    EXPECT_TRUE(report.messages.empty());
}

TEST(ImageHeader, StrideSumsAllEightSlotsInSixteenBits) {
    ImageHeader header;
    header.SetLayout(kLayoutMultiImage);
    header.SetBlockCount(2);  // the count plays no part
    for (int slot = 0; slot < 8; ++slot) header.SetBlockSize(slot, 0x1000);
    header.SetBlockSize(8, 0x7777);  // the first checksum slot is not a length
    EXPECT_EQ(header.StrideFromSlots(), 0x8000);
    header.SetBlockSize(0, 0xFFFF);
    header.SetBlockSize(1, 0x0002);
    EXPECT_EQ(header.StrideFromSlots(), static_cast<uint16_t>(0xFFFF + 0x0002 + 6 * 0x1000));
}

// A drive gets the block buffer as one 64 KiB transfer: it starts on a page
// (16 pages, not 17) and stays there when the buffer is moved.
TEST(BlockBuffer, StartsOnAPageAndHoldsSixtyFourKiB) {
    std::optional<BlockBuffer> buffer = BlockBuffer::Allocate();
    ASSERT_TRUE(buffer);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer->Data()) % 4096, 0u);
    std::fill_n(buffer->Data(), BlockBuffer::Size(), uint8_t{0x5A});
    const BlockBuffer moved = std::move(*buffer);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(moved.Data()) % 4096, 0u);
    EXPECT_EQ(moved.Data()[0], 0x5A);
    EXPECT_EQ(moved.Data()[BlockBuffer::Size() - 1], 0x5A);
}

// ---- The open ----

TEST(HasKfsExtension, TextAfterTheLastDot) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"fw.kfs", true},          {"FW.KFS", true},          {"/tmp/fw.Kfs", true},
        {"fw.kfs.bak", false},     {"fw", false},             {"C:\\fw.kfs\\image", false},
        {"fw.kf", false},          {"fw.kfsx", false},        {"fw.", false},
        {".kfs", true},            {"dir.kfs/fw", false}};
    for (const auto& [name, expected] : cases) EXPECT_EQ(HasKfsExtension(name), expected) << name;
}

std::vector<uint8_t> WindowWithIdentificationAt(size_t p, uint8_t additionalLength = 0x5B) {
    std::vector<uint8_t> window(kBlockBufferSize, 0xEE);
    DemoFirmwareRecipe recipe;
    recipe.additionalLength = additionalLength;
    const auto block = BuildIdentificationBlock(recipe);
    std::copy_n(block.begin(), std::min(block.size(), window.size() - p), window.begin() + static_cast<std::ptrdiff_t>(p));
    return window;
}

TEST(FindIdentificationBlock, OnlyWholeBlocksAtSixtyFourOrMore) {
    const std::vector<std::pair<size_t, bool>> cases{
        {0, false}, {63, false}, {64, true}, {65496, true}, {65497, false}, {65531, false}, {65535, false}};
    for (const auto& [p, found] : cases) {
        const auto window = WindowWithIdentificationAt(p);
        const auto at = FindIdentificationBlock(window.data(), window.size());
        EXPECT_EQ(at.has_value(), found) << p;
        if (found) {
            EXPECT_EQ(*at, p);
        }
    }
}

TEST(FindIdentificationBlock, AdditionalLengthOneOfTwo) {
    for (const auto& [length, found] : std::vector<std::pair<uint8_t, bool>>{{0x1F, true}, {0x5B, true}, {0x24, false}}) {
        const auto window = WindowWithIdentificationAt(100, length);
        EXPECT_EQ(FindIdentificationBlock(window.data(), window.size()).has_value(), found) << int{length};
    }
}

TEST(FindIdentificationBlock, LowestMatchWins) {
    auto window = WindowWithIdentificationAt(3000);
    DemoFirmwareRecipe other;
    other.product = "OTHER";
    const auto block = BuildIdentificationBlock(other);
    std::copy(block.begin(), block.end(), window.begin() + 200);
    EXPECT_EQ(FindIdentificationBlock(window.data(), window.size()), 200u);
}

TEST(ModelTextOf, EndsAtZeroOrAfterTwentyEightCharacters) {
    std::array<uint8_t, 40> block{};
    std::fill(block.begin() + 8, block.begin() + 38, 'A');
    EXPECT_EQ(ModelTextOf(block.data()), std::string(28, 'A'));
    block[8 + 20] = 0;
    EXPECT_EQ(ModelTextOf(block.data()), std::string(20, 'A'));
}

// An open with a drive check that answers from a list and records the ids it saw.
struct OpenRun {
    ImageHeader header;
    ImageSelection selection;
    std::string edit1;
    RecordingReport report;
    std::vector<std::array<uint8_t, 2>> checked;
    std::vector<bool> answers;  // per call; true when the list runs out

    void Open(const std::string& fileName) {
        OpenImageFile(test::LoadedCopy(fileName), header, selection, edit1,
                      [this](const std::array<uint8_t, 2>& id) {
                          const bool pass = checked.size() < answers.size() ? answers[checked.size()] : true;
                          checked.push_back(id);
                          if (!pass) report.AddMessage("Err:The firmware is not support this device!!(4)");
                          return pass;
                      },
                      report);
    }
};

DemoFirmwareRecipe Identity(int n) {
    DemoFirmwareRecipe recipe;
    recipe.product = "ZXR-01" + std::to_string(10 + n) + "K";
    recipe.firmwareId = {static_cast<uint8_t>('A' + n), static_cast<uint8_t>('0' + n)};
    recipe.seed = static_cast<uint64_t>(n) + 1;
    return recipe;
}

std::string ModelOf(const DemoFirmwareRecipe& recipe) {
    const auto block = BuildIdentificationBlock(recipe);
    return ModelTextOf(block.data());
}

TEST(OpenImageFile, SingleImageIsIdentified) {
    for (const bool scramble : {false, true}) {
        ImageWriteOptions options;
        options.scramble = scramble;
        const auto image = BuildDemoFirmware(Identity(1), options);
        ASSERT_TRUE(image.ok) << image.error;
        TempDir folder;
        OpenRun run;
        run.selection.ImageIndex = 5;
        run.Open(folder.Write("fw.KFS", image.bytes));
        EXPECT_TRUE(run.selection.identified);
        EXPECT_EQ(run.selection.ImageIndex, 0);
        EXPECT_EQ(run.selection.FirmwareId, Identity(1).firmwareId);
        EXPECT_EQ(run.edit1, "KELU    ZXR-0111K       1.00");
        EXPECT_EQ(run.header.bytes, image.header.bytes);
        EXPECT_TRUE(run.checked.empty()) << "a single image is not checked against the drive by the open";
        EXPECT_TRUE(run.report.messages.empty());
    }
}

TEST(OpenImageFile, NothingRecordedLeavesACleanSelection) {
    const auto image = BuildDemoFirmware(Identity(1));
    ASSERT_TRUE(image.ok);
    TempDir folder;
    const std::string good = folder.Write("fw.kfs", image.bytes);
    auto shortFile = image.bytes;
    shortFile.resize(64 + 65535);  // one byte short of the window
    const std::string short_ = folder.Write("short.kfs", shortFile);
    const std::string other = folder.Write("fw.bin", image.bytes);

    for (const std::string& second : {short_, other}) {
        OpenRun run;
        run.Open(good);
        ASSERT_TRUE(run.selection.identified);
        run.Open(second);
        EXPECT_FALSE(run.selection.identified) << second;
        EXPECT_EQ(run.selection.ImageIndex, 0);
        EXPECT_EQ(run.selection.FirmwareId, (std::array<uint8_t, 2>{}));
        EXPECT_EQ(run.edit1, "");
        EXPECT_TRUE(run.report.messages.empty());
        EXPECT_EQ(run.header.bytes, image.header.bytes) << "the header is replaced all the same";
    }
}

TEST(OpenImageFile, FileThatCannotBeOpened) {
    TempDir folder;
    OpenRun run;
    run.edit1 = "old";
    run.selection.identified = true;
    const std::string name = folder.File("absent.kfs");
    run.Open(name);
    EXPECT_EQ(run.report.messages, std::vector<std::string>{"Err:Open File: " + name + " Error!!"});
    EXPECT_EQ(run.edit1, "");
    EXPECT_FALSE(run.selection.identified);
}

// A folder opens for reading on Linux and fails at the first read, which the
// library reports by throwing: it is a file that cannot be opened.
// A folder never reaches the file reader (whose library throws on it): the
// open and the validation refuse it at once, saying what it is.
TEST(ValidateImageFile, AFolderIsRefusedAtOnce) {
    TempDir folder;
    const std::string name = folder.File("folder.kfs");
    std::filesystem::create_directory(name);
    RecordingReport report;
    ImageHeader header;
    EXPECT_FALSE(ValidateImageFile(test::LoadedCopy(name), header, report));
    EXPECT_EQ(report.messages, std::vector<std::string>{"Err:The firmware file is a directory, not a file!!"});
    OpenRun run;
    run.Open(name);
    EXPECT_EQ(run.report.messages, std::vector<std::string>{"Err:The firmware file is a directory, not a file!!"});
}

TEST(OpenImageFile, IdentificationBelowSixtyFourIsNotFound) {
    for (const auto& [offset, found] : std::vector<std::pair<size_t, bool>>{{63, false}, {64, true}}) {
        DemoFirmwareRecipe recipe = Identity(2);
        recipe.identificationOffset = offset;
        PlainImage blocks = BuildDemoImageBlocks(Identity(2));  // an identification at 0x200 ...
        std::fill(blocks[0].begin() + 0x200, blocks[0].begin() + 0x200 + 40, uint8_t{0});  // ... removed
        const auto id = BuildIdentificationBlock(recipe);
        std::copy(id.begin(), id.end(), blocks[0].begin() + static_cast<std::ptrdiff_t>(offset));
        const auto image = BuildSingleImageFile(blocks);
        ASSERT_TRUE(image.ok);
        TempDir folder;
        OpenRun run;
        run.Open(folder.Write("fw.kfs", image.bytes));
        EXPECT_EQ(run.selection.identified, found) << offset;
    }
}

std::vector<DemoFirmwareRecipe> Identities(int count) {
    std::vector<DemoFirmwareRecipe> recipes;
    for (int n = 0; n < count; ++n) recipes.push_back(Identity(n));
    return recipes;
}

TEST(OpenImageFile, MultiImageSelectsTheLastImageTheDriveTakes) {
    const auto image = BuildDemoMultiFirmware(Identities(3));
    ASSERT_TRUE(image.ok) << image.error;
    EXPECT_EQ(image.header.StrideFromSlots(), 0x8000);
    TempDir folder;
    const std::string name = folder.Write("multi.kfs", image.bytes);

    OpenRun run;
    run.answers = {true, false, true};  // the drive takes images 0 and 2
    run.Open(name);
    EXPECT_EQ(run.selection.ImageStride, 0x8000);
    ASSERT_EQ(run.checked.size(), 2u) << "the open ends at the first refusal";
    EXPECT_EQ(run.checked[0], Identity(0).firmwareId);
    EXPECT_EQ(run.checked[1], Identity(1).firmwareId);
    EXPECT_EQ(run.selection.ImageIndex, 0);
    EXPECT_EQ(run.edit1, ModelOf(Identity(0)));
    EXPECT_EQ(run.selection.FirmwareId, Identity(1).firmwareId) << "holds the refused image's bytes";
    EXPECT_EQ(run.report.messages, std::vector<std::string>{"Err:The firmware is not support this device!!(4)"});

    for (int pass = 0; pass < 2; ++pass) {  // the same result on every open
        OpenRun all;
        all.Open(name);
        EXPECT_EQ(all.checked.size(), 3u);
        EXPECT_EQ(all.selection.ImageIndex, 2);
        EXPECT_EQ(all.selection.ImageStride, 0x8000);
        EXPECT_EQ(all.selection.FirmwareId, Identity(2).firmwareId);
        EXPECT_EQ(all.edit1, ModelOf(Identity(2)));
    }
}

TEST(ScanImages, ImagesLieAStrideApart) {
    ImageWriteOptions options;
    options.scramble = true;
    const auto image = BuildDemoMultiFirmware(Identities(3), options);
    ASSERT_TRUE(image.ok) << image.error;
    TempDir folder;
    const ImageCopy copy = test::LoadedCopy(folder.Write("multi.kfs", image.bytes));
    auto window = BlockBuffer::Allocate();
    std::vector<ImageIdentity> seen;
    ScanImages(copy, image.header, image.header.StrideFromSlots(), *window, [&](const ImageIdentity& identity) {
        seen.push_back(identity);
        return true;
    });
    ASSERT_EQ(seen.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(seen[k].offset, 64u + static_cast<uint64_t>(k) * 0x8000);
        EXPECT_TRUE(seen[k].identified);
        EXPECT_EQ(seen[k].firmwareId, Identity(k).firmwareId);
    }
}

TEST(OpenImageFile, MultiImageEndsQuietlyAtAWindowPastTheEnd) {
    auto image = BuildDemoMultiFirmware(Identities(3));
    ASSERT_TRUE(image.ok);
    image.bytes.resize(64 + 2 * 0x8000 + 65535);  // image 2's window one byte short
    TempDir folder;
    OpenRun run;
    run.Open(folder.Write("multi.kfs", image.bytes));
    EXPECT_EQ(run.checked.size(), 2u);
    EXPECT_EQ(run.selection.ImageIndex, 1);
    EXPECT_TRUE(run.report.messages.empty());
}

TEST(OpenImageFile, MultiImageWithChecksumZeroVisitsNoImage) {
    auto image = BuildDemoMultiFirmware(Identities(2));
    ASSERT_TRUE(image.ok);
    PutU16(image.bytes, 32, 0);
    TempDir folder;
    OpenRun run;
    run.Open(folder.Write("multi.kfs", image.bytes));
    EXPECT_TRUE(run.checked.empty());
    EXPECT_FALSE(run.selection.identified);
    EXPECT_EQ(run.selection.ImageStride, 0x8000);
}

TEST(OpenImageFile, ImageWithoutChecksumSlotIsNotSelected) {
    const auto image = BuildDemoMultiFirmware(Identities(8));
    ASSERT_TRUE(image.ok) << image.error;
    TempDir folder;
    const std::string name = folder.Write("multi.kfs", image.bytes);

    OpenRun run;
    run.Open(name);
    EXPECT_EQ(run.checked.size(), 7u) << "image 6 is checked, then refused; image 7 is not visited";
    EXPECT_EQ(run.report.messages, std::vector<std::string>{ImageWithoutChecksumLine(6)});
    EXPECT_EQ(run.report.messages[0], "Err:Image 6 has no checksum slot, not selected!!");
    EXPECT_FALSE(run.selection.identified);
    EXPECT_EQ(run.selection.ImageIndex, 0);
    EXPECT_EQ(run.selection.FirmwareId, (std::array<uint8_t, 2>{}));
    EXPECT_EQ(run.edit1, "");

    // A drive that refuses image 6: image 5 stays selected.
    OpenRun refusesSix;
    refusesSix.answers = {true, true, true, true, true, true, false};
    refusesSix.Open(name);
    EXPECT_EQ(refusesSix.checked.size(), 7u);
    EXPECT_EQ(refusesSix.report.messages, std::vector<std::string>{"Err:The firmware is not support this device!!(4)"});
    EXPECT_TRUE(refusesSix.selection.identified);
    EXPECT_EQ(refusesSix.selection.ImageIndex, 5);
    EXPECT_EQ(refusesSix.edit1, ModelOf(Identity(5)));
}

}  // namespace
}  // namespace keluflash

// The last look at the image before anything is written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/image_preflight.h"
#include "tests/flash/flash_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

PlainBlock Block(size_t size, uint8_t fill) {
    PlainBlock block(size, fill);
    block[0] = kPlainFirstByte;
    return block;
}

TEST(ImagePreflightTest, RefusesABlockMethodACannotSendWhole) {
    const struct {
        const char* name;
        PlainImage blocks;
        const char* refusal;  // null: accepted
    } rows[] = {
        {"block 1 longer than 0xF000, zeros behind", {Block(0x100, 1), [] { auto b = Block(0xF800, 1); std::fill(b.begin() + 0xF000, b.end(), 0); return b; }()}, nullptr},
        {"block 1 longer than 0xF000, data behind", {Block(0x100, 1), Block(0xF001, 1)},
         "Err:Block 1 is 61441 bytes, more than the 61440 bytes the drive takes!!"},
        {"block 2 longer than 0xF000", {Block(0x100, 1), Block(0x100, 1), Block(0xFFFE, 1)},
         "Err:Block 2 is 65534 bytes, more than the 61440 bytes the drive takes!!"},
        {"block 0 of 0xFFFF, last byte zero", {[] { auto b = Block(0xFFFF, 1); b.back() = 0; return b; }()}, nullptr},
        {"block 0 of 0xFFFF, last byte set", {Block(0xFFFF, 1)},
         "Err:Block 0 is 65535 bytes, more than the 65534 bytes the drive takes!!"},
        {"block 3 of 0xFFFE", {Block(1, 1), Block(1, 1), Block(1, 1), Block(0xFFFE, 9)}, nullptr},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimulatedBench bench;
        RecordingReport report;
        const ImageOnDisk image = SaveImage(dir, "p.kfs", BuildSingleImageFile(row.blocks));
        EXPECT_EQ(CheckImageBeforeWrites(MakeContext(bench, report, image)), row.refusal == nullptr);
        if (row.refusal) EXPECT_THAT(report.messages, ElementsAre(row.refusal));
        else EXPECT_THAT(report.messages, IsEmpty());
        EXPECT_THAT(bench.Drive().Commands(), IsEmpty());
    }
}

TEST(ImagePreflightTest, RefusesWhatTheStepsWouldReadDifferently) {
    TempDir dir;
    const ImageOnDisk good = SaveDemoImage(dir);
    const auto refusal = [&](ImageOnDisk image) {
        SimulatedBench bench;
        RecordingReport report;
        EXPECT_FALSE(CheckImageBeforeWrites(MakeContext(bench, report, image)));
        EXPECT_THAT(bench.Drive().Commands(), IsEmpty());
        return report.messages.size() == 1 ? report.messages[0] : std::string("(lines: ") +
                                                                  std::to_string(report.messages.size()) + ")";
    };

    // Nothing would be written, and the read-back would pass on no reads.
    ImageOnDisk none = good;
    none.header.SetBlockCount(0);
    none.header.SetChecksum(0);
    EXPECT_EQ(refusal(none), "Err:No block in the firmware file!!");

    ImageOnDisk many = good;
    many.header.SetBlockCount(15);
    EXPECT_EQ(refusal(many), "Err:Firmware file block count error!!");

    // The copy the open took holds nothing of a file that was not there.
    ImageOnDisk gone = good;
    gone.path = dir.File("missing.kfs");
    EXPECT_EQ(refusal(gone), "Err:Block 0 of the firmware file is short: 0 of 65534 bytes!!");

    ImageOnDisk cut = good;
    cut.path = dir.File("cut.kfs");
    std::filesystem::copy_file(good.path, cut.path);
    std::filesystem::resize_file(cut.path, 64 + 0x30000);
    EXPECT_EQ(refusal(cut), "Err:Block 3 of the firmware file is short: 8194 of 65534 bytes!!");
}

TEST(ImagePreflightTest, TheSelectedImageMustSumToItsOwnChecksum) {
    TempDir dir;
    std::vector<DemoFirmwareRecipe> recipes(3);
    for (size_t k = 0; k < recipes.size(); ++k) recipes[k].seed = k + 1;
    const ImageWriteResult built = BuildDemoMultiFirmware(recipes);
    ImageOnDisk image = SaveImage(dir, "multi.kfs", built, 2);
    {
        SimulatedBench bench;
        RecordingReport report;
        EXPECT_TRUE(CheckImageBeforeWrites(MakeContext(bench, report, image)));
    }
    image.header.SetImageChecksum(2, static_cast<uint16_t>(image.header.ImageChecksum(2) + 1));
    SimulatedBench bench;
    RecordingReport report;
    EXPECT_FALSE(CheckImageBeforeWrites(MakeContext(bench, report, image)));
    EXPECT_THAT(report.messages, ElementsAre("Err:File check sum error!!"));
}

}  // namespace
}  // namespace keluflash::test

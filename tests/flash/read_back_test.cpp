// Read-back verification.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/read_back.h"
#include "tests/flash/flash_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A header that only counts blocks and carries a checksum: all the
// read-back looks at.
ImageOnDisk HeaderOnly(uint16_t blockCount, uint16_t checksum) {
    ImageOnDisk image;
    image.header.SetMagic();
    image.header.SetBlockCount(blockCount);
    image.header.SetChecksum(checksum);
    return image;
}

TEST(ReadBackTest, ReadsEveryBankIn256BytePiecesBanksOneAndTwoUpTo0xF000) {
    SimulatedBench bench;
    RecordingReport report;
    const ImageOnDisk image = HeaderOnly(8, 0);

    ASSERT_TRUE(ReadBackChecksum(MakeContext(bench, report, image)).has_value());
    const auto reads = CommandsWhere(bench.Drive(), [](const auto& c) { return c.IsVendor(0x11); });
    EXPECT_EQ(reads.size(), 2016u);
    std::vector<unsigned> lastAddress(8, 0), count(8, 0);
    for (const auto& read : reads) {
        EXPECT_EQ(read.length, 256u);
        ++count[read.cdb[9]];
        lastAddress[read.cdb[9]] = read.cdb[6] << 8 | read.cdb[7];
    }
    EXPECT_THAT(count, ElementsAre(256, 240, 240, 256, 256, 256, 256, 256));
    EXPECT_THAT(lastAddress, ElementsAre(0xFF00, 0xEF00, 0xEF00, 0xFF00, 0xFF00, 0xFF00, 0xFF00, 0xFF00));
    // The bar gets its own range; every bank starts at 0, banks 1 and 2 end at 0xF000.
    EXPECT_THAT(bench.bar.ranges, ElementsAre(std::pair{0, 65536}));
    EXPECT_EQ(bench.bar.positions.size(), 8u + 2016u + 2u);
    EXPECT_EQ(bench.bar.positions[0], 0);
    EXPECT_EQ(bench.bar.positions[1 + 256], 0) << "bank 1 starts at 0";
    EXPECT_EQ(bench.bar.positions[1 + 256 + 1 + 240], 0xF000) << "bank 1 ends at 0xF000";
    EXPECT_EQ(bench.bar.positions[1 + 256 + 1 + 241], 0) << "bank 2 starts at 0";
    EXPECT_EQ(bench.ui.processed, 2016 + 2) << "messages are processed before every read";
    EXPECT_THAT(report.progress, IsEmpty());
}

TEST(ReadBackTest, SumsModulo65536) {
    SimulatedBench bench;
    RecordingReport report;
    auto& banks = bench.Drive();
    for (int bank = 0; bank < 3; ++bank) std::fill(banks.MutableBank(bank).begin(), banks.MutableBank(bank).end(), 0);
    // A whole bank of FF adds 0; bank 1 of FF adds 61440 x 255 = 0x1000 modulo 65536.
    std::fill(banks.MutableBank(0).begin(), banks.MutableBank(0).end(), 0xFF);
    std::fill(banks.MutableBank(1).begin(), banks.MutableBank(1).end(), 0xFF);
    banks.MutableBank(2)[0xF000] = 0x77;  // past the part that is read
    banks.MutableBank(2)[0x10] = 3;
    EXPECT_EQ(ReadBackChecksum(MakeContext(bench, report, HeaderOnly(3, 0))), uint16_t{0x1003});
}

TEST(ReadBackTest, ReadsNothingForNoBlocks) {
    SimulatedBench bench;
    RecordingReport report;
    EXPECT_EQ(ReadBackChecksum(MakeContext(bench, report, HeaderOnly(0, 0))), uint16_t{0});
    EXPECT_TRUE(VerifyFlash(MakeContext(bench, report, HeaderOnly(0, 0))));
    EXPECT_THAT(bench.Drive().Commands(), IsEmpty());
}

TEST(ReadBackTest, AFailedReadFailsTheVerificationEvenAgainstChecksumZero) {
    for (const SimulatedPlatform platform : kEveryPlatform) {
        SCOPED_TRACE(PlatformTestName(platform));
        SimulatedDriveConfig drive;
        drive.faults = {{.opcode = 0x5A, .vendorSubCode = 0x11, .nth = 300}};
        SimulatedBench bench(drive, platform);
        RecordingReport report;
        const ImageOnDisk image = HeaderOnly(8, 0);

        EXPECT_FALSE(VerifyFlash(MakeContext(bench, report, image)));
        // Read 300 is bank 1, address (300 - 257) x 256. ASPI reports its SS_ERR.
        EXPECT_THAT(report.messages,
                    ElementsAre(platform == SimulatedPlatform::Windows9x
                                    ? "Status:4;SenseCode:4 : 44 : 0; Read bank 1 at 2b00 failed."
                                    : "Status:2;SenseCode:4 : 44 : 0; Read bank 1 at 2b00 failed.",
                                "Err:Verify NG !!"));
        EXPECT_EQ(CommandsWhere(bench.Drive(), [](const auto& c) { return c.IsVendor(0x11); }).size(), 300u);
    }
}

// A read that got no answer, or brought fewer bytes than asked for, fails the
// verification with its cause: its piece is never summed as zeros, even where
// zeros would match (an erased flash against a checksum of 0).
TEST(ReadBackTest, AReadWithoutAnAnswerOrShortIsNeverSummedAsZeros) {
    for (const SimulatedPlatform platform : kEveryPlatform) {
        SCOPED_TRACE(PlatformTestName(platform));
        SimulatedMachineConfig config;
        config.platform = platform;
        // Under Wine the time-out comes back GOOD with nothing moved; on the
        // other machines it is a host error.
        config.faults = {{.opcode = 0x5A, .vendorSubCode = 0x11, .nth = 300,
                          .kind = MachineFaultKind::TimeOutReportedAsGood}};
        SimulatedBench bench(config);
        for (int bank = 0; bank < 8; ++bank)
            std::fill(bench.Drive().MutableBank(bank).begin(), bench.Drive().MutableBank(bank).end(), 0);
        RecordingReport report;
        EXPECT_FALSE(VerifyFlash(MakeContext(bench, report, HeaderOnly(8, 0))));
        ASSERT_EQ(report.messages.size(), 2u);
        EXPECT_THAT(report.messages[0], ::testing::HasSubstr("Read bank 1 at 2b00 failed: "));
        EXPECT_EQ(report.messages[1], "Err:Verify NG !!");
    }
}

TEST(ReadBackTest, ComparesWithTheChecksumTheTriggerCarried) {
    SimulatedBench bench;
    RecordingReport report;
    for (int bank = 0; bank < 2; ++bank)
        std::fill(bench.Drive().MutableBank(bank).begin(), bench.Drive().MutableBank(bank).end(), 0);
    bench.Drive().MutableBank(0)[5] = 0x42;
    bench.Drive().MutableBank(1)[5] = 0x01;

    ImageOnDisk single = HeaderOnly(2, 0x43);
    EXPECT_TRUE(VerifyFlash(MakeContext(bench, report, single)));
    single.header.SetChecksum(0x44);
    EXPECT_FALSE(VerifyFlash(MakeContext(bench, report, single)));
    EXPECT_THAT(report.messages, ElementsAre("Err:Verify NG !!"));

    // Image 2 of a multi-image file was flashed with its own checksum.
    ImageOnDisk multi = HeaderOnly(2, 3);
    multi.header.SetLayout(kLayoutMultiImage);
    multi.header.SetImageChecksum(2, 0x43);
    multi.selection.ImageIndex = 2;
    EXPECT_TRUE(VerifyFlash(MakeContext(bench, report, multi)));
}

}  // namespace
}  // namespace keluflash::test

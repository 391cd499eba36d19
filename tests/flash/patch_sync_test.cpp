// Patch-area synchronisation against the simulated drive: what is read, what
// is rewritten, and when nothing is touched.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/patch_sync.h"
#include "tests/flash/flash_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Access {
    uint16_t address;
    unsigned count;
    bool operator==(const Access&) const = default;
};

std::vector<Access> Reads(const SimulatedDrive& drive, uint8_t bank) {
    std::vector<Access> reads;
    for (const auto& c : CommandsWhere(drive, [](const auto& c) { return c.IsVendor(0x11); })) {
        EXPECT_EQ(c.cdb[9], bank);
        reads.push_back({static_cast<uint16_t>(c.cdb[6] << 8 | c.cdb[7]), c.length});
    }
    return reads;
}

std::vector<Access> Writes(const SimulatedDrive& drive, uint8_t bank) {
    std::vector<Access> writes;
    for (const auto& c : CommandsWhere(drive, [](const auto& c) { return c.IsVendor(0xA2); })) {
        EXPECT_EQ(c.cdb[7], bank);
        writes.push_back({static_cast<uint16_t>(c.cdb[8] << 8 | c.cdb[9]), c.cdb[11]});
        EXPECT_EQ(c.dataOut.size(), c.cdb[11]);
    }
    return writes;
}

class PatchSyncTest : public ::testing::Test {
protected:
    // The drive reports an area in `bank`; its bank holds the image's block
    // there, except the bytes the test changes afterwards.
    SimulatedBench& Bench(uint8_t bank, uint16_t start, uint16_t length) {
        SimulatedDriveConfig drive;
        drive.patchArea = SimulatedDriveConfig::PatchArea{bank, start, length};
        m_bench = std::make_unique<SimulatedBench>(drive);
        if (bank < 8) {
            const PlainBlock& block = plain[bank];
            std::copy(block.begin(), block.end(), m_bench->Drive().MutableBank(bank).begin());
        }
        return *m_bench;
    }
    bool Sync() {
        const bool result = SyncPatchArea(MakeContext(*m_bench, report, image));
        return result;
    }

    TempDir dir;
    RecordingReport report;
    ImageOnDisk image = SaveDemoImage(dir);
    PlainImage plain = BuildDemoImageBlocks({});
    std::unique_ptr<SimulatedBench> m_bench;
};

TEST_F(PatchSyncTest, WithoutASignatureOnlyThePatchInfoIsRead) {
    SimulatedBench bench;
    EXPECT_TRUE(SyncPatchArea(MakeContext(bench, report, image)));
    ASSERT_EQ(bench.Drive().Commands().size(), 1u);
    EXPECT_TRUE(bench.Drive().Commands()[0].IsVendor(0xA3));
    EXPECT_EQ(bench.Drive().Commands()[0].length, 65536u);
    EXPECT_THAT(report.messages, IsEmpty());
}

TEST_F(PatchSyncTest, BankEightOrMoreIsLeftAlone) {
    SimulatedBench& bench = Bench(8, 0x1000, 300);
    EXPECT_TRUE(Sync());
    EXPECT_EQ(bench.Drive().Commands().size(), 1u);
}

TEST_F(PatchSyncTest, AnEqualAreaIsOnlyRead) {
    SimulatedBench& bench = Bench(3, 0x1000, 0x300);
    EXPECT_TRUE(Sync());
    EXPECT_THAT(Reads(bench.Drive(), 3), ElementsAre(Access{0x1000, 256}, Access{0x1100, 256}, Access{0x1200, 256}));
    EXPECT_THAT(Writes(bench.Drive(), 3), IsEmpty());
}

TEST_F(PatchSyncTest, ADifferenceRewritesTheWholeAreaIn128ByteWrites) {
    const struct {
        uint16_t start;
        uint16_t length;
        std::vector<Access> reads;
        std::vector<Access> writes;
    } rows[] = {
        {0x1000, 300, {{0x1000, 256}, {0x1100, 256}}, {{0x1000, 128}, {0x1080, 128}, {0x1100, 44}}},
        {0x2000, 128, {{0x2000, 256}}, {{0x2000, 128}}},
        {0x2000, 129, {{0x2000, 256}}, {{0x2000, 128}, {0x2080, 1}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        SimulatedBench& bench = Bench(3, row.start, row.length);
        // Only the area's last byte differs.
        bench.Drive().MutableBank(3)[row.start + row.length - 1u] ^= 0x5A;
        EXPECT_TRUE(Sync());
        EXPECT_EQ(Reads(bench.Drive(), 3), row.reads);
        EXPECT_EQ(Writes(bench.Drive(), 3), row.writes);
        EXPECT_TRUE(std::equal(plain[3].begin() + row.start, plain[3].begin() + row.start + row.length,
                               bench.Drive().Bank(3).begin() + row.start));
    }
}

TEST_F(PatchSyncTest, ADriveErrorWhileComparingLeavesTheAreaAlone) {
    SimulatedBench& bench = Bench(3, 0x1000, 0x300);
    bench.Drive().MutableBank(3)[0x1200] ^= 1;
    bench.Drive().MutableConfig().faults = {{.opcode = 0x5A, .vendorSubCode = 0x11, .nth = 2}};
    EXPECT_TRUE(Sync());
    EXPECT_EQ(Reads(bench.Drive(), 3).size(), 2u);
    EXPECT_THAT(Writes(bench.Drive(), 3), IsEmpty());
}

TEST_F(PatchSyncTest, ComparesAScrambledImageAsPlainBytes) {
    ImageWriteOptions options;
    options.scramble = true;
    image = SaveDemoImage(dir, "scrambled.kfs", {}, options);
    SimulatedBench& bench = Bench(2, 0x0100, 0x200);
    EXPECT_TRUE(Sync());
    EXPECT_THAT(Writes(bench.Drive(), 2), IsEmpty());
}

TEST_F(PatchSyncTest, TakesTheAreaFromTheFirstImageOfAMultiImageFile) {
    DemoFirmwareRecipe first, second, third;
    for (DemoFirmwareRecipe* recipe : {&first, &second, &third}) recipe->blockSizes.assign(8, 0x1000);
    second.seed = 2;
    third.seed = 3;
    const ImageWriteResult built = BuildDemoMultiFirmware({first, second, third});
    image = SaveImage(dir, "multi.kfs", built, 2);
    plain = BuildDemoImageBlocks(first);
    // The writer may balance image 0's last block; the area lies in block 1.
    SimulatedBench& bench = Bench(1, 0x0010, 0x80);
    EXPECT_TRUE(Sync());
    EXPECT_THAT(Writes(bench.Drive(), 1), IsEmpty());
}

TEST_F(PatchSyncTest, RefusesAnAreaTheBlockDoesNotCover) {
    // Block 4 of the demo image is 0xFFFE bytes long.
    SimulatedBench& bench = Bench(4, 0xFF00, 0x100);
    bench.Drive().MutableBank(4)[0xFF00] ^= 1;
    EXPECT_FALSE(Sync());
    EXPECT_THAT(report.messages, ElementsAre("Err:Patch area ff00+100 is outside block 4 of the firmware!!"));
    EXPECT_THAT(Writes(bench.Drive(), 4), IsEmpty());
}

TEST_F(PatchSyncTest, ReportsAFileTooShortForTheBank) {
    SimulatedBench& bench = Bench(7, 0x10, 0x10);
    ImageOnDisk cut = image;
    cut.path = dir.File("cut.kfs");
    std::filesystem::copy_file(image.path, cut.path);
    std::filesystem::resize_file(cut.path, 64 + 0x20000);
    EXPECT_FALSE(SyncPatchArea(MakeContext(bench, report, cut)));
    EXPECT_THAT(report.messages, ElementsAre("Err:Read File Error(9)"));
    EXPECT_EQ(bench.Drive().Commands().size(), 1u);
}

// A comparison read the drive never answered (a time-out with nothing in the
// buffer) is no read of zeros: an area that matches is not rewritten, on
// any machine.
TEST_F(PatchSyncTest, AComparisonReadWithoutAnAnswerRewritesNothing) {
    for (const SimulatedPlatform platform : kEveryPlatform) {
        SCOPED_TRACE(PlatformTestName(platform));
        SimulatedMachineConfig config;
        config.platform = platform;
        config.drives = {SimulatedDriveConfig{}};
        config.drives[0].patchArea = SimulatedDriveConfig::PatchArea{2, 0x1000, 300};
        config.faults = {{.opcode = 0x5A, .vendorSubCode = 0x11, .nth = 2, .kind = MachineFaultKind::HostTimeOut}};
        SimulatedBench bench(config);
        std::copy(plain[2].begin(), plain[2].end(), bench.Drive().MutableBank(2).begin());
        const FlashContext context = MakeContext(bench, report, image);
        EXPECT_TRUE(SyncPatchArea(context));
        EXPECT_THAT(Writes(bench.Drive(), 2), IsEmpty());
        EXPECT_EQ(context.record.state, DriveState::Untouched);
    }
}

}  // namespace
}  // namespace keluflash::test

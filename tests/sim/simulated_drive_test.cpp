// The simulated drive's firmware model, command by command.
#include "drive/sim/simulated_drive.h"

#include "drive/sim/simulated_machine.h"
#include "drive/windows/pass_through_request.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace keluflash {
namespace {

using Cdb = std::array<uint8_t, 12>;

Cdb Vendor(uint8_t sub) { return Cdb{0x5A, 0x00, 0x38, 0x4B, 0x45, sub, 0, 0, 0, 0, 0, 0}; }

Cdb BlockWrite(uint8_t block, uint16_t count, uint8_t mode = 5) {
    Cdb cdb = Vendor(0xA0);
    cdb[6] = mode;
    cdb[7] = block;
    cdb[8] = static_cast<uint8_t>(count >> 8);
    cdb[9] = static_cast<uint8_t>(count);
    return cdb;
}

Cdb TriggerCdb(uint8_t mode, uint8_t code, uint16_t checksum) {
    Cdb cdb = Vendor(0xA0);
    cdb[6] = mode;
    cdb[7] = code;
    cdb[10] = static_cast<uint8_t>(checksum >> 8);
    cdb[11] = static_cast<uint8_t>(checksum);
    return cdb;
}

Cdb WriteBufferCdb(uint8_t block, uint16_t offset, uint32_t count) {
    return Cdb{0x3B, 0x05, 0x01, block, static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
               static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count),
               0, 0, 0};
}

Cdb ReadMemory(uint8_t bank, uint16_t address) {
    Cdb cdb = Vendor(0x11);
    cdb[6] = static_cast<uint8_t>(address >> 8);
    cdb[7] = static_cast<uint8_t>(address);
    cdb[9] = bank;
    return cdb;
}

Cdb WriteMemory(uint8_t bank, uint16_t address, uint8_t count) {
    Cdb cdb = Vendor(0xA2);
    cdb[7] = bank;
    cdb[8] = static_cast<uint8_t>(address >> 8);
    cdb[9] = static_cast<uint8_t>(address);
    cdb[11] = count;
    return cdb;
}

constexpr Cdb kTestUnitReady{};
constexpr Cdb kInquiry{0x12, 0, 0, 0, 0x32, 0, 0, 0, 0, 0, 0, 0};
constexpr Cdb kRequestSense{0x03, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0};

std::vector<uint8_t> BlockBytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 3 + (i >> 9));
    return bytes;
}

uint16_t Sum(const std::vector<std::vector<uint8_t>>& blocks) {
    uint32_t sum = 0;
    for (const auto& block : blocks) sum = std::accumulate(block.begin(), block.end(), sum);
    return static_cast<uint16_t>(sum);
}

class SimulatedDriveTest : public ::testing::Test {
protected:
    ScsiResult Send(SimulatedDrive& drive, const Cdb& cdb) {
        return drive.Execute(cdb.data(), nullptr, 0, kDirectionNone);
    }
    ScsiResult In(SimulatedDrive& drive, const Cdb& cdb, std::vector<uint8_t>& buffer) {
        return drive.Execute(cdb.data(), buffer.data(), static_cast<uint32_t>(buffer.size()), kDirectionIn);
    }
    ScsiResult Out(SimulatedDrive& drive, const Cdb& cdb, std::vector<uint8_t> data) {
        return drive.Execute(cdb.data(), data.data(), static_cast<uint32_t>(data.size()), kDirectionOut);
    }
    // Method A's block writes: 0xF000 bytes for blocks 1 and 2, 0xFFFE otherwise.
    void StageWithBlockWrites(SimulatedDrive& drive, const std::vector<std::vector<uint8_t>>& blocks) {
        for (size_t i = 0; i < blocks.size(); ++i) {
            std::vector<uint8_t> padded = blocks[i];
            padded.resize(i == 1 || i == 2 ? 0xF000 : 0xFFFE, 0);
            ASSERT_EQ(Out(drive, BlockWrite(static_cast<uint8_t>(i), static_cast<uint16_t>(padded.size())), padded)
                          .scsiStatus,
                      kScsiStatusGood);
        }
    }
    // Method B: each block behind its 2-byte length, in chunks of 0x4000.
    void StageWithWriteBuffer(SimulatedDrive& drive, const std::vector<std::vector<uint8_t>>& blocks) {
        for (size_t i = 0; i < blocks.size(); ++i) {
            std::vector<uint8_t> prefixed(blocks[i].size() + 2);
            prefixed[0] = static_cast<uint8_t>(blocks[i].size() >> 8);
            prefixed[1] = static_cast<uint8_t>(blocks[i].size());
            std::copy(blocks[i].begin(), blocks[i].end(), prefixed.begin() + 2);
            for (size_t offset = 0; offset < prefixed.size(); offset += 0x4000) {
                const size_t count = std::min<size_t>(0x4000, prefixed.size() - offset);
                std::vector<uint8_t> chunk(prefixed.begin() + static_cast<std::ptrdiff_t>(offset),
                                           prefixed.begin() + static_cast<std::ptrdiff_t>(offset + count));
                ASSERT_EQ(Out(drive, WriteBufferCdb(static_cast<uint8_t>(i), static_cast<uint16_t>(offset),
                                                    static_cast<uint32_t>(count)),
                              chunk)
                              .scsiStatus,
                          kScsiStatusGood);
            }
        }
    }
    VirtualClock clock;
    std::vector<std::vector<uint8_t>> image{BlockBytes(0x9000, 1), BlockBytes(0xF000, 2), BlockBytes(0x100, 3)};
};

TEST_F(SimulatedDriveTest, InquiryGivesTheStandardHeaderThePaddedIdentityAndTheFirmwareId) {
    SimulatedDriveConfig config;
    config.product = "ZXR-0130K";
    config.firmwareId = {'W', '0'};
    SimulatedDrive drive(config, clock);
    std::vector<uint8_t> buffer(50, 0xEE);
    const ScsiResult result = In(drive, kInquiry, buffer);
    EXPECT_EQ(result.scsiStatus, kScsiStatusGood);
    EXPECT_EQ(result.transferred, 50u);
    EXPECT_EQ(buffer[0], 0x05);
    EXPECT_EQ(buffer[1], 0x80);
    EXPECT_EQ(buffer[4] + 5, 96);
    EXPECT_EQ(std::string(buffer.begin() + 8, buffer.begin() + 36), "KELU    ZXR-0130K       1.00");
    EXPECT_EQ(buffer[38], 'W');
    EXPECT_EQ(buffer[39], '0');

    // The allocation length in byte 4 bounds the answer.
    std::vector<uint8_t> shortBuffer(50, 0xEE);
    Cdb cdb = kInquiry;
    cdb[4] = 36;
    EXPECT_EQ(In(drive, cdb, shortBuffer).transferred, 36u);
    EXPECT_EQ(shortBuffer[36], 0xEE);
}

TEST_F(SimulatedDriveTest, ReadyStatesAndSense) {
    SimulatedDrive drive({}, clock);
    EXPECT_EQ(Send(drive, kTestUnitReady).scsiStatus, kScsiStatusGood);

    // An unknown opcode; REQUEST SENSE repeats the sense, then reports no sense.
    const ScsiResult unknown = Send(drive, Cdb{0x28});
    EXPECT_EQ(unknown.scsiStatus, kScsiStatusCheckCondition);
    EXPECT_EQ(unknown.Sense(), (SenseTriple{5, 0x20, 0}));
    std::vector<uint8_t> sense(18);
    EXPECT_EQ(In(drive, kRequestSense, sense).scsiStatus, kScsiStatusGood);
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[7], 10);
    EXPECT_EQ((SenseTriple{sense[2], sense[12], sense[13]}), (SenseTriple{5, 0x20, 0}));
    In(drive, kRequestSense, sense);
    EXPECT_EQ(sense[2], 0);

    // Exactly one UNIT ATTENTION after a reset; INQUIRY does not consume it.
    drive.Reset();
    std::vector<uint8_t> inquiry(50);
    EXPECT_EQ(In(drive, kInquiry, inquiry).scsiStatus, kScsiStatusGood);
    EXPECT_EQ(Send(drive, kTestUnitReady).Sense(), (SenseTriple{6, 0x29, 0}));
    EXPECT_EQ(Send(drive, kTestUnitReady).scsiStatus, kScsiStatusGood);

    // STOP PLAY/SCAN and START STOP UNIT.
    EXPECT_EQ(Send(drive, Cdb{0x4E}).scsiStatus, kScsiStatusGood);
    EXPECT_EQ(Send(drive, Cdb{0x1B}).scsiStatus, kScsiStatusGood);

    drive.MutableConfig().mediumPresent = false;
    EXPECT_EQ(Send(drive, kTestUnitReady).Sense(), (SenseTriple{2, 0x3A, 0}));
}

TEST_F(SimulatedDriveTest, AcceptedTriggerProgramsTheBanksAfterItsProgrammingTime) {
    SimulatedDriveConfig config;
    config.programmingMilliseconds = 4000;
    SimulatedDrive drive(config, clock);
    StageWithBlockWrites(drive, image);
    EXPECT_EQ(drive.StagedBlockCount(), 3);

    const uint64_t triggered = clock.Now();
    const ScsiResult trigger = Send(drive, TriggerCdb(4, static_cast<uint8_t>(3 + 0xE0), Sum(image)));
    EXPECT_EQ(trigger.scsiStatus, kScsiStatusGood);
    EXPECT_EQ(drive.TriggersAccepted(), 1);

    // NOT READY, operation in progress, for the programming time; also for
    // every other command but INQUIRY and REQUEST SENSE.
    std::vector<uint8_t> buffer(256);
    EXPECT_EQ(In(drive, ReadMemory(0, 0), buffer).Sense(), (SenseTriple{2, 0x04, 0x07}));
    std::vector<uint8_t> sense(18);
    In(drive, kRequestSense, sense);
    EXPECT_EQ((SenseTriple{sense[2], sense[12], sense[13]}), (SenseTriple{2, 0x04, 0x07}));
    int polls = 0;
    while (Send(drive, kTestUnitReady).Sense() == SenseTriple{2, 0x04, 0x07}) ++polls;
    EXPECT_GE(clock.Now() - triggered, 4000u);
    EXPECT_GT(polls, 3000);

    // It came back as after a reset: the UNIT ATTENTION was that last poll.
    EXPECT_EQ(drive.Commands().back().result.Sense(), (SenseTriple{6, 0x29, 0}));
    EXPECT_EQ(Send(drive, kTestUnitReady).scsiStatus, kScsiStatusGood);

    // Each staged bank holds its block and zeros behind it.
    for (size_t k = 0; k < image.size(); ++k) {
        std::vector<uint8_t> expected = image[k];
        expected.resize(kSimulatedBankSize, 0);
        EXPECT_EQ(drive.Bank(static_cast<int>(k)), expected) << "bank " << k;
    }
    EXPECT_EQ(In(drive, ReadMemory(1, 0xEF00), buffer).scsiStatus, kScsiStatusGood);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image[1].begin() + 0xEF00));
    EXPECT_EQ(drive.StagedBlockCount(), 0);
}

TEST_F(SimulatedDriveTest, WriteBufferStagesTheBlockBehindItsLengthPrefix) {
    SimulatedDriveConfig config;
    config.takesWriteBuffer = true;
    config.acceptedTriggers = {{5, 0xF0}};
    SimulatedDrive drive(config, clock);
    std::vector<uint8_t> mode(10);
    In(drive, Vendor(0xC0), mode);
    EXPECT_NE(mode[0], 0);

    std::vector<std::vector<uint8_t>> blocks{BlockBytes(0xFFFE, 9), BlockBytes(0x3FFF, 4)};
    StageWithWriteBuffer(drive, blocks);
    EXPECT_EQ(Send(drive, TriggerCdb(5, static_cast<uint8_t>(2 + 0xF0), Sum(blocks))).scsiStatus, kScsiStatusGood);
    clock.Advance(config.programmingMilliseconds);
    EXPECT_EQ(Send(drive, kTestUnitReady).Sense(), (SenseTriple{6, 0x29, 0}));
    EXPECT_TRUE(std::equal(blocks[0].begin(), blocks[0].end(), drive.Bank(0).begin()));
    EXPECT_EQ(drive.Bank(0)[0xFFFE], 0);
    EXPECT_TRUE(std::equal(blocks[1].begin(), blocks[1].end(), drive.Bank(1).begin()));

    // Out of order chunks, other modes and a drive that does not take them.
    std::vector<uint8_t> chunk(0x100, 1);
    EXPECT_EQ(Out(drive, WriteBufferCdb(0, 0x4000, 0x100), chunk).Sense(), (SenseTriple{5, 0x24, 0}));
    Cdb mode7 = WriteBufferCdb(0, 0, 0x100);
    mode7[1] = 0x07;
    EXPECT_EQ(Out(drive, mode7, chunk).Sense(), (SenseTriple{5, 0x24, 0}));
    SimulatedDrive plain({}, clock);
    In(plain, Vendor(0xC0), mode);
    EXPECT_EQ(mode[0], 0);
    EXPECT_EQ(Out(plain, WriteBufferCdb(0, 0, 0x100), chunk).Sense(), (SenseTriple{5, 0x24, 0}));
}

// Which trigger each quirk takes and what it answers to the others: every
// retry path of both download methods can be reached.
struct TriggerCase {
    const char* name;
    std::vector<TriggerForm> accepted;
    std::vector<TriggerRejection> rejections;
    TriggerForm sent;
    bool rightChecksum;
    SenseTriple expected;  // {0,0,0}: accepted with GOOD
};

class TriggerTable : public SimulatedDriveTest, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(TriggerTable, AnswersTheFormItIsSent) {
    const TriggerCase& c = GetParam();
    SimulatedDriveConfig config;
    config.acceptedTriggers = c.accepted;
    config.triggerRejections = c.rejections;
    SimulatedDrive drive(config, clock);
    StageWithBlockWrites(drive, image);
    const uint8_t code = static_cast<uint8_t>(image.size() + c.sent.codeBase);
    const uint16_t checksum = static_cast<uint16_t>(Sum(image) + (c.rightChecksum ? 0 : 1));
    const ScsiResult result = Send(drive, TriggerCdb(c.sent.mode, code, checksum));
    EXPECT_EQ(result.Sense(), c.expected);
    const bool accepted = c.expected == SenseTriple{};
    EXPECT_EQ(drive.TriggersAccepted(), accepted ? 1 : 0);
    EXPECT_EQ(drive.Programming(), accepted);
    // A rejected trigger programs nothing and keeps the blocks for a retry.
    EXPECT_EQ(drive.StagedBlockCount(), accepted ? 0 : 3);
    EXPECT_EQ(drive.Bank(2)[0] == image[2][0] && drive.Bank(2)[0x100] == 0, accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Quirks, TriggerTable,
    ::testing::Values(
        TriggerCase{"MethodAFirstTry", {{4, 0xE0}}, {}, {4, 0xE0}, true, {}},
        TriggerCase{"MethodAFirstTryWrongSum", {{4, 0xE0}}, {}, {4, 0xE0}, false, {5, 0x26, 0}},
        TriggerCase{"MethodAFirstRejectedKey5", {{5, 0xE0}}, {}, {4, 0xE0}, true, {5, 0x24, 0}},
        TriggerCase{"MethodAFirstRejectedOtherKey", {{5, 0xE0}}, {{{4, 0xE0}, {3, 0x0C, 0}}}, {4, 0xE0}, true,
                    {3, 0x0C, 0}},
        TriggerCase{"MethodAFirstRetryTaken", {{5, 0xE0}}, {}, {5, 0xE0}, true, {}},
        TriggerCase{"MethodAFirstRetryLengthError", {{5, 0xF0}}, {{{5, 0xE0}, {5, 0x1A, 0}}}, {5, 0xE0}, true,
                    {5, 0x1A, 0}},
        TriggerCase{"MethodAFirstRetryLengthErrorAscq1", {{5, 0xF0}}, {{{5, 0xE0}, {5, 0x1A, 1}}}, {5, 0xE0}, true,
                    {5, 0x1A, 1}},
        TriggerCase{"MethodASecondRetryTaken", {{5, 0xF0}}, {{{5, 0xE0}, {5, 0x1A, 0}}}, {5, 0xF0}, true, {}},
        TriggerCase{"MethodBTriggerTaken", {{5, 0xF0}}, {}, {5, 0xF0}, true, {}},
        TriggerCase{"MethodBTriggerLengthError", {{5, 0xE0}}, {{{5, 0xF0}, {5, 0x1A, 0}}}, {5, 0xF0}, true,
                    {5, 0x1A, 0}},
        TriggerCase{"MethodBRetryTaken", {{5, 0xE0}}, {{{5, 0xF0}, {5, 0x1A, 0}}}, {5, 0xE0}, true, {}},
        TriggerCase{"CodeNotCountingTheBlocks", {{4, 0xE0}}, {}, {4, 0xE1}, true, {5, 0x24, 0}}),
    [](const ::testing::TestParamInfo<TriggerCase>& info) { return info.param.name; });

// The named set-ups answer each trigger form as their descriptions say.
TEST_F(SimulatedDriveTest, ProfilesTakeTheTriggersTheyDescribe) {
    struct Case {
        const char* profile;
        TriggerForm form;
        SenseTriple expected;
    };
    const Case cases[] = {
        {"default", {4, 0xE0}, {}},
        {"method-a-retry", {4, 0xE0}, {5, 0x24, 0}},
        {"method-a-retry", {5, 0xE0}, {5, 0x1A, 0}},
        {"method-a-retry", {5, 0xF0}, {}},
        {"method-b", {4, 0xE0}, {5, 0x24, 0}},
        {"method-b", {5, 0xE0}, {5, 0x24, 0}},
        {"method-b", {5, 0xF0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.profile) + " mode " + std::to_string(c.form.mode));
        SimulatedDrive drive(FindSimulatedProfile(c.profile)->config.drives.at(0), clock);
        if (drive.Config().takesWriteBuffer) {
            StageWithWriteBuffer(drive, image);
        } else {
            StageWithBlockWrites(drive, image);
        }
        const uint8_t code = static_cast<uint8_t>(image.size() + c.form.codeBase);
        EXPECT_EQ(Send(drive, TriggerCdb(c.form.mode, code, Sum(image))).Sense(), c.expected);
    }
}

TEST_F(SimulatedDriveTest, TriggerWithoutStagedBlocksAndAnsweredNotReady) {
    SimulatedDriveConfig config;
    config.acceptedTriggerSense = SenseTriple{2, 0x04, 0x07};
    SimulatedDrive drive(config, clock);
    EXPECT_EQ(Send(drive, TriggerCdb(4, 0xE0, 0)).Sense(), (SenseTriple{5, 0x2C, 0}));
    StageWithBlockWrites(drive, image);
    EXPECT_EQ(Send(drive, TriggerCdb(4, 0xE3, Sum(image))).Sense(), (SenseTriple{2, 0x04, 0x07}));
    EXPECT_EQ(drive.TriggersAccepted(), 1);
}

TEST_F(SimulatedDriveTest, BlockZeroBeginsANewDownload) {
    SimulatedDrive drive({}, clock);
    StageWithBlockWrites(drive, image);
    StageWithBlockWrites(drive, {image[0]});
    EXPECT_EQ(drive.StagedBlockCount(), 1);
    EXPECT_EQ(Send(drive, TriggerCdb(4, 0xE1, Sum({image[0]}))).scsiStatus, kScsiStatusGood);
}

TEST_F(SimulatedDriveTest, NeverReadyStaysNotReady) {
    SimulatedDriveConfig config;
    config.neverReady = true;
    SimulatedDrive drive(config, clock);
    StageWithBlockWrites(drive, image);
    Send(drive, TriggerCdb(4, 0xE3, Sum(image)));
    clock.Advance(10 * 60 * 1000);
    EXPECT_EQ(Send(drive, kTestUnitReady).Sense(), (SenseTriple{2, 0x04, 0x07}));
}

TEST_F(SimulatedDriveTest, PatchInfoAndMemoryCommands) {
    SimulatedDrive plain({}, clock);
    std::vector<uint8_t> info(65536, 0xEE);
    EXPECT_EQ(In(plain, Vendor(0xA3), info).transferred, 65536u);
    EXPECT_EQ(info[0], 0);
    EXPECT_EQ(info[1], 0);

    SimulatedDriveConfig config;
    config.patchArea = SimulatedDriveConfig::PatchArea{3, 0x1234, 0x0180};
    SimulatedDrive drive(config, clock);
    In(drive, Vendor(0xA3), info);
    EXPECT_EQ(std::vector<uint8_t>(info.begin(), info.begin() + 9),
              (std::vector<uint8_t>{0x55, 0xDD, 0x01, 0x00, 3, 0x12, 0x34, 0x01, 0x80}));

    // The old firmware differs from bank to bank and is not all zeros.
    EXPECT_NE(drive.Bank(0), drive.Bank(1));
    EXPECT_NE(drive.Bank(0), std::vector<uint8_t>(kSimulatedBankSize, 0));

    std::vector<uint8_t> patch = BlockBytes(128, 0x40);
    EXPECT_EQ(Out(drive, WriteMemory(3, 0x1234, 128), patch).scsiStatus, kScsiStatusGood);
    std::vector<uint8_t> read(256);
    EXPECT_EQ(In(drive, ReadMemory(3, 0x1234), read).scsiStatus, kScsiStatusGood);
    EXPECT_TRUE(std::equal(patch.begin(), patch.end(), read.begin()));
    EXPECT_EQ(read[128], drive.Bank(3)[0x1234 + 128]);

    // Out of range: a bank the drive lacks, a read past the bank's end.
    EXPECT_EQ(In(drive, ReadMemory(8, 0), read).Sense(), (SenseTriple{5, 0x21, 0}));
    EXPECT_EQ(In(drive, ReadMemory(0, 0xFF01), read).Sense(), (SenseTriple{5, 0x21, 0}));
    EXPECT_EQ(Out(drive, WriteMemory(0, 0xFFF0, 128), patch).Sense(), (SenseTriple{5, 0x21, 0}));
    // A data phase that does not match the CDB.
    EXPECT_EQ(Out(drive, WriteMemory(0, 0, 100), patch).Sense(), (SenseTriple{0x0B, 0x4B, 0}));
    // Without the signature it is not a vendor command; unknown sub-codes.
    Cdb unsigned5a = Vendor(0x11);
    unsigned5a[3] = 0;
    EXPECT_EQ(In(drive, unsigned5a, read).Sense(), (SenseTriple{5, 0x24, 0}));
    EXPECT_EQ(Send(drive, Vendor(0x77)).Sense(), (SenseTriple{5, 0x20, 0}));
}

TEST_F(SimulatedDriveTest, FaultsByCountOpcodeAndSubCode) {
    SimulatedDriveConfig config;
    config.faults = {
        {.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 3, .sense = {0x25, 0x10, 0x02}},
        {.opcode = 0x00, .times = 2, .scsiStatus = kScsiStatusBusy},
    };
    SimulatedDrive drive(config, clock);

    std::vector<uint8_t> block(0x100, 7);
    EXPECT_EQ(Out(drive, BlockWrite(0, 0x100), block).scsiStatus, kScsiStatusGood);
    EXPECT_EQ(Out(drive, BlockWrite(1, 0x100), block).scsiStatus, kScsiStatusGood);
    const ScsiResult third = Out(drive, BlockWrite(2, 0x100), block);
    EXPECT_EQ(third.Sense(), (SenseTriple{0x25, 0x10, 0x02}));
    EXPECT_EQ(drive.StagedBlockCount(), 2);  // the failed write staged nothing
    EXPECT_EQ(Out(drive, BlockWrite(3, 0x100), block).scsiStatus, kScsiStatusGood);

    EXPECT_EQ(Send(drive, kTestUnitReady).scsiStatus, kScsiStatusBusy);
    EXPECT_EQ(Send(drive, kTestUnitReady).scsiStatus, kScsiStatusBusy);
    EXPECT_EQ(Send(drive, kTestUnitReady).scsiStatus, kScsiStatusGood);
}

TEST_F(SimulatedDriveTest, RecordsEveryCommandWithItsTimeAndCost) {
    SimulatedDriveConfig config;
    config.commandMilliseconds = 2;
    config.transferBytesPerMillisecond = 1024;
    SimulatedDrive drive(config, clock);
    clock.Advance(100);
    Send(drive, kTestUnitReady);
    std::vector<uint8_t> data(0x1000, 0x42);
    Out(drive, BlockWrite(0, 0x1000), data);
    Send(drive, Cdb{0x28});
    EXPECT_EQ(clock.Now(), 100u + 2 + (2 + 4) + 2);

    const std::vector<RecordedCommand>& commands = drive.Commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].time, 100u);
    EXPECT_EQ(commands[1].time, 102u);
    EXPECT_TRUE(commands[1].IsVendor(0xA0));
    EXPECT_EQ(commands[1].direction, kDirectionOut);
    EXPECT_EQ(commands[1].length, 0x1000u);
    EXPECT_EQ(commands[1].dataOut, data);
    EXPECT_EQ(commands[2].Opcode(), 0x28);
    EXPECT_EQ(commands[2].result.Sense(), (SenseTriple{5, 0x20, 0}));
}

}  // namespace
}  // namespace keluflash

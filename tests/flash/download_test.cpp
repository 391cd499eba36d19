// Download methods A and B against the simulated drive: blocks, trigger and
// its retries on both paths, the ready wait and its time-out.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/download.h"
#include "image/descramble.h"
#include "tests/flash/flash_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

struct Trigger {
    uint8_t mode;
    uint8_t code;
    bool operator==(const Trigger&) const = default;
};

std::vector<Trigger> Triggers(const SimulatedDrive& drive) {
    std::vector<Trigger> triggers;
    for (const RecordedCommand& command : CommandsWhere(drive, IsTrigger))
        triggers.push_back({command.cdb[6], command.cdb[7]});
    return triggers;
}

// The opcodes (5A commands by their sub-code) from the first trigger on.
std::vector<std::string> CommandsFromTrigger(const SimulatedDrive& drive) {
    std::vector<std::string> names;
    bool seen = false;
    for (const RecordedCommand& command : drive.Commands()) {
        seen = seen || IsTrigger(command);
        if (!seen) continue;
        if (IsTrigger(command)) names.push_back("trigger");
        else if (command.Opcode() == 0x00) names.push_back("TUR");
        else if (command.Opcode() == 0x03) names.push_back("REQUEST SENSE");
        else names.push_back(CdbText(command));
    }
    return names;
}

// Collapses the ready wait's polls into one entry.
std::vector<std::string> WithoutRepeatedPolls(std::vector<std::string> names) {
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

class MethodATest : public ::testing::TestWithParam<SimulatedPlatform> {
protected:
    bool PassThrough() const { return GetParam() != SimulatedPlatform::Windows9x; }
    SimulatedPlatform Platform() const { return GetParam(); }
    TempDir dir;
    RecordingReport report;
};

TEST_P(MethodATest, SendsEveryBlockAtItsFixedLengthThenTheTriggerAndWaitsForTheDrive) {
    SimulatedBench bench({}, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);
    const PlainImage plain = BuildDemoImageBlocks({});

    ASSERT_TRUE(DownloadMethodA(MakeContext(bench, report, image)));

    EXPECT_THAT(report.messages, IsEmpty());
    EXPECT_THAT(report.progress, ElementsAre(10, 20, 30, 40, 50, 60, 70, 80, 70, 80));
    const auto writes = CommandsWhere(bench.Drive(), IsBlockWrite);
    ASSERT_EQ(writes.size(), 8u);
    EXPECT_GE(writes[0].time, 2000u) << "the pause before the first block";
    for (size_t i = 0; i < writes.size(); ++i) {
        const RecordedCommand& write = writes[i];
        const uint16_t length = (i == 1 || i == 2) ? 0xF000 : 0xFFFE;
        EXPECT_EQ(write.cdb[6], 5);
        EXPECT_EQ(write.cdb[7], i);
        EXPECT_EQ(write.cdb[8] << 8 | write.cdb[9], length);
        EXPECT_EQ(write.cdb[10] << 8 | write.cdb[11], 0);
        ASSERT_EQ(write.dataOut.size(), length);
        const PlainBlock& block = plain[i];
        EXPECT_TRUE(std::equal(block.begin(), block.end(), write.dataOut.begin())) << "block " << i;
        EXPECT_TRUE(std::all_of(write.dataOut.begin() + static_cast<std::ptrdiff_t>(block.size()),
                                write.dataOut.end(), [](uint8_t b) { return b == 0; }));
    }
    EXPECT_THAT(Triggers(bench.Drive()), ElementsAre(Trigger{4, 0xE8}));
    const RecordedCommand trigger = CommandsWhere(bench.Drive(), IsTrigger).front();
    EXPECT_EQ(trigger.cdb[10] << 8 | trigger.cdb[11], image.header.Checksum());
    EXPECT_EQ(trigger.length, 0u);
    EXPECT_EQ(bench.Drive().TriggersAccepted(), 1);
    EXPECT_THAT(WithoutRepeatedPolls(CommandsFromTrigger(bench.Drive())), ElementsAre("trigger", "TUR"));
    EXPECT_GT(bench.ui.processed, 0) << "method A keeps the window alive in the ready wait";
    EXPECT_EQ(bench.Clock().SleptMilliseconds(), 2000u);
}

// A scrambled block whose length is not a multiple of 8: descrambling's last
// group reaches behind the block, and those bytes must not go out with it.
TEST_P(MethodATest, SendsZerosBehindAScrambledBlockOfOddLength) {
    SimulatedBench bench({}, Platform());
    DemoFirmwareRecipe recipe;
    recipe.blockSizes = {0x1003, 0x2005, 0x0FFF};
    ImageWriteOptions options;
    options.scramble = true;
    const ImageOnDisk image = SaveDemoImage(dir, "odd.kfs", recipe, options);

    ASSERT_TRUE(DownloadMethodA(MakeContext(bench, report, image)));
    for (const RecordedCommand& write : CommandsWhere(bench.Drive(), IsBlockWrite)) {
        const size_t size = image.header.BlockSize(write.cdb[7]);
        EXPECT_TRUE(std::all_of(write.dataOut.begin() + static_cast<std::ptrdiff_t>(size), write.dataOut.end(),
                                [](uint8_t b) { return b == 0; }))
            << "block " << int{write.cdb[7]};
    }
    EXPECT_EQ(bench.Drive().TriggersAccepted(), 1);
}

TEST_P(MethodATest, AFailedBlockWriteEndsTheDownloadWithItsStatus) {
    SimulatedDriveConfig drive;
    drive.faults = {{.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 3}};
    SimulatedBench bench(drive, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);

    EXPECT_FALSE(DownloadMethodA(MakeContext(bench, report, image)));
    // Pass-through reports the SCSI status, ASPI its own SS_ERR.
    EXPECT_THAT(report.messages, ElementsAre(PassThrough() ? "Status:0x2 ; Err:Flash command(W) has problems."
                                                           : "Status:0x4 ; Err:Flash command(W) has problems."));
    EXPECT_EQ(CommandsWhere(bench.Drive(), IsBlockWrite).size(), 3u);
    EXPECT_THAT(Triggers(bench.Drive()), IsEmpty());
}

TEST_P(MethodATest, TimesOutAfter120SecondsWithThePathsOwnLine) {
    SimulatedDriveConfig drive;
    drive.neverReady = true;
    SimulatedBench bench(drive, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);

    DownloadFailure failure = DownloadFailure::None;
    EXPECT_FALSE(DownloadMethodA(MakeContext(bench, report, image), &failure));
    const RecordedCommand trigger = CommandsWhere(bench.Drive(), IsTrigger).front();
    const RecordedCommand lastPoll = bench.Drive().Commands().back();
    // Elapsed whole seconds are compared: the wait gives up once 121 are full.
    EXPECT_GE(lastPoll.time - trigger.time, 121000u);
    EXPECT_LT(lastPoll.time - trigger.time, 122100u);
    ASSERT_EQ(report.messages.size(), 2u);
    EXPECT_EQ(report.messages[0], PassThrough() ? "Time Out Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;"
                                                : "Time Out Status:2;Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;");
    EXPECT_EQ(report.messages[1], "Err:Flash error,time out 120 Sec");
    // What that means for the drive, and that nothing more may be sent.
    EXPECT_EQ(image.records.back().state, DriveState::NeverReady);
    EXPECT_EQ(failure, DownloadFailure::AfterTrigger);
}

TEST_P(MethodATest, ADriveWithoutMediumIsReadyAtOnce) {
    SimulatedDriveConfig drive;
    drive.mediumPresent = false;
    drive.programmingMilliseconds = 0;
    drive.resetAfterProgramming = false;
    SimulatedBench bench(drive, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);

    EXPECT_TRUE(DownloadMethodA(MakeContext(bench, report, image)));
    EXPECT_THAT(CommandsFromTrigger(bench.Drive()), ElementsAre("trigger", "TUR", "TUR"));
}

// How the drive answers the trigger forms, and what method A then sends.
struct RetryCase {
    const char* name;
    std::vector<TriggerForm> accepted;
    std::vector<TriggerRejection> rejections;
    std::optional<SenseTriple> acceptedSense;
    std::vector<Trigger> triggers;
    bool turBeforeFirstRetryOnAspi;
    bool succeeds;
    const char* failureLine;  // %d: the status the path reports for CHECK CONDITION
};

class MethodARetryTest : public ::testing::TestWithParam<std::tuple<RetryCase, SimulatedPlatform>> {};

TEST_P(MethodARetryTest, RetriesTheTriggerAsTheDriveAnswers) {
    const auto& [row, platform] = GetParam();
    const bool passThrough = platform != SimulatedPlatform::Windows9x;
    SimulatedDriveConfig drive;
    drive.acceptedTriggers = row.accepted;
    drive.triggerRejections = row.rejections;
    drive.acceptedTriggerSense = row.acceptedSense;
    SimulatedBench bench(drive, platform);
    TempDir dir;
    RecordingReport report;
    const ImageOnDisk image = SaveDemoImage(dir);

    EXPECT_EQ(DownloadMethodA(MakeContext(bench, report, image)), row.succeeds);
    EXPECT_EQ(Triggers(bench.Drive()), row.triggers);

    // The commands between the first trigger and the second.
    std::vector<std::string> between;
    const auto sequence = CommandsFromTrigger(bench.Drive());
    if (row.triggers.size() > 1) {
        for (size_t i = 1; i < sequence.size() && sequence[i] != "trigger"; ++i) between.push_back(sequence[i]);
        const bool tur = row.turBeforeFirstRetryOnAspi && !passThrough;
        EXPECT_EQ(between, tur ? std::vector<std::string>{"TUR"} : std::vector<std::string>{});
    }
    if (row.triggers.size() > 2) {
        // The second retry always follows a TEST UNIT READY.
        const auto second = std::find(sequence.begin() + 1, sequence.end(), "trigger");
        const auto third = std::find(second + 1, sequence.end(), "trigger");
        EXPECT_EQ(std::vector<std::string>(second + 1, third), std::vector<std::string>{"TUR"});
    }
    if (row.succeeds) {
        EXPECT_THAT(report.messages, IsEmpty());
        // A retried trigger is followed by 20 s before the wait.
        const uint64_t retryPause = row.triggers.size() > 1 ? 20000 : 0;
        EXPECT_EQ(bench.Clock().SleptMilliseconds(), 2000 + retryPause);
    } else {
        char line[80];
        std::snprintf(line, sizeof line, row.failureLine, passThrough ? 2 : 4);
        EXPECT_THAT(report.messages, ElementsAre(line, "Err:Flash Fail."));
    }
}

const RetryCase kRetryCases[] = {
    {"FirstFormTaken", {{4, 0xE0}}, {}, {}, {{4, 0xE8}}, false, true, ""},
    {"FirstRetryTaken", {{5, 0xE0}}, {}, {}, {{4, 0xE8}, {5, 0xE8}}, true, true, ""},
    {"SecondRetryTaken",
     {{5, 0xF0}},
     {{{5, 0xE0}, {5, 0x1A, 0x00}}},
     {},
     {{4, 0xE8}, {5, 0xE8}, {5, 0xF8}},
     true,
     true,
     ""},
    // 5/1A with another qualifier is no parameter list length error.
    {"FirstRetryAnsweredWithOtherQualifier",
     {{5, 0xF0}},
     {{{5, 0xE0}, {5, 0x1A, 0x01}}},
     {},
     {{4, 0xE8}, {5, 0xE8}},
     true,
     false,
     "Status:%x;SenseCode:5 : 1a : 1;"},
    {"NothingTaken", {}, {}, {}, {{4, 0xE8}, {5, 0xE8}}, true, false, "Status:%x;SenseCode:5 : 24 : 0;"},
    // NOT READY with CHECK CONDITION: the drive has begun programming; no retry.
    {"AcceptedWithNotReady", {{4, 0xE0}}, {}, SenseTriple{2, 0x04, 0x07}, {{4, 0xE8}}, false, true, ""},
    // A rejection with another sense key than ILLEGAL REQUEST is not retried.
    {"RejectedWithAbortedCommand",
     {{5, 0xE0}},
     {{{4, 0xE0}, {0x0B, 0x00, 0x00}}},
     {},
     {{4, 0xE8}},
     false,
     false,
     "Status:%x;SenseCode:b : 0 : 0;"},
};

INSTANTIATE_TEST_SUITE_P(Rows, MethodARetryTest,
                         ::testing::Combine(::testing::ValuesIn(kRetryCases), ::testing::ValuesIn(kEveryPlatform)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + PlatformTestName(std::get<1>(info.param));
                         });

INSTANTIATE_TEST_SUITE_P(Machines, MethodATest, ::testing::ValuesIn(kEveryPlatform),
                         [](const auto& info) { return PlatformTestName(info.param); });

// ---------------------------------------------------------------------------

SimulatedDriveConfig MethodBDrive() {
    SimulatedDriveConfig drive;
    drive.takesWriteBuffer = true;
    drive.acceptedTriggers = {{5, 0xF0}};
    return drive;
}

PlainImage OneBlockOf(size_t size) {
    PlainBlock block(size);
    for (size_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>(i * 31 + 7);
    block[0] = kPlainFirstByte;
    return {block};
}

struct Chunk {
    uint8_t block;
    uint16_t offset;
    uint32_t length;
    bool operator==(const Chunk&) const = default;
};

std::vector<Chunk> Chunks(const SimulatedDrive& drive) {
    std::vector<Chunk> chunks;
    for (const RecordedCommand& c : CommandsWhere(drive, [](const auto& c) { return c.Opcode() == 0x3B; })) {
        EXPECT_EQ(c.cdb[1], 0x05);
        EXPECT_EQ(c.cdb[2], 0x01);
        chunks.push_back({c.cdb[3], static_cast<uint16_t>(c.cdb[4] << 8 | c.cdb[5]),
                          static_cast<uint32_t>(c.cdb[6] << 16 | c.cdb[7] << 8 | c.cdb[8])});
        EXPECT_EQ(c.dataOut.size(), chunks.back().length);
    }
    return chunks;
}

class MethodBTest : public ::testing::TestWithParam<SimulatedPlatform> {
protected:
    bool PassThrough() const { return GetParam() != SimulatedPlatform::Windows9x; }
    SimulatedPlatform Platform() const { return GetParam(); }
    TempDir dir;
    RecordingReport report;
};

TEST_P(MethodBTest, SendsEachBlockBehindItsLengthIn16KiBChunks) {
    SimulatedBench bench(MethodBDrive(), Platform());
    const struct {
        size_t size;
        std::vector<Chunk> chunks;
    } rows[] = {
        {0x3FFD, {{0, 0, 0x3FFF}}},
        {0x3FFE, {{0, 0, 0x4000}}},
        {0x3FFF, {{0, 0, 0x4000}, {0, 0x4000, 1}}},
        {0xFFFE, {{0, 0, 0x4000}, {0, 0x4000, 0x4000}, {0, 0x8000, 0x4000}, {0, 0xC000, 0x4000}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        bench.Drive().ClearCommands();
        const PlainImage plain = OneBlockOf(row.size);
        const ImageOnDisk image = SaveImage(dir, "b.kfs", BuildSingleImageFile(plain));
        ASSERT_TRUE(DownloadMethodB(MakeContext(bench, report, image)));
        EXPECT_EQ(Chunks(bench.Drive()), row.chunks);
        // The stream is the length, high byte first, then the block.
        std::vector<uint8_t> stream;
        for (const auto& c : CommandsWhere(bench.Drive(), [](const auto& c) { return c.Opcode() == 0x3B; }))
            stream.insert(stream.end(), c.dataOut.begin(), c.dataOut.end());
        ASSERT_EQ(stream.size(), row.size + 2);
        EXPECT_EQ(stream[0] << 8 | stream[1], row.size);
        EXPECT_TRUE(std::equal(plain[0].begin(), plain[0].end(), stream.begin() + 2));
        EXPECT_THAT(Triggers(bench.Drive()), ElementsAre(Trigger{5, 0xF1}));
    }
    EXPECT_THAT(report.messages, IsEmpty());
    EXPECT_EQ(bench.ui.processed, 0) << "method B never processes window messages";
}

TEST_P(MethodBTest, RestartsTheChunkOffsetForEveryBlockAndPausesByPath) {
    SimulatedBench bench(MethodBDrive(), Platform());
    DemoFirmwareRecipe recipe;
    recipe.blockSizes = {0x5000, 0x100, 0x4001};
    const ImageOnDisk image = SaveDemoImage(dir, "three.kfs", recipe);

    ASSERT_TRUE(DownloadMethodB(MakeContext(bench, report, image)));
    EXPECT_EQ(Chunks(bench.Drive()), (std::vector<Chunk>{{0, 0, 0x4000},
                                                         {0, 0x4000, 0x1002},
                                                         {1, 0, 0x102},
                                                         {2, 0, 0x4000},
                                                         {2, 0x4000, 3}}));
    EXPECT_THAT(report.progress, ElementsAre(70, 80));
    EXPECT_GE(CommandsWhere(bench.Drive(), [](const auto& c) { return c.Opcode() == 0x3B; }).front().time, 500u);
    // 500 ms before the blocks; 3 s before the wait on the pass-through path only.
    EXPECT_EQ(bench.Clock().SleptMilliseconds(), PassThrough() ? 3500u : 500u);
    EXPECT_EQ(bench.Drive().TriggersAccepted(), 1);
}

TEST_P(MethodBTest, RetriesAParameterListLengthErrorWithTheOtherCode) {
    SimulatedDriveConfig drive = MethodBDrive();
    drive.acceptedTriggers = {{5, 0xE0}};
    drive.triggerRejections = {{{5, 0xF0}, {5, 0x1A, 0x00}}};
    SimulatedBench bench(drive, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);

    ASSERT_TRUE(DownloadMethodB(MakeContext(bench, report, image)));
    EXPECT_THAT(Triggers(bench.Drive()), ElementsAre(Trigger{5, 0xF8}, Trigger{5, 0xE8}));
    auto sequence = WithoutRepeatedPolls(CommandsFromTrigger(bench.Drive()));
    if (PassThrough())
        EXPECT_THAT(sequence, ElementsAre("trigger", "TUR", "trigger", "REQUEST SENSE", "TUR"));
    else
        EXPECT_THAT(sequence, ElementsAre("trigger", "TUR", "trigger", "TUR"));
    EXPECT_THAT(report.messages, IsEmpty());
}

TEST_P(MethodBTest, JudgesARefusedRetryByTheSenseThatCameBackWithIt) {
    // The retry is refused too, and the drive's REQUEST SENSE would answer no
    // sense (the refusal went back with the command): no REQUEST SENSE is
    // sent, and both paths fail on the retry's own sense.
    SimulatedDriveConfig drive = MethodBDrive();
    drive.acceptedTriggers = {};
    drive.triggerRejections = {{{5, 0xF0}, {5, 0x1A, 0x00}}};
    drive.requestSenseClearedByAutoSense = true;
    SimulatedBench bench(drive, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);

    EXPECT_FALSE(DownloadMethodB(MakeContext(bench, report, image)));
    EXPECT_THAT(report.messages,
                ElementsAre(PassThrough() ? "Status:2;SenseCode:5 : 24 : 0;" : "Status:4;SenseCode:5 : 24 : 0;",
                            "Err:Flash Fail."));
    EXPECT_THAT(CommandsWhere(bench.Drive(), [](const auto& c) { return c.Opcode() == 0x03; }), IsEmpty());
    EXPECT_EQ(bench.Drive().TriggersAccepted(), 0);
}

TEST_P(MethodBTest, DoesNotRetryOtherRefusals) {
    SimulatedDriveConfig drive = MethodBDrive();
    drive.acceptedTriggers = {};
    SimulatedBench bench(drive, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);

    EXPECT_FALSE(DownloadMethodB(MakeContext(bench, report, image)));
    EXPECT_THAT(Triggers(bench.Drive()), ElementsAre(Trigger{5, 0xF8}));
    EXPECT_THAT(report.messages,
                ElementsAre(PassThrough() ? "Status:2;SenseCode:5 : 24 : 0;" : "Status:4;SenseCode:5 : 24 : 0;",
                            "Err:Flash Fail."));
}

TEST_P(MethodBTest, TimesOutWithoutKeepingTheWindowAlive) {
    SimulatedDriveConfig drive = MethodBDrive();
    drive.neverReady = true;
    SimulatedBench bench(drive, Platform());
    const ImageOnDisk image = SaveDemoImage(dir);

    EXPECT_FALSE(DownloadMethodB(MakeContext(bench, report, image)));
    EXPECT_THAT(report.messages,
                ElementsAre(PassThrough() ? "Time Out Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;"
                                          : "Time Out Status:2;Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;",
                            "Err:Flash error,time out 120 Sec"));
    EXPECT_EQ(image.records.back().state, DriveState::NeverReady);
    EXPECT_EQ(bench.ui.processed, 0);
}

TEST_P(MethodBTest, RefusesABlockLongerThanItsBufferBeforeSendingAnything) {
    SimulatedBench bench(MethodBDrive(), Platform());
    const ImageOnDisk image = SaveImage(dir, "long.kfs", BuildSingleImageFile(OneBlockOf(0xFFFF)));

    EXPECT_FALSE(DownloadMethodB(MakeContext(bench, report, image)));
    EXPECT_THAT(report.messages, ElementsAre("Err:Block 0 too long for WRITE BUFFER (65535 bytes)!!"));
    EXPECT_THAT(bench.Drive().Commands(), IsEmpty());
    EXPECT_EQ(bench.Clock().SleptMilliseconds(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Machines, MethodBTest, ::testing::ValuesIn(kEveryPlatform),
                         [](const auto& info) { return PlatformTestName(info.param); });

}  // namespace
}  // namespace keluflash::test

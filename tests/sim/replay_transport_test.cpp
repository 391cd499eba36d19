// The replay transport under TAtapi: recorded answers come back in order with
// their time, and the first command that differs in any of the ways a
// program can differ stops the replay, after which nothing is sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "drive/atapi.h"
#include "drive/sim/replay_transport.h"
#include "drive/transfer_digest.h"
#include "tests/support/recording_ui.h"

namespace keluflash {
namespace {

using ::testing::HasSubstr;

constexpr std::array<uint8_t, 12> kInquiry{0x12, 0, 0, 0, 50};
// 5A A2: a memory write of 4 bytes to bank 0 at 0x0010.
constexpr std::array<uint8_t, 12> kWriteMemory{0x5A, 0x00, 0x38, 0x4B, 0x45, 0xA2, 0, 0, 0x00, 0x10, 0, 4};

// Two drives; an INQUIRY of the second that ends 250 ms after the start,
// then a 4-byte write to it.
RecordedSession Session() {
    RecordedSession session;
    session.startTick = 1000;
    // Names in a fake recording only: the replay opens no device.
    session.drives = {{"/dev/sg0", {"/dev/sr0"}, "KELU    ZXR-0131K       ", "1.00"},  // fake recording
                      {"/dev/sg1", {}, "KELU    ZXR-0150K       ", "1.10"}};              // fake recording
    RecordedExchange inquiry;
    inquiry.number = 1;
    inquiry.line = 2;  // the trace's header is line 1
    inquiry.device = 1;
    inquiry.cdb = kInquiry;
    inquiry.direction = kDirectionIn;
    inquiry.length = 50;
    inquiry.dataIn = std::vector<uint8_t>(50, 0x41);
    inquiry.endTick = 1250;
    inquiry.result.outcome = CommandOutcome::Answered;
    RecordedExchange write;
    write.number = 2;
    write.line = 3;
    write.device = 1;
    write.cdb = kWriteMemory;
    write.direction = kDirectionOut;
    write.length = 4;
    const uint8_t bytes[4] = {1, 2, 3, 4};
    write.dataOutDigest = TransferDigest(bytes, 4);
    write.endTick = 1251;
    write.result.outcome = CommandOutcome::Answered;
    write.result.scsiStatus = kScsiStatusCheckCondition;
    write.result.senseData = {0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0};
    write.result.senseLength = 18;
    session.commands = {inquiry, write};
    return session;
}

struct Replay {
    explicit Replay(RecordedSession session = Session())
        : clock(session.startTick), transport(std::move(session), clock), atapi(transport, ui) {
        atapi.SelectDevice(atapi.Device(1));
    }
    test::RecordingUi ui;
    ReplayClock clock;
    ReplayTransport transport;
    TAtapi atapi;
};

TEST(ReplayTransport, AnswersAsRecordedWithTheRecordedTime) {
    Replay replay;
    ASSERT_EQ(replay.atapi.DeviceCount(), 2);
    EXPECT_EQ(replay.atapi.Device(1).IdentificationText(), "KELU    ZXR-0150K       ");
    EXPECT_EQ(replay.atapi.Device(1).RevisionText(), "1.10");
    EXPECT_EQ(replay.transport.DevicePath(replay.atapi.Device(0)), "/dev/sg0");
    EXPECT_EQ(replay.transport.OtherNames(replay.atapi.Device(0)), std::vector<std::string>{"/dev/sr0"});

    std::array<uint8_t, 100> inquiry{};
    EXPECT_EQ(replay.atapi.Inquiry(inquiry.data()), kStatusGood);
    EXPECT_EQ(inquiry[49], 0x41);
    EXPECT_EQ(inquiry[50], 0x00) << "nothing beyond what came in";
    EXPECT_EQ(replay.clock.TickCount(), 1250u);

    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(replay.atapi.VendorWriteMemory(bytes, 0, 0x10, 4), kScsiStatusCheckCondition);
    EXPECT_EQ(replay.atapi.LastResult().sense, (SenseTriple{5, 0x24, 0}));
    EXPECT_TRUE(replay.transport.Mismatch().empty());
    EXPECT_EQ(replay.transport.Replayed(), 2u);

    // One more than was recorded.
    EXPECT_EQ(replay.atapi.TestUnitReady(), 0);
    EXPECT_EQ(replay.transport.Mismatch(),
              "command 3: sent CDB 000000000000000000000000 to /dev/sg1, no data; the recording ends after 2 commands");
}

// Each way a command can differ from the recorded one stops the replay at it.
TEST(ReplayTransport, TheFirstDifferenceStopsTheReplay) {
    const struct {
        const char* what;
        int device;
        std::array<uint8_t, 12> cdb;
        uint8_t count;
        uint8_t firstByte;
        const char* sent;
    } rows[] = {
        {"another drive", 0, kWriteMemory, 4, 1, "to /dev/sg0, out 4 bytes"},
        {"another CDB", 1, {0x5A, 0x00, 0x38, 0x4B, 0x45, 0xA2, 0, 0, 0x00, 0x11, 0, 4}, 4, 1, "CDB 5a00384b45a2000000110004"},
        {"another length", 1, kWriteMemory, 3, 1, "out 3 bytes"},
        {"other bytes", 1, kWriteMemory, 4, 9, "out 4 bytes (digest "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Replay replay;
        std::array<uint8_t, 100> inquiry{};
        replay.atapi.Inquiry(inquiry.data());
        replay.atapi.SelectDevice(replay.atapi.Device(row.device));
        std::array<uint8_t, 12> cdb = row.cdb;
        cdb[11] = row.count;
        uint8_t bytes[4] = {row.firstByte, 2, 3, 4};
        EXPECT_EQ(replay.atapi.ExecuteCommand(cdb.data(), bytes, row.count, kDirectionOut), 0);
        EXPECT_EQ(replay.atapi.LastResult().outcome, CommandOutcome::NotSent);
        EXPECT_THAT(replay.transport.Mismatch(), HasSubstr("command 2 (line 3): sent "));
        EXPECT_THAT(replay.transport.Mismatch(), HasSubstr(row.sent));
        EXPECT_THAT(replay.transport.Mismatch(),
                    HasSubstr("; recorded CDB 5a00384b45a2000000100004 to /dev/sg1, out 4 bytes (digest "));
        // Stopped: even the recorded command is not sent now.
        replay.atapi.SelectDevice(replay.atapi.Device(1));
        uint8_t recorded[4] = {1, 2, 3, 4};
        cdb = kWriteMemory;
        EXPECT_EQ(replay.atapi.ExecuteCommand(cdb.data(), recorded, 4, kDirectionOut), 0);
        EXPECT_EQ(replay.transport.Replayed(), 1u);
    }
}

// With real time the pauses take it only up to the clock's limit, in all: a
// trace may claim a pause of days, and a held signal waits for the replay.
// The virtual clock follows the recording all the same.
TEST(ReplayTransport, RealTimeEndsAtTheClocksLimit) {
    RecordedSession session = Session();
    session.commands[0].endTick = session.startTick + 40;  // the INQUIRY ends 40 ms in
    session.commands[1].endTick = session.startTick + 90;
    ReplayClock clock(session.startTick, std::chrono::milliseconds(50));
    ReplayTransport transport(std::move(session), clock);
    test::RecordingUi ui;
    TAtapi atapi(transport, ui);
    atapi.SelectDevice(atapi.Device(1));
    std::array<uint8_t, 100> inquiry{};
    atapi.Inquiry(inquiry.data());
    EXPECT_EQ(clock.RealTimeTaken(), std::chrono::milliseconds(40));
    clock.Sleep(30);  // the program's own pause
    EXPECT_EQ(clock.RealTimeTaken(), std::chrono::milliseconds(50));
    uint8_t bytes[4] = {1, 2, 3, 4};
    atapi.VendorWriteMemory(bytes, 0, 0x10, 4);
    EXPECT_EQ(clock.TickCount(), 1090u);
    EXPECT_EQ(clock.RealTimeTaken(), std::chrono::milliseconds(50));
    // Without a limit no real time at all.
    ReplayClock virtualOnly(0);
    virtualOnly.Sleep(60);
    EXPECT_EQ(virtualOnly.TickCount(), 60u);
    EXPECT_EQ(virtualOnly.RealTimeTaken(), std::chrono::milliseconds(0));
}

}  // namespace
}  // namespace keluflash

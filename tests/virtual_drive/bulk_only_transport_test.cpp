// The Bulk-Only device side of keluflash-virtual-drive against a simulated
// drive, with the host's side of the bulk pipes played by the test.
#include <gtest/gtest.h>

#include <deque>

#include "tools/virtual_drive/bulk_only_transport.h"

namespace keluflash::virtual_drive {
namespace {

// What the device did on the pipes, in order.
struct PipeStep {
    enum Kind { Receive, Send, HaltIn, HaltOut } kind;
    uint32_t length = 0;           // asked to receive / sent
    std::vector<uint8_t> bytes;    // sent
};

class HostSide final : public BulkPipes {
public:
    std::deque<std::vector<uint8_t>> fromHost;  // one entry per transfer
    std::vector<PipeStep> steps;
    int cutAfterSteps = -1;                     // the host resets the device here

    bool Receive(uint8_t* data, uint32_t length, uint32_t& received) override {
        if (Cut()) return false;
        steps.push_back({PipeStep::Receive, length, {}});
        if (fromHost.empty()) return false;
        const std::vector<uint8_t> transfer = std::move(fromHost.front());
        fromHost.pop_front();
        received = static_cast<uint32_t>(std::min<size_t>(length, transfer.size()));
        std::copy_n(transfer.begin(), received, data);
        return true;
    }
    bool Send(const uint8_t* data, uint32_t length) override {
        if (Cut()) return false;
        steps.push_back({PipeStep::Send, length, std::vector<uint8_t>(data, data + length)});
        return true;
    }
    bool HaltIn() override { return Cut() ? false : (steps.push_back({PipeStep::HaltIn, 0, {}}), true); }
    bool HaltOut() override { return Cut() ? false : (steps.push_back({PipeStep::HaltOut, 0, {}}), true); }

private:
    bool Cut() const { return cutAfterSteps >= 0 && steps.size() >= static_cast<size_t>(cutAfterSteps); }
};

std::array<uint8_t, 16> Cdb(std::initializer_list<uint8_t> bytes) {
    std::array<uint8_t, 16> cdb{};
    std::copy(bytes.begin(), bytes.end(), cdb.begin());
    return cdb;
}

const auto kInquiry36 = Cdb({0x12, 0, 0, 0, 36, 0});
const auto kRequestSense18 = Cdb({0x03, 0, 0, 0, 18, 0});
const auto kTestUnitReady = Cdb({0x00});
// A trigger in a form the default drive does not take: CHECK CONDITION 5/24/00.
const auto kRejectedTrigger = Cdb({0x5A, 0, 0x38, 0x4B, 0x45, 0xA0, 5, 0xE0, 0, 0, 0, 0});

std::array<uint8_t, 16> BlockWrite(uint8_t block, uint16_t count) {
    return Cdb({0x5A, 0, 0x38, 0x4B, 0x45, 0xA0, 5, block, static_cast<uint8_t>(count >> 8),
                static_cast<uint8_t>(count), 0, 0});
}

class BulkOnlyTest : public ::testing::Test {
protected:
    explicit BulkOnlyTest(SimulatedDriveConfig config = {})
        : drive(std::move(config), clock),
          device(host, [this](const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction) {
              return drive.Execute(cdb, data, length, direction);
          }) {}

    // The host sends one CBW (and its data-out), the device serves it.
    CommandOutcome Run(const std::array<uint8_t, 16>& cdb, uint32_t length, bool dataIn,
                       std::vector<uint8_t> dataOut = {}, uint8_t lun = 0, uint8_t cdbLength = 12) {
        host.steps.clear();
        CommandBlockWrapper cbw;
        cbw.tag = ++tag;
        cbw.dataTransferLength = length;
        cbw.dataIn = dataIn;
        cbw.lun = lun;
        cbw.cdbLength = cdbLength;
        cbw.cdb = cdb;
        const auto bytes = MakeCbw(cbw);
        host.fromHost.emplace_back(bytes.begin(), bytes.end());
        if (!dataOut.empty()) host.fromHost.push_back(std::move(dataOut));
        CommandBlockWrapper received;
        CbwCheck check = CbwCheck::Valid;
        EXPECT_TRUE(device.ReceiveCommand(received, check));
        return device.Serve(received, check);
    }

    // The CSW the device sent last, checked against the tag.
    std::array<uint8_t, kCswLength> LastCsw() const {
        std::array<uint8_t, kCswLength> csw{};
        const PipeStep& last = host.steps.back();
        EXPECT_EQ(last.kind, PipeStep::Send);
        EXPECT_EQ(last.bytes.size(), kCswLength);
        std::copy_n(last.bytes.begin(), std::min(last.bytes.size(), csw.size()), csw.begin());
        EXPECT_EQ(csw, MakeCsw(tag, Le32(&csw[8]), csw[12]));
        return csw;
    }
    static uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

    std::vector<PipeStep::Kind> Kinds() const {
        std::vector<PipeStep::Kind> kinds;
        for (const PipeStep& step : host.steps) kinds.push_back(step.kind);
        return kinds;
    }

    VirtualClock clock;
    SimulatedDrive drive;
    HostSide host;
    BulkOnlyDevice device;
    uint32_t tag = 0x100;
};

TEST(CbwTest, OnlyThirtyOneBytesWithTheSignatureAreACbw) {
    CommandBlockWrapper cbw;
    cbw.tag = 7;
    cbw.dataTransferLength = 36;
    cbw.dataIn = true;
    cbw.cdbLength = 6;
    cbw.cdb = kInquiry36;
    auto bytes = MakeCbw(cbw);
    CommandBlockWrapper parsed;
    ASSERT_EQ(ParseCbw(bytes.data(), bytes.size(), parsed), CbwCheck::Valid);
    EXPECT_EQ(parsed.tag, 7u);
    EXPECT_EQ(parsed.dataTransferLength, 36u);
    EXPECT_TRUE(parsed.dataIn);
    EXPECT_EQ(parsed.cdb, kInquiry36);

    std::vector<uint8_t> longer(bytes.begin(), bytes.end());
    longer.push_back(0);  // 32 bytes, as some hosts send
    EXPECT_EQ(ParseCbw(longer.data(), longer.size(), parsed), CbwCheck::Invalid);
    EXPECT_EQ(ParseCbw(bytes.data(), 30, parsed), CbwCheck::Invalid);
    bytes[3] = 0x44;  // "USBD"
    EXPECT_EQ(ParseCbw(bytes.data(), bytes.size(), parsed), CbwCheck::Invalid);
}

TEST(CbwTest, ReservedBitsLunAndCdbLengthMakeItNotMeaningful) {
    struct Case {
        uint8_t flags, lun, cdbLength;
    };
    for (const Case c : {Case{0x01, 0, 6}, Case{0, 1, 6}, Case{0, 0x10, 6}, Case{0, 0, 0}, Case{0, 0, 17}}) {
        CommandBlockWrapper cbw;
        cbw.flags = c.flags;
        cbw.lun = c.lun;
        cbw.cdbLength = c.cdbLength;
        const auto bytes = MakeCbw(cbw);
        CommandBlockWrapper parsed;
        EXPECT_EQ(ParseCbw(bytes.data(), bytes.size(), parsed), CbwCheck::NotMeaningful)
            << int{c.flags} << " " << int{c.lun} << " " << int{c.cdbLength};
    }
}

TEST_F(BulkOnlyTest, DataInOfTheAnnouncedLengthEndsWithAPassedCsw) {
    const CommandOutcome outcome = Run(kInquiry36, 36, true);
    ASSERT_EQ(Kinds(), (std::vector{PipeStep::Receive, PipeStep::Send, PipeStep::Send}));
    EXPECT_EQ(host.steps[1].length, 36u);
    EXPECT_EQ(std::string(host.steps[1].bytes.begin() + 8, host.steps[1].bytes.begin() + 12), "KELU");
    const auto csw = LastCsw();
    EXPECT_EQ(csw[12], kCswPassed);
    EXPECT_EQ(Le32(&csw[8]), 0u);
    EXPECT_TRUE(outcome.completed);
}

TEST_F(BulkOnlyTest, ShortDataInHaltsBulkInAndReportsTheResidue) {
    // 18 bytes of sense against 96 the host allowed; a command without data
    // against 8 the host allowed.
    Run(kRequestSense18, 96, true);
    EXPECT_EQ(Kinds(), (std::vector{PipeStep::Receive, PipeStep::Send, PipeStep::HaltIn, PipeStep::Send}));
    EXPECT_EQ(Le32(&LastCsw()[8]), 96u - 18u);

    Run(kTestUnitReady, 8, true);
    EXPECT_EQ(Kinds(), (std::vector{PipeStep::Receive, PipeStep::HaltIn, PipeStep::Send}));
    EXPECT_EQ(Le32(&LastCsw()[8]), 8u);
    EXPECT_EQ(LastCsw()[12], kCswPassed);
}

TEST_F(BulkOnlyTest, DataOutIsReadAtExactlyTheAnnouncedLength) {
    // 0xFFFE is not a multiple of any packet size: a read rounded up would
    // wait for bytes that never come, or take the next CBW.
    std::vector<uint8_t> block(0xFFFE, 0xA5);
    const CommandOutcome outcome = Run(BlockWrite(0, 0xFFFE), 0xFFFE, false, block);
    ASSERT_EQ(Kinds(), (std::vector{PipeStep::Receive, PipeStep::Receive, PipeStep::Send}));
    EXPECT_EQ(host.steps[1].length, 0xFFFEu);
    EXPECT_EQ(LastCsw()[12], kCswPassed);
    EXPECT_EQ(Le32(&LastCsw()[8]), 0u);
    EXPECT_EQ(drive.StagedBlockCount(), 1);
    EXPECT_TRUE(outcome.completed);

    // More data than the command takes: all of it is received, the rest is residue.
    Run(BlockWrite(3, 0x100), 0x200, false, std::vector<uint8_t>(0x200, 1));
    EXPECT_EQ(host.steps[1].length, 0x200u);
    EXPECT_EQ(LastCsw()[12], kCswPassed);
    EXPECT_EQ(Le32(&LastCsw()[8]), 0x100u);
}

TEST_F(BulkOnlyTest, ADataStageThatDoesNotFitTheCommandIsAPhaseError) {
    struct Case {
        const char* what;
        std::array<uint8_t, 16> cdb;
        uint32_t length;
        bool dataIn;
        std::vector<PipeStep::Kind> steps;
    };
    const std::vector<Case> cases = {
        {"host expects no data, drive sends", kInquiry36, 0, true, {PipeStep::Receive, PipeStep::Send}},
        {"host reads less than the drive sends", kInquiry36, 20, true,
         {PipeStep::Receive, PipeStep::HaltIn, PipeStep::Send}},
        {"host reads, drive receives", BlockWrite(0, 0x10), 0x10, true,
         {PipeStep::Receive, PipeStep::HaltIn, PipeStep::Send}},
        {"host writes, drive sends", Cdb({0x5A, 0, 0x38, 0x4B, 0x45, 0x11, 0, 0, 0, 0, 0, 0}), 256, false,
         {PipeStep::Receive, PipeStep::HaltOut, PipeStep::Send}},
        {"host writes less than the drive takes", BlockWrite(0, 0x100), 0x80, false,
         {PipeStep::Receive, PipeStep::HaltOut, PipeStep::Send}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CommandOutcome outcome = Run(c.cdb, c.length, c.dataIn);
        EXPECT_EQ(Kinds(), c.steps);
        EXPECT_EQ(LastCsw()[12], kCswPhaseError);
        EXPECT_EQ(Le32(&LastCsw()[8]), c.length);
        EXPECT_EQ(outcome.cswStatus, kCswPhaseError);
        host.fromHost.clear();  // the data-out the device refused
    }
    EXPECT_EQ(drive.StagedBlockCount(), 0);  // nothing reached the drive
}

TEST_F(BulkOnlyTest, AFailedCommandKeepsItsSenseForTheHostsRequestSense) {
    Run(kRejectedTrigger, 0, false);
    EXPECT_EQ(LastCsw()[12], kCswFailed);

    // usb-storage asks with a 6-byte REQUEST SENSE of its own.
    const CommandOutcome sense = Run(kRequestSense18, 18, true, {}, 0, 6);
    ASSERT_EQ(Kinds(), (std::vector{PipeStep::Receive, PipeStep::Send, PipeStep::Send}));
    const std::vector<uint8_t>& data = host.steps[1].bytes;
    EXPECT_EQ(data[0], 0x70);
    EXPECT_EQ((SenseTriple{data[2], data[12], data[13]}), (SenseTriple{5, 0x24, 0}));
    EXPECT_TRUE(sense.senseFromKept);
    EXPECT_EQ(LastCsw()[12], kCswPassed);

    // The sense was consumed: a second REQUEST SENSE (the program's own)
    // finds none, as on a real drive behind usb-storage.
    Run(kRequestSense18, 18, true);
    EXPECT_EQ(host.steps[1].bytes[2], 0);
    EXPECT_EQ(host.steps[1].bytes[12], 0);
}

TEST_F(BulkOnlyTest, AnyOtherCommandEndsTheKeptSense) {
    Run(kRejectedTrigger, 0, false);
    Run(kTestUnitReady, 0, false);
    EXPECT_FALSE(device.KeptSense().has_value());
    const CommandOutcome sense = Run(kRequestSense18, 18, true);
    EXPECT_FALSE(sense.senseFromKept);
    EXPECT_EQ(host.steps[1].bytes[2], 0);
}

class AutoSenseDriveTest : public BulkOnlyTest {
protected:
    static SimulatedDriveConfig Config() {
        SimulatedDriveConfig config;
        config.requestSenseClearedByAutoSense = true;  // the drive itself forgets its sense
        return config;
    }
    AutoSenseDriveTest() : BulkOnlyTest(Config()) {}
};

TEST_F(AutoSenseDriveTest, TheTransportKeepsTheSenseWhereTheDriveForgetsIt) {
    Run(kRejectedTrigger, 0, false);
    Run(kRequestSense18, 18, true, {}, 0, 6);
    const std::vector<uint8_t>& data = host.steps[1].bytes;
    EXPECT_EQ((SenseTriple{data[2], data[12], data[13]}), (SenseTriple{5, 0x24, 0}));
}

TEST_F(BulkOnlyTest, AnInvalidCbwHaltsBothPipesAndSendsNoCsw) {
    host.fromHost.push_back(std::vector<uint8_t>(31, 0x11));
    CommandBlockWrapper cbw;
    CbwCheck check = CbwCheck::Valid;
    ASSERT_TRUE(device.ReceiveCommand(cbw, check));
    EXPECT_EQ(check, CbwCheck::Invalid);
    host.steps.clear();
    const CommandOutcome outcome = device.Serve(cbw, check);
    EXPECT_EQ(Kinds(), (std::vector{PipeStep::HaltIn, PipeStep::HaltOut}));
    EXPECT_FALSE(outcome.completed);
}

TEST_F(BulkOnlyTest, ACbwForAnotherLunFailsWithItsOwnSense) {
    Run(kInquiry36, 36, true, {}, 1);
    EXPECT_EQ(Kinds(), (std::vector{PipeStep::Receive, PipeStep::HaltIn, PipeStep::Send}));
    EXPECT_EQ(LastCsw()[12], kCswFailed);
    Run(kRequestSense18, 18, true);
    EXPECT_EQ(host.steps[1].bytes[2], 5);
    EXPECT_EQ(host.steps[1].bytes[12], 0x25);
}

TEST_F(BulkOnlyTest, AResetInTheDataStageEndsTheCommandWithoutCsw) {
    host.cutAfterSteps = 2;  // after the CBW and the data-out read began
    const CommandOutcome outcome = Run(BlockWrite(0, 0x100), 0x100, false, std::vector<uint8_t>(0x100, 1));
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(Kinds(), (std::vector{PipeStep::Receive, PipeStep::Receive}));
    host.cutAfterSteps = -1;
    host.fromHost.clear();
    device.Reset();
    EXPECT_FALSE(device.KeptSense().has_value());
    Run(kTestUnitReady, 0, false);
    EXPECT_EQ(LastCsw()[12], kCswPassed);
}

}  // namespace
}  // namespace keluflash::virtual_drive

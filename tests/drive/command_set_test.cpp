// Every drive command as it leaves TAtapi: its 12-byte CDB, direction, data
// length and buffer.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "drive/atapi.h"
#include "fake_drive_ports.h"

namespace keluflash {
namespace {

using Cdb = std::array<uint8_t, 12>;

struct Sent {
    Cdb cdb{};
    uint8_t direction = 0xFF;
    uint32_t length = 0;
    const uint8_t* data = nullptr;
};

struct LastCommand final : CommandObserver {
    Sent sent;
    void CommandExecuted(const CommandRecord& r) override {
        std::copy(r.cdb, r.cdb + 12, sent.cdb.begin());
        sent.direction = r.direction;
        sent.length = r.length;
        sent.data = r.data;
    }
};

TEST(CommandSet, EachCommandBuildsItsCdbDirectionAndLength) {
    struct Case {
        const char* name;
        std::function<uint8_t(TAtapi&, uint8_t*)> send;
        Cdb cdb;
        uint8_t direction;
        uint32_t length;
        bool carriesBuffer;
    };
    const std::vector<Case> cases{
        {"TestUnitReady", [](TAtapi& a, uint8_t*) { return a.TestUnitReady(); },
         {0x00}, kDirectionNone, 0, false},
        {"Inquiry", [](TAtapi& a, uint8_t* b) { return a.Inquiry(b); },
         {0x12, 0, 0, 0, 0x32}, kDirectionIn, 50, true},
        {"RequestSense", [](TAtapi& a, uint8_t* b) { return a.RequestSense(b); },
         {0x03, 0, 0, 0, 0x12}, kDirectionIn, 18, true},
        {"StopPlayScan", [](TAtapi& a, uint8_t*) { return a.StopPlayScan(); },
         {0x4E}, kDirectionNone, 0, false},
        {"StopUnit", [](TAtapi& a, uint8_t*) { return a.StopUnit(); },
         {0x1B}, kDirectionNone, 0, false},
        {"WriteBufferDownload block 1, offset 0x4000, 0x4000 bytes",
         [](TAtapi& a, uint8_t* b) { return a.WriteBufferDownload(b, 1, 0x4000, 0x4000); },
         {0x3B, 0x05, 0x01, 0x01, 0x40, 0x00, 0x00, 0x40, 0x00}, kDirectionOut, 0x4000, true},
        {"WriteBufferDownload, a 24-bit count",
         [](TAtapi& a, uint8_t* b) { return a.WriteBufferDownload(b, 0xAB, 0xCDEF, 0x123456); },
         {0x3B, 0x05, 0x01, 0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56}, kDirectionOut, 0x123456, true},
        {"VendorWriteBlock, a block",
         [](TAtapi& a, uint8_t* b) { return a.VendorWriteBlock(b, 5, 3, 0xFFFE, 0); },
         {0x5A, 0, 0x38, 0x4B, 0x45, 0xA0, 5, 3, 0xFF, 0xFE, 0, 0}, kDirectionOut, 0xFFFE, true},
        {"VendorWriteBlock, trigger of a 16-block image",
         [](TAtapi& a, uint8_t*) { return a.VendorWriteBlock(nullptr, 4, static_cast<uint8_t>(16 - 32), 0, 0xBEEF); },
         {0x5A, 0, 0x38, 0x4B, 0x45, 0xA0, 4, 0xF0, 0, 0, 0xBE, 0xEF}, kDirectionOut, 0, false},
        {"VendorQueryMode", [](TAtapi& a, uint8_t* b) { return a.VendorQueryMode(b); },
         {0x5A, 0, 0x38, 0x4B, 0x45, 0xC0}, kDirectionIn, 10, true},
        {"VendorReadMemory bank 3, address 0xF000",
         [](TAtapi& a, uint8_t* b) { return a.VendorReadMemory(b, 3, 0xF000); },
         {0x5A, 0, 0x38, 0x4B, 0x45, 0x11, 0xF0, 0x00, 0x00, 0x03, 0, 0}, kDirectionIn, 256, true},
        {"VendorReadPatchInfo", [](TAtapi& a, uint8_t* b) { return a.VendorReadPatchInfo(b); },
         {0x5A, 0, 0x38, 0x4B, 0x45, 0xA3}, kDirectionIn, 65536, true},
        {"VendorWriteMemory bank 2, address 0x1234, 128 bytes",
         [](TAtapi& a, uint8_t* b) { return a.VendorWriteMemory(b, 2, 0x1234, 128); },
         {0x5A, 0, 0x38, 0x4B, 0x45, 0xA2, 0x00, 0x02, 0x12, 0x34, 0x00, 0x80}, kDirectionOut, 128, true},
    };

    test::FakeMachine machine;
    uint8_t answerStatus = 0;
    machine.AddLetterDrive('D', [&answerStatus](const uint8_t*) { test::DeviceAnswer answer;
        answer.scsiStatus = answerStatus;
        return answer;
    });
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    LastCommand last;
    atapi.SetCommandObserver(&last);
    std::vector<uint8_t> buffer(65536);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answerStatus = 0;
        EXPECT_EQ(c.send(atapi, buffer.data()), kStatusGood);
        EXPECT_EQ(last.sent.cdb, c.cdb);
        EXPECT_EQ(last.sent.direction, c.direction);
        EXPECT_EQ(last.sent.length, c.length);
        if (c.carriesBuffer) EXPECT_EQ(last.sent.data, buffer.data());
        else EXPECT_EQ(last.sent.data, nullptr);
        // The length travels whole to the transport.
        EXPECT_EQ(machine.passThrough.requests.back().spt.DataTransferLength, c.length);
        // A failure status comes back unchanged.
        answerStatus = 8;
        EXPECT_EQ(c.send(atapi, buffer.data()), 8);
    }
}

}  // namespace
}  // namespace keluflash

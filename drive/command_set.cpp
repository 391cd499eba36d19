// The drive commands: each copies its 12-byte CDB template, writes its
// parameters big-endian over the named bytes and runs it on the selected
// device. Statuses go back unchanged; callers decide.
#include <array>

#include "drive/atapi.h"
#include "drive/scsi_opcodes.h"

namespace keluflash {

namespace {

using Cdb = std::array<uint8_t, 12>;

constexpr uint32_t kRequestSenseLength = 18;

constexpr Cdb kTestUnitReady{kOpTestUnitReady};
constexpr Cdb kInquiry{kOpInquiry, 0x00, 0x00, 0x00, kInquiryLength};
constexpr Cdb kRequestSense{kOpRequestSense, 0x00, 0x00, 0x00, kRequestSenseLength};
constexpr Cdb kStopPlayScan{kOpStopPlayScan};
constexpr Cdb kStopUnit{kOpStartStopUnit};
constexpr Cdb kWriteBufferDownload{kOpWriteBuffer, 0x05, 0x01};  // download microcode and save, buffer 1

constexpr Cdb Vendor(uint8_t subCode) {
    return {kOpVendor, 0x00, kVendorPrefix[0], kVendorPrefix[1], kVendorPrefix[2], subCode};
}
constexpr Cdb kVendorWriteBlock = Vendor(kSubWriteBlock);
constexpr Cdb kVendorQueryMode = Vendor(kSubQueryMode);
constexpr Cdb kVendorReadMemory = Vendor(kSubReadMemory);
constexpr Cdb kVendorReadPatchInfo = Vendor(kSubReadPatchInfo);
constexpr Cdb kVendorWriteMemory = Vendor(kSubWriteMemory);

void PutBigEndian16(Cdb& cdb, size_t at, uint16_t value) {
    cdb[at] = static_cast<uint8_t>(value >> 8);
    cdb[at + 1] = static_cast<uint8_t>(value);
}

}  // namespace

uint8_t TAtapi::TestUnitReady() {
    return ExecuteCommand(kTestUnitReady.data(), nullptr, 0, kDirectionNone);
}

uint8_t TAtapi::Inquiry(uint8_t* buffer) {
    return ExecuteCommand(kInquiry.data(), buffer, kInquiryLength, kDirectionIn);
}

uint8_t TAtapi::RequestSense(uint8_t* buffer) {
    return ExecuteCommand(kRequestSense.data(), buffer, kRequestSenseLength, kDirectionIn);
}

uint8_t TAtapi::StopPlayScan() {
    return ExecuteCommand(kStopPlayScan.data(), nullptr, 0, kDirectionNone);
}

uint8_t TAtapi::StopUnit() {
    return ExecuteCommand(kStopUnit.data(), nullptr, 0, kDirectionNone);
}

uint8_t TAtapi::WriteBufferDownload(uint8_t* data, uint8_t block, uint16_t offset, uint32_t count) {
    Cdb cdb = kWriteBufferDownload;
    cdb[3] = block;  // bytes 3-5: the 24-bit offset block * 65536 + offset
    PutBigEndian16(cdb, 4, offset);
    cdb[6] = static_cast<uint8_t>(count >> 16);
    PutBigEndian16(cdb, 7, static_cast<uint16_t>(count));
    return ExecuteCommand(cdb.data(), data, count, kDirectionOut);
}

uint8_t TAtapi::VendorWriteBlock(uint8_t* data, uint8_t mode, uint8_t block, uint16_t count, uint16_t value) {
    Cdb cdb = kVendorWriteBlock;
    cdb[6] = mode;
    cdb[7] = block;
    PutBigEndian16(cdb, 8, count);
    PutBigEndian16(cdb, 10, value);
    return ExecuteCommand(cdb.data(), data, count, kDirectionOut);
}

uint8_t TAtapi::VendorQueryMode(uint8_t* buffer) {
    return ExecuteCommand(kVendorQueryMode.data(), buffer, kQueryModeLength, kDirectionIn);
}

uint8_t TAtapi::VendorReadMemory(uint8_t* buffer, uint8_t bank, uint16_t address) {
    Cdb cdb = kVendorReadMemory;
    PutBigEndian16(cdb, 6, address);
    cdb[9] = bank;
    return ExecuteCommand(cdb.data(), buffer, kReadMemoryLength, kDirectionIn);
}

uint8_t TAtapi::VendorReadPatchInfo(uint8_t* buffer) {
    return ExecuteCommand(kVendorReadPatchInfo.data(), buffer, kPatchInfoLength, kDirectionIn);
}

uint8_t TAtapi::VendorWriteMemory(uint8_t* data, uint8_t bank, uint16_t address, uint8_t count) {
    Cdb cdb = kVendorWriteMemory;
    cdb[7] = bank;
    PutBigEndian16(cdb, 8, address);
    cdb[11] = count;
    return ExecuteCommand(cdb.data(), data, count, kDirectionOut);
}

}  // namespace keluflash

#pragma once
// The SCSI commands the program sends and a KELU drive answers, by name: the
// command set builds its CDBs from them, and the simulated drive, the machines
// that carry it and the USB gadget that serves it to a kernel read CDBs by them.

#include <array>
#include <cstdint>

namespace keluflash {

inline constexpr uint8_t kOpTestUnitReady = 0x00;
inline constexpr uint8_t kOpRequestSense = 0x03;
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpStartStopUnit = 0x1B;
inline constexpr uint8_t kOpWriteBuffer = 0x3B;
inline constexpr uint8_t kOpStopPlayScan = 0x4E;
inline constexpr uint8_t kOpVendor = 0x5A;

// Bytes 2-4 of every vendor command: 38, then the signature 4B 45. Without
// them 5A is MODE SENSE(10), as every other drive reads it.
inline constexpr std::array<uint8_t, 3> kVendorPrefix{0x38, 0x4B, 0x45};
inline constexpr bool IsVendorCommand(const uint8_t* cdb) {
    return cdb[0] == kOpVendor && cdb[2] == kVendorPrefix[0] && cdb[3] == kVendorPrefix[1] &&
           cdb[4] == kVendorPrefix[2];
}

// The vendor command's sub-code (byte 5).
inline constexpr uint8_t kSubWriteBlock = 0xA0;  // a block count of 0 is the trigger
inline constexpr uint8_t kSubQueryMode = 0xC0;
inline constexpr uint8_t kSubReadMemory = 0x11;
inline constexpr uint8_t kSubReadPatchInfo = 0xA3;
inline constexpr uint8_t kSubWriteMemory = 0xA2;

// What the vendor reads return; no CDB byte carries these lengths.
inline constexpr uint32_t kQueryModeLength = 10;
inline constexpr uint32_t kReadMemoryLength = 256;
inline constexpr uint32_t kPatchInfoLength = 65536;

}  // namespace keluflash

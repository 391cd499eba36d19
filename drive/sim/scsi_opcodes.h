#pragma once
// The operation codes a simulated drive answers, by name: the drive itself,
// the machines that carry it and the USB gadget that serves it to a kernel
// all read CDBs by them.

#include <cstdint>

namespace keluflash {

inline constexpr uint8_t kOpTestUnitReady = 0x00;
inline constexpr uint8_t kOpRequestSense = 0x03;
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpStartStopUnit = 0x1B;
inline constexpr uint8_t kOpWriteBuffer = 0x3B;
inline constexpr uint8_t kOpStopPlayScan = 0x4E;
inline constexpr uint8_t kOpVendor = 0x5A;

}  // namespace keluflash

#pragma once
// The SCSI pass-through request as the system fills it: the published
// SCSI_PASS_THROUGH_DIRECT structure in its native layout (44 bytes on 32-bit
// Windows), four zero bytes and a 32-byte sense area, handed to the operating
// system as one buffer. Declared here without any system header.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace keluflash {

// DataIn values of the pass-through structure.
inline constexpr uint8_t kScsiIoctlDataOut = 0;
inline constexpr uint8_t kScsiIoctlDataIn = 1;
inline constexpr uint8_t kScsiIoctlDataUnspecified = 2;

inline constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;

// Windows error codes the transport treats as "the command completed".
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorIoDevice = 1117;

struct ScsiPassThroughDirect {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    void* DataBuffer;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

struct PassThroughBuffer {
    ScsiPassThroughDirect spt;
    uint32_t filler;
    uint8_t sense[32];
};

static_assert(offsetof(ScsiPassThroughDirect, Length) == 0 && offsetof(ScsiPassThroughDirect, ScsiStatus) == 2 &&
              offsetof(ScsiPassThroughDirect, PathId) == 3 && offsetof(ScsiPassThroughDirect, TargetId) == 4 &&
              offsetof(ScsiPassThroughDirect, Lun) == 5 && offsetof(ScsiPassThroughDirect, CdbLength) == 6 &&
              offsetof(ScsiPassThroughDirect, SenseInfoLength) == 7 && offsetof(ScsiPassThroughDirect, DataIn) == 8 &&
              offsetof(ScsiPassThroughDirect, DataTransferLength) == 12 &&
              offsetof(ScsiPassThroughDirect, TimeOutValue) == 16);
#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit layout (drive/win32 also checks it against the system's header).
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20 && offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24 && offsetof(ScsiPassThroughDirect, Cdb) == 28);
static_assert(sizeof(ScsiPassThroughDirect) == 44, "published 32-bit layout");
static_assert(offsetof(PassThroughBuffer, sense) == 48, "sense area at offset 48");
static_assert(sizeof(PassThroughBuffer) == 80, "80-byte request buffer");
#endif

inline constexpr uint8_t kPassThroughCdbLength = 12;      // every CDB goes out as 12 bytes
inline constexpr uint8_t kPassThroughSenseRequested = 24;
inline constexpr uint32_t kPassThroughTimeoutSeconds = 20;

// The request as the transport hands it to the system: cleared, then the
// fields of one command. PathId, TargetId and Lun stay 0: the handle
// addresses the drive.
inline PassThroughBuffer MakePassThroughRequest(const uint8_t* cdb, void* data, uint32_t length, uint8_t dataIn) {
    PassThroughBuffer buffer{};
    ScsiPassThroughDirect& spt = buffer.spt;
    spt.Length = sizeof(ScsiPassThroughDirect);  // 44 in the 32-bit layout
    spt.CdbLength = kPassThroughCdbLength;
    spt.SenseInfoLength = kPassThroughSenseRequested;
    spt.DataIn = dataIn;
    spt.DataTransferLength = length;
    spt.TimeOutValue = kPassThroughTimeoutSeconds;
    spt.DataBuffer = data;
    spt.SenseInfoOffset = offsetof(PassThroughBuffer, sense);
    std::memcpy(spt.Cdb, cdb, kPassThroughCdbLength);
    return buffer;
}

}  // namespace keluflash

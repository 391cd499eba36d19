#pragma once
// ASPI for Win32 request blocks, our own declarations of the published layout
// (byte-packed; the sizes hold for 32-bit programs, where pointers are 4 bytes).
#include <cstddef>
#include <cstdint>

namespace keluflash {

inline constexpr uint8_t kScGetDevType = 1;
inline constexpr uint8_t kScExecScsiCmd = 2;
inline constexpr uint8_t kScAbortSrb = 3;

inline constexpr uint8_t kSsPending = 0;
inline constexpr uint8_t kSsComp = 1;
inline constexpr uint8_t kSsAborted = 2;
inline constexpr uint8_t kSsAbortFail = 3;
inline constexpr uint8_t kSsErr = 4;
inline constexpr uint8_t kSsInvalidCmd = 0x80;
inline constexpr uint8_t kSsInvalidHa = 0x81;
inline constexpr uint8_t kSsNoDevice = 0x82;

inline constexpr uint8_t kSrbEventNotify = 0x40;
inline constexpr uint8_t kAspiSenseLength = 14;

#pragma pack(push, 1)
struct SrbHeader {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
};

struct SrbGDEVBlock {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint8_t SRB_DeviceType;
    uint8_t SRB_Rsvd1;
};

struct SrbExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[kAspiSenseLength + 2];
};

struct SrbAbort {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};
#pragma pack(pop)

// The ASPI layer completes a request from its own context, so a request's
// status is read from memory each time, never from a copy the compiler kept.
inline uint8_t ReadAspiStatus(const uint8_t& status) {
    return *static_cast<const volatile uint8_t*>(&status);
}

// Every field where the ASPI for Win32 documentation puts it: an ASPI layer
// reads the block by these offsets, whatever our declarations say.
static_assert(offsetof(SrbHeader, SRB_Cmd) == 0 && offsetof(SrbHeader, SRB_Status) == 1 &&
              offsetof(SrbHeader, SRB_HaId) == 2 && offsetof(SrbHeader, SRB_Flags) == 3 &&
              offsetof(SrbHeader, SRB_Hdr_Rsvd) == 4 && sizeof(SrbHeader) == 8);
static_assert(offsetof(SrbGDEVBlock, SRB_Cmd) == 0 && offsetof(SrbGDEVBlock, SRB_Status) == 1 &&
              offsetof(SrbGDEVBlock, SRB_HaId) == 2 && offsetof(SrbGDEVBlock, SRB_Flags) == 3 &&
              offsetof(SrbGDEVBlock, SRB_Hdr_Rsvd) == 4 && offsetof(SrbGDEVBlock, SRB_Target) == 8 &&
              offsetof(SrbGDEVBlock, SRB_Lun) == 9 && offsetof(SrbGDEVBlock, SRB_DeviceType) == 10 &&
              offsetof(SrbGDEVBlock, SRB_Rsvd1) == 11);
static_assert(sizeof(SrbGDEVBlock) == 12, "12-byte SC_GET_DEV_TYPE request");
static_assert(offsetof(SrbExecSCSICmd, SRB_Cmd) == 0 && offsetof(SrbExecSCSICmd, SRB_Status) == 1 &&
              offsetof(SrbExecSCSICmd, SRB_HaId) == 2 && offsetof(SrbExecSCSICmd, SRB_Flags) == 3 &&
              offsetof(SrbExecSCSICmd, SRB_Hdr_Rsvd) == 4 && offsetof(SrbExecSCSICmd, SRB_Target) == 8 &&
              offsetof(SrbExecSCSICmd, SRB_Lun) == 9 && offsetof(SrbExecSCSICmd, SRB_Rsvd1) == 10 &&
              offsetof(SrbExecSCSICmd, SRB_BufLen) == 12 && offsetof(SrbExecSCSICmd, SRB_BufPointer) == 16);
#if UINTPTR_MAX == 0xFFFFFFFFu
// After the first pointer the 32-bit layout is the published one.
static_assert(offsetof(SrbExecSCSICmd, SRB_SenseLen) == 20 && offsetof(SrbExecSCSICmd, SRB_CDBLen) == 21 &&
              offsetof(SrbExecSCSICmd, SRB_HaStat) == 22 && offsetof(SrbExecSCSICmd, SRB_TargStat) == 23 &&
              offsetof(SrbExecSCSICmd, SRB_PostProc) == 24 && offsetof(SrbExecSCSICmd, SRB_Rsvd2) == 28 &&
              offsetof(SrbExecSCSICmd, CDBByte) == 48 && offsetof(SrbExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SrbExecSCSICmd) == 80, "80-byte SC_EXEC_SCSI_CMD request");
static_assert(offsetof(SrbAbort, SRB_ToAbort) == 8);
static_assert(sizeof(SrbAbort) == 12, "12-byte SC_ABORT_SRB request");
#endif

}  // namespace keluflash

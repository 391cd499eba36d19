#pragma once
// ASPI for Win32 request blocks, our own declarations of the published layout
// (byte-packed; the sizes hold for 32-bit programs, where pointers are 4 bytes).
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

static_assert(sizeof(SrbGDEVBlock) == 12, "12-byte SC_GET_DEV_TYPE request");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SrbExecSCSICmd) == 80, "80-byte SC_EXEC_SCSI_CMD request");
static_assert(sizeof(SrbAbort) == 12, "12-byte SC_ABORT_SRB request");
#endif

}  // namespace keluflash

#pragma once
// What became of one drive command, kept in categories as sg3_utils'
// pass-through layer keeps them: the drive answered (SCSI status and sense),
// the host or its driver gave up on the command, or the operating system
// refused the call. Each transport fills it; the status byte the rest of the
// program reads is derived from it in one place per transport.
#include <array>
#include <cstdint>
#include <string>

#include "drive/device_entry.h"

namespace keluflash {

// SCSI status bytes as the drive sends them (not the program's status byte,
// where 1 means done).
inline constexpr uint8_t kScsiStatusGood = 0x00;
inline constexpr uint8_t kScsiStatusCheckCondition = 0x02;
inline constexpr uint8_t kScsiStatusBusy = 0x08;

inline constexpr size_t kCommandSenseCapacity = 32;

enum class CommandOutcome : uint8_t {
    NotSent,        // no transport: nothing went out
    Answered,       // the drive answered with a SCSI status (sense with CHECK CONDITION)
    HostFailure,    // the host adapter or driver gave up; the drive may have seen the command
    OsError,        // the system refused the call, or the drive is gone
};

enum class HostFailureKind : uint8_t {
    None,
    TimedOut,       // the command's time-out expired
    TransportError, // a bus or driver error after the command may have reached the drive
};

struct CommandResult {
    CommandOutcome outcome = CommandOutcome::NotSent;
    uint8_t scsiStatus = kScsiStatusGood;
    std::array<uint8_t, kCommandSenseCapacity> sense{};
    uint8_t senseLength = 0;
    HostFailureKind hostFailure = HostFailureKind::None;
    bool deviceGone = false;     // with OsError: the drive is no longer there
    uint32_t osError = 0;        // the system's own code (errno, GetLastError)
    std::string osErrorText;     // the system's own text for it

    SenseTriple Sense() const { return SenseTriple{sense[2], sense[12], sense[13]}; }
    // The drive took the command and answered it (whatever the status).
    bool Answered() const { return outcome == CommandOutcome::Answered; }
};

}  // namespace keluflash

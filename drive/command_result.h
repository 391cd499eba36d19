#pragma once
// What became of one drive command, kept in one object as sg3_utils'
// pass-through layer keeps it: its category (the drive answered; the host or
// its driver gave up on it; the system refused the call; nothing was sent),
// the SCSI status, the sense (parsed once, by TAtapi), the residual count and
// the system's error. Each transport fills it; TAtapi derives the status byte
// the rest of the program reads from it, in one place.
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

// Sense keys the flash steps read.
inline constexpr uint8_t kSenseKeyNoSense = 0;
inline constexpr uint8_t kSenseKeyNotReady = 2;
inline constexpr uint8_t kSenseKeyIllegalRequest = 5;

enum class CommandOutcome : uint8_t {
    NotSent,        // no transport, or a transport that sends nothing more: nothing went out
    Answered,       // the drive answered with a SCSI status (sense with CHECK CONDITION)
    HostFailure,    // the host adapter or driver gave up; the drive may have seen the command
    OsError,        // the system refused the call, or the drive is gone
};

enum class HostFailureKind : uint8_t {
    None,
    TimedOut,       // the command's time-out expired
    TransportError, // a bus or driver error after the command may have reached the drive
};

// What became of a command, as every step reads it. Sense bytes that came
// with a time-out or a host error are not the drive's answer: the host gave
// up on the command, whatever it found in its sense buffer.
enum class CommandVerdict : uint8_t {
    Answered,     // the drive answered with a SCSI status
    NoAnswer,     // a time-out or a host or driver error: the drive may have seen it
    SystemError,  // the system refused the call; the drive is still there
    DriveGone,    // the drive has left the system
    NotSent,      // nothing went out
};

struct CommandResult {
    CommandOutcome outcome = CommandOutcome::NotSent;
    uint8_t scsiStatus = kScsiStatusGood;
    // The sense bytes as they came back, and how many of them are valid.
    std::array<uint8_t, kCommandSenseCapacity> senseData{};
    uint8_t senseLength = 0;
    // senseData parsed: TAtapi fills it after every command.
    SenseTriple sense;
    // Bytes of the data phase that did not move (asked for minus moved); 0
    // where the transport cannot tell (ASPI).
    uint32_t residual = 0;
    HostFailureKind hostFailure = HostFailureKind::None;
    bool deviceGone = false;     // with OsError: the drive is no longer there
    uint32_t osError = 0;        // the system's own code (errno, GetLastError)
    std::string osErrorText;     // the system's own text for it
    // ASPI only: the request block's SRB_Status, which is the status byte the
    // program reads on that path.
    uint8_t aspiStatus = 0;

    // The one question every step asks of a command: what became of it.
    CommandVerdict Verdict() const;
    // The drive took the command and answered it (whatever the status).
    bool Answered() const { return Verdict() == CommandVerdict::Answered; }
};

// The key, ASC and ASCQ of sense data in either format: fixed (response code
// 70h/71h: byte 2 whole, as the drive's firmware reads it, bytes 12 and 13)
// or descriptor (72h/73h: bytes 1, 2, 3). Nothing valid reads as 00s.
SenseTriple ParseSense(const uint8_t* data, size_t length);

// The status byte the program reads, from the result: on the pass-through
// transports 1 when the drive answered GOOD, the drive's SCSI status when it
// answered otherwise, and 0 after a system error or when nothing was sent; on
// ASPI the request block's status. It is never 1 for a command the drive did
// not answer: a time-out whose status byte stayed GOOD is no success.
uint8_t ProgramStatus(const CommandResult& result, bool passThrough);

// What a command that got no answer from the drive met, in a few words: the
// system's text, "timed out", "transport error", "not sent: ...".
std::string NoAnswerCause(const CommandResult& result);

// A system's error text as one line: without the line break (and blanks)
// the system ends it with.
std::string WithoutLineEnd(std::string text);

}  // namespace keluflash

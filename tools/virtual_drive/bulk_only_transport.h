#pragma once
// The device side of USB Mass Storage Bulk-Only Transport: a 31-byte command
// block wrapper (CBW) on bulk-out, the data stage, a 13-byte command status
// wrapper (CSW) on bulk-in. It puts a SCSI target (the simulated drive) behind
// the two bulk pipes the way a USB optical drive's bridge does: the data stage
// moves exactly what the host announced, a short data-in ends with a halted
// bulk-in pipe, a failed command answers CSW status 1 and keeps its sense for
// the REQUEST SENSE the host sends next, and a data stage that does not fit the
// command is a phase error (status 2) that the host answers with a reset.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drive/sim/simulated_drive.h"

namespace keluflash::virtual_drive {

inline constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
inline constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
inline constexpr size_t kCbwLength = 31;
inline constexpr size_t kCswLength = 13;
inline constexpr uint8_t kCswPassed = 0;
inline constexpr uint8_t kCswFailed = 1;
inline constexpr uint8_t kCswPhaseError = 2;

struct CommandBlockWrapper {
    uint32_t tag = 0;
    uint32_t dataTransferLength = 0;   // what the host will move in the data stage
    bool dataIn = false;               // bmCBWFlags bit 7
    uint8_t flags = 0;
    uint8_t lun = 0;
    uint8_t cdbLength = 0;
    std::array<uint8_t, 16> cdb{};
};

enum class CbwCheck {
    Valid,          // 31 bytes with the signature, and meaningful
    Invalid,        // wrong length or signature: stall both pipes until a reset
    NotMeaningful,  // reserved bits set, a LUN we do not have, or a CDB length outside 1-16
};

// Parses `length` received bytes (the transfer may be longer or shorter than
// a CBW, and then it is invalid).
CbwCheck ParseCbw(const uint8_t* bytes, size_t length, CommandBlockWrapper& cbw);
std::array<uint8_t, kCbwLength> MakeCbw(const CommandBlockWrapper& cbw);
std::array<uint8_t, kCswLength> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status);

// The data stage a command of the drive's own set intends: direction and
// length, as the firmware derives them from the CDB. Nothing for a command it
// does not know (the drive answers it, normally with CHECK CONDITION).
struct DataPhase {
    uint8_t direction = kDirectionNone;
    uint32_t length = 0;
};
std::optional<DataPhase> IntendedDataPhase(const std::array<uint8_t, 16>& cdb);

// The two bulk pipes as the device sees them. Each call returns false when
// the transfer was cut off: the host reset the device or the pipes went away.
class BulkPipes {
public:
    virtual ~BulkPipes() = default;
    // One transfer of exactly `length` bytes from the host (the data stage is
    // read at exactly the CBW's length, so the next CBW is never taken as
    // data); `received` is what arrived.
    virtual bool Receive(uint8_t* data, uint32_t length, uint32_t& received) = 0;
    virtual bool Send(const uint8_t* data, uint32_t length) = 0;
    virtual bool HaltIn() = 0;
    virtual bool HaltOut() = 0;
};

// One SCSI command to the drive: 12 CDB bytes, the data buffer, its length
// and direction (kDirection*).
using ScsiExecutor = std::function<ScsiResult(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction)>;

// What became of one CBW, for the log and the tests.
struct CommandOutcome {
    bool completed = false;            // the CSW went out
    CbwCheck check = CbwCheck::Valid;
    CommandBlockWrapper cbw;
    uint8_t cswStatus = kCswPassed;
    uint32_t residue = 0;
    bool haltedIn = false;
    bool haltedOut = false;
    bool senseFromKept = false;        // a REQUEST SENSE answered with the kept sense
    std::array<uint8_t, kSenseDataLength> sense{};  // the sense kept for the host (CSW status 1)
};

class BulkOnlyDevice {
public:
    BulkOnlyDevice(BulkPipes& pipes, ScsiExecutor drive) : m_pipes(pipes), m_drive(std::move(drive)) {}

    // Waits for the next CBW. False when the transfer was cut off.
    bool ReceiveCommand(CommandBlockWrapper& cbw, CbwCheck& check);
    // Runs a received CBW: data stage, drive, CSW.
    CommandOutcome Serve(const CommandBlockWrapper& cbw, CbwCheck check);
    // A Bulk-Only Mass Storage Reset or a USB reset: nothing survives it but
    // the drive itself.
    void Reset() { m_keptSense.reset(); }

    std::optional<std::array<uint8_t, kSenseDataLength>> KeptSense() const { return m_keptSense; }

private:
    bool ReceiveAndDiscard(uint32_t length);
    CommandOutcome PhaseError(const CommandBlockWrapper& cbw, CommandOutcome outcome);
    bool SendCsw(CommandOutcome& outcome);

    BulkPipes& m_pipes;
    ScsiExecutor m_drive;
    // The sense of the last command that ended with CSW status 1, for the
    // REQUEST SENSE that follows it (Bulk-Only has no sense in its status).
    std::optional<std::array<uint8_t, kSenseDataLength>> m_keptSense;
    std::vector<uint8_t> m_buffer;
};

// "12 00 00 00 24 00" for the log.
std::string HexBytes(const uint8_t* bytes, size_t length);

}  // namespace keluflash::virtual_drive

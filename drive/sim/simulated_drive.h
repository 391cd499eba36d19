#pragma once
// SimulatedDrive: a behavioural model of a KELU drive's firmware that answers
// SCSI only. It has flash banks, a staging area for downloaded blocks, a patch
// area, an INQUIRY identity and sense data, and a programming state that
// answers NOT READY for a while after an accepted trigger. Quirks and the
// errors it answers are configuration; every command it receives is recorded.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/command_result.h"
#include "drive/device_entry.h"
#include "drive/scsi_opcodes.h"
#include "drive/sim/command_match.h"
#include "drive/sim/virtual_clock.h"

namespace keluflash {

inline constexpr size_t kSimulatedBankSize = 65536;
inline constexpr size_t kSenseDataLength = 18;      // fixed-format sense the drive returns

// A trigger (data-less A0) by CDB byte 6 (mode) and the offset of byte 7 from
// the number of staged blocks (0xE0 or 0xF0 in the forms the host sends).
struct TriggerForm {
    uint8_t mode = 4;
    uint8_t codeBase = 0xE0;
    bool operator==(const TriggerForm&) const = default;
};

// The sense a drive answers to one trigger form it does not take.
struct TriggerRejection {
    TriggerForm form;
    SenseTriple sense;
};

// A drive that answers one kind of command with an error: it matches every
// command whose CDB byte 0 is `opcode` (and, for 5A, byte 5 is
// `vendorSubCode`); without an opcode it matches every command. With `nth`
// only the Nth matching command (1-based) fails. Faults of the machine that
// carries the drive (transport errors, a lost drive) are the machine's.
struct CommandFault {
    std::optional<uint8_t> opcode = std::nullopt;
    std::optional<uint8_t> vendorSubCode = std::nullopt;
    std::optional<uint64_t> nth = std::nullopt;
    uint64_t after = 0;
    uint32_t times = ~0u;                    // fires at most this often
    uint8_t scsiStatus = kScsiStatusCheckCondition;
    SenseTriple sense{4, 0x44, 0};           // byte 2 is written whole (0x25 is not sense key 5)
};

struct SimulatedDriveConfig {
    std::string vendor = "KELU";             // padded to 8 with spaces
    std::string product = "ZXR-0131K";       // padded to 16 with spaces
    std::string revision = "1.00";           // padded to 4
    std::array<uint8_t, 2> firmwareId{0x4B, 0x31};  // INQUIRY bytes 38-39
    bool mediumPresent = true;               // false: TEST UNIT READY answers 2/3A/00
    int bankCount = 8;
    // Old firmware in the banks before any flash: a fixed pattern per bank,
    // or zeros.
    bool patternedBanks = true;

    // Trigger quirks. A trigger is taken when its form is accepted and the
    // staged data sums to the checksum it carries; a rejected trigger programs
    // nothing and keeps the staged blocks for a retry.
    std::vector<TriggerForm> acceptedTriggers{{4, 0xE0}};
    std::vector<TriggerRejection> triggerRejections;  // sense for particular forms
    SenseTriple rejectedTriggerSense{5, 0x24, 0};     // any other form
    SenseTriple checksumMismatchSense{5, 0x26, 0};    // accepted form, wrong sum
    SenseTriple nothingStagedSense{5, 0x2C, 0};       // trigger with no block staged
    // Answer to an accepted trigger: GOOD, or CHECK CONDITION with this sense
    // (e.g. 2/04/07: programming has begun).
    std::optional<SenseTriple> acceptedTriggerSense = std::nullopt;
    bool takesWriteBuffer = false;           // C0 byte 0, and whether WRITE BUFFER 05/01 is taken
    uint32_t programmingMilliseconds = 5000; // NOT READY 2/04/07 this long after an accepted trigger
    bool neverReady = false;                 // stays NOT READY after a trigger
    bool resetAfterProgramming = true;       // comes back with one UNIT ATTENTION 6/29/00
    // REQUEST SENSE after a CHECK CONDITION whose sense went back with the
    // command: false answers that sense again, true answers no sense.
    bool requestSenseClearedByAutoSense = false;

    // Patch area reported by A3; without one the block has no signature.
    struct PatchArea {
        uint8_t bank = 0;
        uint16_t start = 0;
        uint16_t length = 0;
    };
    std::optional<PatchArea> patchArea = std::nullopt;

    // Virtual time every command costs, plus its data transfer.
    uint32_t commandMilliseconds = 1;
    uint32_t transferBytesPerMillisecond = 8192;
    bool recordDataOut = true;

    std::vector<CommandFault> faults;
};

struct ScsiResult {
    uint8_t scsiStatus = kScsiStatusGood;    // 0 GOOD, 2 CHECK CONDITION, 8 BUSY
    std::array<uint8_t, kSenseDataLength> sense{};  // fixed format; meaningful with CHECK CONDITION
    uint32_t transferred = 0;                // bytes moved in the data phase

    bool HasSense() const { return scsiStatus == kScsiStatusCheckCondition; }
    SenseTriple Sense() const { return HasSense() ? ParseSense(sense.data(), sense.size()) : SenseTriple{}; }
};

struct RecordedCommand {
    uint64_t time = 0;                       // virtual milliseconds when it arrived
    std::array<uint8_t, 12> cdb{};
    uint8_t direction = kDirectionNone;      // kDirectionNone / In / Out
    uint32_t length = 0;
    std::vector<uint8_t> dataOut;            // what the host sent (data-out only)
    ScsiResult result;

    uint8_t Opcode() const { return cdb[0]; }
    bool IsVendor(uint8_t subCode) const { return cdb[0] == kOpVendor && cdb[5] == subCode; }
};

class SimulatedDrive {
public:
    SimulatedDrive(SimulatedDriveConfig config, VirtualClock& clock);

    // Runs one command (12 CDB bytes). `data` holds `length` bytes; for
    // data-in the drive writes at most `length` bytes into it.
    ScsiResult Execute(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);

    // The INQUIRY answer this drive gives (96 bytes).
    std::vector<uint8_t> InquiryData() const;

    const SimulatedDriveConfig& Config() const { return m_config; }
    SimulatedDriveConfig& MutableConfig() { return m_config; }
    const std::vector<RecordedCommand>& Commands() const { return m_commands; }
    void ClearCommands() { m_commands.clear(); }
    // Flash contents, 65536 bytes per bank.
    const std::vector<uint8_t>& Bank(int bank) const { return m_banks.at(static_cast<size_t>(bank)); }
    std::vector<uint8_t>& MutableBank(int bank) { return m_banks.at(static_cast<size_t>(bank)); }
    void Reset();                            // power cycle: one UNIT ATTENTION follows
    bool Programming() const;
    int TriggersAccepted() const { return m_triggersAccepted; }
    int StagedBlockCount() const;

private:
    // One block as downloaded: A0 gives the block itself; WRITE BUFFER gives
    // the block behind its 2-byte big-endian length, chunk by chunk.
    struct StagedBlock {
        std::vector<uint8_t> bytes;
        bool prefixed = false;
        uint32_t received = 0;               // prefixed: bytes received so far, in order
        std::vector<uint8_t> Data() const;   // the bytes the drive programs
    };
    ScsiResult Run(const std::array<uint8_t, 12>& cdb, uint8_t* data, uint32_t length, uint8_t direction);
    void FinishProgramming();
    ScsiResult Trigger(const std::array<uint8_t, 12>& cdb);
    ScsiResult VendorCommand(const std::array<uint8_t, 12>& cdb, uint8_t* data, uint32_t length, uint8_t direction);
    ScsiResult WriteBuffer(const std::array<uint8_t, 12>& cdb, const uint8_t* data, uint32_t length, uint8_t direction);

    SimulatedDriveConfig m_config;
    VirtualClock& m_clock;
    std::vector<std::vector<uint8_t>> m_banks;
    std::vector<std::optional<StagedBlock>> m_staged;  // per bank
    std::vector<RecordedCommand> m_commands;
    FaultSchedule m_faults;
    bool m_programming = false;
    uint64_t m_programmingUntil = 0;
    bool m_unitAttention = false;
    std::array<uint8_t, kSenseDataLength> m_lastSense{};
    bool m_lastSenseDelivered = false;
    int m_triggersAccepted = 0;
};

// Fixed-format sense data for a triple (response code 70, additional length 10).
std::array<uint8_t, kSenseDataLength> MakeSenseData(SenseTriple sense);

}  // namespace keluflash

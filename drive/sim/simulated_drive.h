#pragma once
// SimulatedDrive: a behavioural model of a KELU drive's firmware. It has flash
// banks, a staging area for downloaded blocks, a patch area, an INQUIRY
// identity and sense data, and a programming state that answers NOT READY for
// a while after an accepted trigger. Quirks and faults are configuration; every
// command it receives is recorded.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/device_entry.h"
#include "drive/sim/virtual_clock.h"

namespace keluflash {

// A trigger (data-less A0) the drive takes, by CDB byte 6 (mode) and the
// offset of byte 7 from the block count: 0xE0 or 0xF0.
struct TriggerForm {
    uint8_t mode = 4;
    uint8_t codeBase = 0xE0;
    bool operator==(const TriggerForm&) const = default;
};

// A fault injected into the command stream.
struct CommandFault {
    std::optional<uint8_t> opcode;          // every command with this CDB byte 0 ...
    std::optional<uint8_t> vendorSubCode;   // ... and, for 5A, this byte 5
    std::optional<uint64_t> nthCommand;     // or only the Nth command (1-based, counted over all)
    uint32_t remaining = ~0u;               // how many times it fires
    // What happens: a SCSI status with sense, a transport error, or no completion.
    uint8_t scsiStatus = 2;                 // CHECK CONDITION
    SenseTriple sense{5, 0x20, 0};
    std::optional<uint32_t> transportError; // OS error code (121, 1117, 5, ...)
    bool neverCompletes = false;            // ASPI: the request stays pending
};

struct SimulatedDriveConfig {
    std::string vendor = "KELU";            // padded to 8 with spaces
    std::string product = "ZXR-0131K";      // padded to 16 with spaces
    std::string revision = "1.00";          // padded to 4
    std::array<uint8_t, 2> firmwareId{0x4B, 0x31};
    bool mediumPresent = true;
    int bankCount = 8;
    // Trigger quirks: forms accepted, and the sense answered to any other form.
    std::vector<TriggerForm> acceptedTriggers{{4, 0xE0}};
    SenseTriple rejectedTriggerSense{5, 0x24, 0};
    bool takesWriteBuffer = false;          // answer to C0 (byte 0) and whether 3B is accepted
    uint32_t programmingMilliseconds = 8000;
    bool neverReady = false;                // stays NOT READY after a trigger
    // Patch area reported by A3; no signature when absent.
    struct PatchArea { uint8_t bank = 0; uint16_t start = 0; uint16_t length = 0; };
    std::optional<PatchArea> patchArea;
    uint32_t commandMilliseconds = 1;       // virtual time each command costs
    std::vector<CommandFault> faults;
    std::optional<uint64_t> lostAfterCommand;  // every command after this one fails (drive gone)
};

struct ScsiResult {
    // Transport outcome: an OS error code, or none when the command reached the drive.
    std::optional<uint32_t> transportError;
    bool completed = true;                   // false: an ASPI request that never completes
    uint8_t scsiStatus = 0;                  // 0 GOOD, 2 CHECK CONDITION, 8 BUSY
    std::array<uint8_t, 18> sense{};         // fixed-format sense when status is 2
    uint32_t transferred = 0;
};

struct RecordedCommand {
    uint64_t time;                           // virtual milliseconds
    std::array<uint8_t, 12> cdb;
    uint8_t direction;                       // kDirectionNone / In / Out
    uint32_t length;
    std::vector<uint8_t> dataOut;            // what the host sent (data-out only)
    ScsiResult result;
};

class SimulatedDrive {
public:
    SimulatedDrive(SimulatedDriveConfig config, VirtualClock& clock);

    // Runs one command. `data` holds `length` bytes; for data-in the drive
    // writes at most `length` bytes into it.
    ScsiResult Execute(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);

    // The standard 36+ byte INQUIRY answer this drive gives.
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

private:
    ScsiResult Run(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);
    SimulatedDriveConfig m_config;
    VirtualClock& m_clock;
    std::vector<std::vector<uint8_t>> m_banks;
    std::vector<std::vector<uint8_t>> m_staged;  // per block, as downloaded
    std::vector<RecordedCommand> m_commands;
    uint64_t m_programmingUntil = 0;
    bool m_unitAttention = false;
    std::array<uint8_t, 18> m_lastSense{};
    int m_triggersAccepted = 0;
    uint64_t m_commandCount = 0;
};

}  // namespace keluflash

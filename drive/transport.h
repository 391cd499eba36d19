#pragma once
// A way to reach drives: find them into the device table, and run one
// command (12-byte CDB, data phase, time-out) on one of them. TAtapi sits on
// top and keeps the table, the selection and the command set; below it are the
// ASPI transport and the NT pass-through transport (the Windows-shaped ports)
// and, on Linux, the SG_IO transport.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "drive/command_result.h"
#include "drive/device_entry.h"

namespace keluflash {

using DeviceTable = std::array<DeviceEntry, kDeviceTableSize>;

// Why a drive the scan saw is not in the table, as far as the operator's fix
// depends on it.
enum class UnlistedCause {
    Other,               // the system's own reason; no fix known
    NodePermission,      // the user may not open the device node (Linux)
    NeedsAdministrator,  // the drive letter is denied to a limited user (Windows NT)
    InUse,               // another program holds the drive
    TableFull,           // the device table (or the letter list) has no room
};

// What became of an update's hold on a drive: other programs kept off it
// from before the first write to the end of the update.
struct DriveHold {
    enum class State : uint8_t {
        Held,           // kept off until ReleaseHold
        NothingToHold,  // this system has no such lock, or there is no disc to lock
        Refused,        // the system refused: nothing may be written
    };
    State state = State::NothingToHold;
    uint32_t systemError = 0;  // the system's code when it refused or found no disc
    std::string systemText;    // its text for that code, without the line end
    std::string cause;         // in a few words: "another program is using the drive"
    std::string fix;           // what the operator can do about it; empty when nothing is known
    uint32_t dismountError = 0;  // held, but the disc's file system could not be dismounted
};

// A drive the scan saw but could not put into the table, and why.
struct UnlistedDrive {
    UnlistedDrive(std::string path, std::string reason, std::vector<std::string> otherNames,
                  UnlistedCause cause = UnlistedCause::Other)
        : path(std::move(path)), reason(std::move(reason)), otherNames(std::move(otherNames)), cause(cause) {}

    std::string path;
    std::string reason;
    std::vector<std::string> otherNames;
    UnlistedCause cause = UnlistedCause::Other;
    std::string owningGroup;  // the node's group, when the system tells it ("cdrom")
    std::string holders;      // who holds it, when the system tells it ("cdrecord (pid 812)")
};

class Transport {
public:
    virtual ~Transport() = default;

    // True for the pass-through transports (NT and SG_IO): the flash logic
    // reads it as the NT flag.
    virtual bool PassThrough() const = 0;

    // Finds the optical drives, fills the table from entry 0 and returns how
    // many are valid. `identify` sends INQUIRY to a found drive through the
    // command set (so a trace sees it) and returns its status byte.
    using Identify = std::function<uint8_t(const DeviceEntry& device, uint8_t* inquiry50)>;
    virtual int Scan(DeviceTable& table, const Identify& identify) = 0;

    // Runs one command on `device`; `result` (cleared first) receives what
    // became of it: category, SCSI status, the sense bytes as they came back,
    // the residual count, the system's error, and on ASPI the request block's
    // status. Data-in bytes land in `data` only as far as the drive sent them.
    virtual void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length,
                         uint8_t direction, CommandResult& result) = 0;

    // How people name a table entry: "/dev/sg1", "\\.\D:", "ASPI 0:1:0", and
    // further names a user may give for it ("/dev/sr0").
    virtual std::string DevicePath(const DeviceEntry& device) const = 0;
    virtual std::vector<std::string> OtherNames(const DeviceEntry&) const { return {}; }
    // Drives seen at the scan that are not in the table.
    virtual std::vector<UnlistedDrive> Unlisted() const { return {}; }

    // Keeps other programs off `device` for an update, as disc-writing
    // programs do. Nothing to hold by default: Linux opened the drive
    // exclusively at the scan, and ASPI has no such lock.
    virtual DriveHold HoldForUpdate(const DeviceEntry&) { return {}; }
    // Ends what HoldForUpdate took for `device`; nothing when it took nothing.
    virtual void ReleaseHold(const DeviceEntry&) {}
};

}  // namespace keluflash

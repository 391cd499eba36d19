#pragma once
// A simulated machine: a virtual clock and the simulated drives it carries,
// reached through the transport the machine's platform uses. The machine owns
// the faults that belong to it rather than to a drive: a transport error, a
// lost drive, a request the ASPI layer never completes, an OS error code.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/host_ports.h"
#include "drive/sim/simulated_drive.h"
#include "drive/sim/virtual_clock.h"
#include "drive/transport.h"

namespace keluflash {

// The platform a machine simulates. Host: the one the program runs on (SG_IO
// on Linux, NT pass-through on Windows).
enum class SimulatedPlatform : uint8_t { Host, WindowsNt, Windows9x };

enum class MachineFaultKind : uint8_t {
    HostTimeOut,     // the host's time-out for the command expires
    HostError,       // a bus or driver error; the drive may have seen the command
    DriveGone,       // the drive is gone from this command on
    NeverCompletes,  // ASPI: the request stays pending; pass-through: its time-out expires
    AspiWaitFails,   // ASPI: pending, and waiting for its event fails
    AspiStatus,      // ASPI: the layer answers `aspiStatus` (0x80, 2, 3, ...)
    OsError,         // the system refuses the call with `osError` (its own code)
    // Pass-through under Wine, which drops SG_IO's host status: the host's
    // time-out expires, yet the call succeeds with SCSI status GOOD and no
    // data moved (elsewhere a host error).
    TimeOutReportedAsGood,
    // The host's time-out expires as the drive's answer arrives: its status
    // byte is lost (GOOD, 0), while its sense bytes stay in the buffer.
    HostTimeOutWithSense,
};

// A fault of the machine, matched per drive like a drive's CommandFault.
struct MachineFault {
    size_t drive = 0;
    std::optional<uint8_t> opcode = std::nullopt;
    std::optional<uint8_t> vendorSubCode = std::nullopt;
    std::optional<uint64_t> nth = std::nullopt;
    uint64_t after = 0;                      // the first `after` matching commands pass
    uint32_t times = ~0u;
    MachineFaultKind kind = MachineFaultKind::HostError;
    bool executes = false;                   // the drive still carries the command out
    uint8_t aspiStatus = 0;
    uint32_t osError = 0;
};

struct AspiAddress {
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    bool operator==(const AspiAddress&) const = default;
};

// A device on a simulated ASPI bus that is not one of the drives (a disk is 0).
struct SimulatedAspiDevice {
    AspiAddress address;
    uint8_t deviceType = 0;
};

// What only a simulated Windows machine has.
struct SimulatedWindowsConfig {
    // The ASPI layer.
    bool aspiInstalled = true;               // false: WNASPI32.DLL not found
    std::string systemDirectory = "C:\\WINDOWS\\SYSTEM";
    uint8_t aspiAdapters = 1;
    std::vector<AspiAddress> aspiAddresses;  // of drive i; default adapter 0, target i, LUN 0
    std::vector<SimulatedAspiDevice> aspiOtherDevices;
    // Requests answer SS_PENDING and complete when their event is waited for
    // (probes: at the next message pump); false: they complete at once.
    bool aspiPending = false;
    bool aspiProbesNeverComplete = false;
    std::vector<uint8_t> aspiStuckAdapters;  // probes on these adapters never complete
    bool aspiAbortsNeverComplete = false;    // an aborted request stays pending for good
    bool aspiEventsFail = false;             // CreateEvent gives no event

    // Drive letters (pass-through path).
    std::vector<char> driveLetters;          // of drive i; default 'D' + i
    std::map<char, unsigned> otherLetterTypes;  // e.g. {'C', 3}; every other letter is 1 (no root dir)
    // Type 5, but CreateFile fails (access denied), with a drive behind the
    // letter or without.
    std::vector<char> unopenableCdromLetters;

    // System error texts beyond the built-in ones (codes 2, 5, 6, 87, 121, 1117, 1167, ...).
    std::map<uint32_t, std::string> errorTexts;
};

// What only a simulated Linux machine has.
struct SimulatedLinuxConfig {
    // Drives whose sg node cannot be opened (as for a user without access):
    // they open at their sr node, where WRITE BUFFER and 5A need CAP_SYS_RAWIO.
    std::vector<size_t> withoutSgAccess;
    std::vector<size_t> unopenable;          // neither node opens (permission denied)
    // A disc mounted in the drive (drive -> mount point), and block nodes
    // another program holds with O_EXCL: an exclusive open of /dev/srN
    // answers EBUSY.
    std::map<size_t, std::string> mounted;
    std::vector<size_t> blockNodeHeld;
};

struct SimulatedMachineConfig {
    SimulatedPlatform platform = SimulatedPlatform::Host;
    std::vector<SimulatedDriveConfig> drives{SimulatedDriveConfig{}};
    std::vector<MachineFault> faults;
    SimulatedWindowsConfig windows;
    SimulatedLinuxConfig linuxAccess;
};

// A named set-up selectable with --simulate[=NAME].
struct SimulatedProfile {
    std::string name;
    std::string description;                 // one line, for --help
    SimulatedMachineConfig config;
};
const std::vector<SimulatedProfile>& SimulatedProfiles();        // "default" first
const SimulatedProfile* FindSimulatedProfile(const std::string& name);
// "Linux (SG_IO)", "Windows NT (pass-through)", "Windows 98 (ASPI)": what a
// profile simulates on this build.
std::string SimulatedPlatformName(SimulatedPlatform platform);

class SimulatedMachine {
public:
    explicit SimulatedMachine(SimulatedMachineConfig config);
    virtual ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    VirtualClock& Clock() { return m_clock; }
    SimulatedDrive& Drive(size_t index) { return *m_drives.at(index); }
    size_t DriveCount() const { return m_drives.size(); }
    const SimulatedMachineConfig& Config() const { return m_config; }

    // The transport a program on this machine uses, and the user interface
    // its commands run under (the ASPI layer completes probes at a pump).
    virtual Transport& DriveTransport() = 0;
    // The same for a program that writes or reads the flash: the drives are
    // its alone where the platform has a way to say so (O_EXCL on Linux).
    virtual Transport& ExclusiveDriveTransport() { return DriveTransport(); }
    virtual UserInterface& Ui() = 0;

    // The drive is gone from now on (unplugged, or its bridge died).
    void Disconnect(size_t drive) { m_lost.at(drive) = true; }
    bool Lost(size_t drive) const { return m_lost.at(drive); }

    // A command as the machine delivers it: the drive's answer, or the
    // machine's fault in its place.
    struct Delivery {
        ScsiResult scsi;
        std::optional<MachineFaultKind> fault;
        uint8_t aspiStatus = 0;
        uint32_t osError = 0;
    };
    Delivery Deliver(size_t drive, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);

private:
    SimulatedMachineConfig m_config;
    VirtualClock m_clock;
    std::vector<std::unique_ptr<SimulatedDrive>> m_drives;
    std::vector<bool> m_lost;
    std::vector<FaultSchedule> m_faults;     // per drive
};

// The machine a profile or test set-up stands for: on Linux a Host machine is
// the simulated Linux machine, elsewhere the simulated Windows NT machine.
std::unique_ptr<SimulatedMachine> MakeSimulatedMachine(SimulatedMachineConfig config, UserInterface& ui);

}  // namespace keluflash

#pragma once
// A simulated machine: a virtual clock, a set of simulated drives and every
// drive port (platform choice, ASPI, pass-through, drive letters, error texts)
// wired to them, so TAtapi runs unchanged over either path.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drive/sim/simulated_drive.h"
#include "drive/sim/virtual_clock.h"
#include "drive/transport_ports.h"

namespace keluflash {

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

struct SimulatedMachineConfig {
    bool ntFamily = true;                    // pass-through path; false: ASPI path
    std::vector<SimulatedDriveConfig> drives{SimulatedDriveConfig{}};

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
    bool aspiEventsFail = false;             // CreateEvent gives no event

    // Drive letters (pass-through path).
    std::vector<char> driveLetters;          // of drive i; default 'D' + i
    std::map<char, unsigned> otherLetterTypes;  // e.g. {'C', 3}; every other letter is 1 (no root dir)
    std::vector<char> unopenableCdromLetters;   // type 5, but CreateFile fails (access denied)

    // System error texts beyond the built-in ones (codes 2, 5, 6, 87, 121, 1117, 1167, ...).
    std::map<uint32_t, std::string> errorTexts;
};

// A named set-up selectable with --simulate[=NAME].
struct SimulatedProfile {
    std::string name;
    std::string description;                 // one line, for --help
    SimulatedMachineConfig config;
};
const std::vector<SimulatedProfile>& SimulatedProfiles();        // "default" first
const SimulatedProfile* FindSimulatedProfile(const std::string& name);

// What the simulated ASPI layer and pass-through ports saw, for tests.
struct SimulatedMachineCounters {
    size_t libraryLoads = 0;                 // LoadLibrary calls that gave a library
    size_t librariesLoaded = 0;              // still loaded now
    std::vector<std::string> loadPaths;      // every path LoadLibrary was asked for
    size_t probes = 0;                       // SC_GET_DEV_TYPE requests
    size_t aspiCommands = 0;                 // SC_EXEC_SCSI_CMD requests
    size_t aborts = 0;                       // SC_ABORT_SRB requests
    size_t abortsOfPending = 0;              // ... that named the pending request
    size_t eventsCreated = 0;
    size_t eventsOpen = 0;                   // created and not yet closed
    size_t waits = 0;                        // AspiEvent::Wait calls
    size_t passThroughCalls = 0;
    size_t handlesOpen = 0;
    std::vector<char> lettersOpened;         // every successful Open, in order
};

class SimulatedMachine {
public:
    SimulatedMachine(SimulatedMachineConfig config, UserInterface& ui);
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    VirtualClock& Clock();
    SimulatedDrive& Drive(size_t index);
    size_t DriveCount() const;
    const SimulatedMachineConfig& Config() const;
    const SimulatedMachineCounters& Counters() const;
    // References into this machine; it must outlive whatever uses them.
    DrivePorts Ports();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace keluflash

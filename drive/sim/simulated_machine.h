#pragma once
// A simulated machine: a virtual clock, a set of simulated drives and every
// drive port (platform choice, ASPI, pass-through, drive letters, error texts)
// wired to them, so TAtapi runs unchanged over either path.
#include <memory>
#include <string>
#include <vector>

#include "drive/sim/simulated_drive.h"
#include "drive/sim/virtual_clock.h"
#include "drive/transport_ports.h"

namespace keluflash {

struct SimulatedMachineConfig {
    bool ntFamily = true;                    // pass-through path; false: ASPI path
    bool aspiInstalled = true;               // false: WNASPI32.DLL not found
    std::vector<SimulatedDriveConfig> drives{SimulatedDriveConfig{}};
};

// A named set-up selectable with --simulate[=NAME].
struct SimulatedProfile {
    std::string name;
    std::string description;
    SimulatedMachineConfig config;
};
const std::vector<SimulatedProfile>& SimulatedProfiles();        // "default" first
const SimulatedProfile* FindSimulatedProfile(const std::string& name);

class SimulatedMachine {
public:
    explicit SimulatedMachine(SimulatedMachineConfig config, UserInterface& ui);
    ~SimulatedMachine();
    VirtualClock& Clock();
    SimulatedDrive& Drive(size_t index);
    size_t DriveCount() const;
    DrivePorts Ports();                      // references into this machine; outlive TAtapi with it
private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace keluflash

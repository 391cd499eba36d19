// Where the program runs on Windows, a machine of the host's own platform is
// the simulated Windows NT machine.
#include "drive/sim/simulated_windows_machine.h"

namespace keluflash {

std::unique_ptr<SimulatedMachine> MakeSimulatedMachine(SimulatedMachineConfig config, UserInterface& ui) {
    return std::make_unique<SimulatedWindowsMachine>(std::move(config), ui);
}

std::string SimulatedPlatformName(SimulatedPlatform platform) {
    return platform == SimulatedPlatform::Windows9x ? "Windows 98 (ASPI)" : "Windows NT (pass-through)";
}

}  // namespace keluflash

// On Linux a machine of the host's own platform is a simulated Linux machine.
#include "drive/sim/linux/simulated_linux_machine.h"
#include "drive/sim/simulated_windows_machine.h"

namespace keluflash {

std::unique_ptr<SimulatedMachine> MakeSimulatedMachine(SimulatedMachineConfig config, UserInterface& ui) {
    if (config.platform == SimulatedPlatform::Host) {
        return std::make_unique<SimulatedLinuxMachine>(std::move(config), ui);
    }
    return std::make_unique<SimulatedWindowsMachine>(std::move(config), ui);
}

std::string SimulatedPlatformName(SimulatedPlatform platform) {
    switch (platform) {
    case SimulatedPlatform::WindowsNt: return "Windows NT (pass-through)";
    case SimulatedPlatform::Windows9x: return "Windows 98 (ASPI)";
    case SimulatedPlatform::Host: break;
    }
    return "Linux (SG_IO)";
}

}  // namespace keluflash

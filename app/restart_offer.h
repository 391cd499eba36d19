#pragma once
// The question after a verified flash: the drive starts its new firmware at
// the next restart, so the window offers one.
#include "app/system_services.h"
#include "drive/host_ports.h"

namespace keluflash {

// Asks "Reboot this computer right now ?"; on OK asks the system to restart.
void OfferRestart(UserInterface& ui, SystemServices& system);

}  // namespace keluflash

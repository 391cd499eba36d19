#pragma once
// keluflash-demo's simulated machine and its firmware images.
#include <string>
#include <vector>

#include "drive/sim/simulated_machine.h"

namespace keluflash {

// Five drives that end an update in different ways: method A, method B after
// a rejected method-A trigger, a W0-family drive that flashes, a W0-family
// model the supported list does not hold, and a model no image fits.
SimulatedMachineConfig DemoMachineConfig();

// One image per drive model of `config`, made for that model, written into
// `directory`; returns the file names. The image for the model that no image
// fits carries another firmware id. False with a reason in `error`.
bool WriteDemoImages(const SimulatedMachineConfig& config, const std::string& directory,
                     std::vector<std::string>& fileNames, std::string& error);

}  // namespace keluflash

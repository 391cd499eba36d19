#pragma once
// The system services the window asks for: the restart request, and holding
// off what would cut an update short. Tests and the demo use a recording
// fake; only the real programs ever pass a back end that restarts the
// machine.
#include "flash/update_holds.h"

namespace keluflash {

class SystemServices : public UpdateHolds {
public:
    // Enables the right to restart and asks for a restart; a refusal returns
    // silently.
    virtual void RequestRestart() = 0;
};

}  // namespace keluflash

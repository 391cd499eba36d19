#pragma once
// The machine's own restart for keluflash-cli --reboot: `systemctl reboot` on
// Linux, the system's restart request (with the shutdown privilege) on
// Windows. Only the command line, on a person's explicit --reboot after a
// verified flash of a real drive, ever passes it on; tests never do.
#include "app/system_services.h"

namespace keluflash::cli {

class MachineRestart final : public SystemServices {
public:
    // A refusal (no right to restart) returns silently, as the restart
    // request does on every platform.
    void RequestRestart() override;
    // Only the restart: ConsoleSystemServices holds the rest.
    void UpdateBegins() override {}
    void UpdateEnds() override {}
    void DriveWriteBegins() override {}
    void DriveWriteEnds() override {}
    // Whether this platform has the restart at all.
    static bool Available();
};

}  // namespace keluflash::cli

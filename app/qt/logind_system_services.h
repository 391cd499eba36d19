#pragma once
// The system services on Linux: the restart is systemd-logind's Reboot over
// the system bus, with interactive authorisation so polkit may ask the
// desktop user (a refused or failed request returns without a message, as
// the Windows call does); an update holds logind's sleep and shutdown lock.
#include "app/linux/logind_inhibitor.h"
#include "app/system_services.h"

namespace keluflash {

class LogindSystemServices final : public SystemServices {
public:
    void RequestRestart() override;
    void UpdateBegins() override;
    void UpdateEnds() override;
    // The window defers its close to the end of the running handler already.
    void DriveWriteBegins() override {}
    void DriveWriteEnds() override {}

private:
    LogindInhibitor m_inhibitor;
};

}  // namespace keluflash

#pragma once
// The restart on Linux: systemd-logind's Reboot over the system bus, with
// interactive authorisation so polkit may ask the desktop user. A refused or
// failed request returns without a message, as the Windows call does.
#include "app/system_services.h"

namespace keluflash {

class LogindSystemServices final : public SystemServices {
public:
    void RequestRestart() override;
};

}  // namespace keluflash

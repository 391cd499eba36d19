#pragma once
// A SystemServices that only counts restart requests. Tests, the demo, the
// demo window and the CLI without --reboot use it: nothing here ever restarts
// the machine.
#include "app/system_services.h"

namespace keluflash {

class RecordingSystemServices final : public SystemServices {
public:
    void RequestRestart() override { ++m_restartRequests; }
    int RestartRequests() const { return m_restartRequests; }

private:
    int m_restartRequests = 0;
};

}  // namespace keluflash

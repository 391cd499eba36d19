#pragma once
// The Windows millisecond tick counter and pause.
#include "drive/host_ports.h"

namespace keluflash {

class Win32Clock final : public Clock {
public:
    uint32_t TickCount() override;
    void Sleep(uint32_t milliseconds) override;
};

}  // namespace keluflash

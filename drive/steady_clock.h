#pragma once
// The real clock: a steady millisecond counter and a real pause.
#include "drive/host_ports.h"

namespace keluflash {

class SteadyClock final : public Clock {
public:
    uint32_t TickCount() override;
    void Sleep(uint32_t milliseconds) override;
};

}  // namespace keluflash

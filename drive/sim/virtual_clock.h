#pragma once
// A clock that only moves when someone sleeps or a simulated command costs
// time, so waits of minutes run in microseconds and tests never sleep.
#include <cstdint>

#include "drive/host_ports.h"

namespace keluflash {

class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint32_t startTick = 0) : m_now(startTick) {}
    uint32_t TickCount() override { return static_cast<uint32_t>(m_now); }
    void Sleep(uint32_t milliseconds) override { m_now += milliseconds; m_slept += milliseconds; }
    void Advance(uint64_t milliseconds) { m_now += milliseconds; }
    uint64_t Now() const { return m_now; }               // milliseconds since start, never wraps
    uint64_t SleptMilliseconds() const { return m_slept; }

private:
    uint64_t m_now;
    uint64_t m_slept = 0;
};

}  // namespace keluflash

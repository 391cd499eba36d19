#include "drive/steady_clock.h"

#include <chrono>
#include <thread>

namespace keluflash {

uint32_t SteadyClock::TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // Truncated to 32 bits like a tick counter; callers subtract unsigned.
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SteadyClock::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace keluflash

#pragma once
// Simulated drives answer in no time on their virtual clock; a person trying
// the tool (or a test that must act in the middle of an update) should still
// see it take real time. Each pause takes a tenth of its length (at most
// 0.3 s) and each command 0.4 ms of real time as well; the virtual clock goes
// on as before, so every time limit keeps its meaning.
#include <algorithm>
#include <chrono>
#include <thread>

#include "drive/atapi.h"
#include "drive/sim/virtual_clock.h"

namespace keluflash {

class PacedClock final : public Clock, public CommandObserver {
public:
    // `next` also sees every command (a trace); null for none.
    PacedClock(VirtualClock& clock, bool paced, CommandObserver* next = nullptr)
        : m_clock(clock), m_paced(paced), m_next(next) {}
    uint32_t TickCount() override { return m_clock.TickCount(); }
    void Sleep(uint32_t milliseconds) override {
        m_clock.Sleep(milliseconds);
        if (m_paced) std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(milliseconds / 10, 300)));
    }
    void CommandExecuted(const CommandRecord& record) override {
        if (m_paced) std::this_thread::sleep_for(std::chrono::microseconds(400));
        if (m_next) m_next->CommandExecuted(record);
    }

private:
    VirtualClock& m_clock;
    bool m_paced;
    CommandObserver* m_next;
};

}  // namespace keluflash

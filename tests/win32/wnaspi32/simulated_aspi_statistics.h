#pragma once
// What the simulated WNASPI32.DLL counts, for the tests that load it: they can
// tell a command that completed through its event from one that completed
// before SendASPI32Command returned.
#include <cstdint>

namespace keluflash {

struct SimulatedAspiStatistics {
    uint32_t commands = 0;           // SC_EXEC_SCSI_CMD requests
    uint32_t completedByEvent = 0;   // left pending, completed later and signalled
    uint32_t completedAtOnce = 0;    // completed before SendASPI32Command returned
    uint32_t neverCompleted = 0;     // left pending for good
    uint32_t aborts = 0;             // SC_ABORT_SRB requests
    uint32_t lastBufLen = 0;         // SRB_BufLen of the last command
};

// Exported by the simulated library under this name (C linkage).
using GetSimulatedAspiStatisticsEntry = void(__cdecl*)(SimulatedAspiStatistics*);
inline constexpr const char* kGetSimulatedAspiStatistics = "GetSimulatedAspiStatistics";

}  // namespace keluflash

#pragma once
// Which commands an injected fault takes, for the drive's own errors and for
// the machine's: every command whose CDB byte 0 is `opcode` (and, for 5A,
// byte 5 is `vendorSubCode`), all commands without an opcode; with `nth` only
// the Nth such command (1-based); the first `after` such commands pass; at
// most `times` in all.
#include <cstdint>
#include <vector>

#include "drive/scsi_opcodes.h"

namespace keluflash {

// Counts, per fault of one list, the commands it matched and the times it
// fired; the first fault that fires wins.
class FaultSchedule {
public:
    template <typename Fault>
    const Fault* Next(const std::vector<Fault>& faults, const uint8_t* cdb) {
        m_matches.resize(faults.size(), 0);
        m_fired.resize(faults.size(), 0);
        const Fault* firing = nullptr;
        for (size_t i = 0; i < faults.size(); ++i) {
            const Fault& fault = faults[i];
            if (fault.opcode && cdb[0] != *fault.opcode) continue;
            if (fault.vendorSubCode && (cdb[0] != kOpVendor || cdb[5] != *fault.vendorSubCode)) continue;
            const uint64_t seen = ++m_matches[i];
            if (firing == nullptr && m_fired[i] < fault.times && (!fault.nth || *fault.nth == seen) &&
                seen > fault.after) {
                ++m_fired[i];
                firing = &fault;
            }
        }
        return firing;
    }

private:
    std::vector<uint64_t> m_matches;
    std::vector<uint32_t> m_fired;
};

}  // namespace keluflash

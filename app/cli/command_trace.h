#pragma once
// --trace FILE: every drive command as one JSON line (time, CDB, direction,
// length, data, status, sense), for support to read after a failed update.
#include <fstream>
#include <string>

#include "drive/atapi.h"
#include "drive/host_ports.h"

namespace keluflash::cli {

// Data beyond this many bytes is left out of a line (a 64 KiB read would
// drown the trace); the line still gives the whole length.
inline constexpr uint32_t kTraceDataBytes = 512;

class CommandTrace final : public CommandObserver {
public:
    CommandTrace(const std::string& path, Clock& clock);
    bool IsOpen() const { return m_file.is_open() && m_file.good(); }
    void CommandExecuted(const CommandRecord& record) override;

private:
    std::ofstream m_file;
    Clock& m_clock;
};

}  // namespace keluflash::cli

#pragma once
// --trace FILE: every drive command as one JSON line (time, CDB, direction,
// length, data, status, sense), for support to read after a failed update.
// Lines are appended, so a trace never destroys what a file held; whether the
// file may be used at all is the caller's decision (CheckTraceTarget).
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/host_ports.h"

namespace keluflash::cli {

// Data beyond this many bytes is left out of a line (a 64 KiB read would
// drown the trace); the line still gives the whole length.
inline constexpr uint32_t kTraceDataBytes = 512;

// Nothing when `path` may take a trace; otherwise why not: it is one of the
// command's own files (the image being flashed, however named), a directory,
// or an existing regular file without `force` (a device or pipe such as
// /dev/stderr is fine).
std::optional<std::string> CheckTraceTarget(const std::string& path, bool force,
                                            const std::vector<std::string>& commandFiles);

class CommandTrace final : public CommandObserver {
public:
    CommandTrace(const std::string& path, Clock& clock);
    bool IsOpen() const { return m_file != nullptr; }
    // Why the file could not be opened or a line could not be written (the
    // system's reason); empty while every line went out.
    const std::string& Failure() const { return m_failure; }
    void CommandExecuted(const CommandRecord& record) override;

private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_file;
    Clock& m_clock;
    std::string m_failure;
};

}  // namespace keluflash::cli

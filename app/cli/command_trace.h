#pragma once
// --trace FILE: a drive session as JSON lines, for support to read after a
// failed update and for --simulate=replay:FILE to play back. The first line
// is the header (the format's version, the program, the drive list the scan
// found); then one line per command: its number, drive, CDB, direction,
// length, the data (every byte that came in; the first bytes of what went
// out), a digest and 16-bit sum of the data phase (of what came in, or of
// all that went out), the status byte, the
// sense and the result as the transport reported it, and the clock when it
// ended. Lines are appended, so a trace never destroys what a file held;
// whether the file may be used at all is the caller's decision
// (CheckTraceTarget).
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "drive/atapi.h"
#include "drive/host_ports.h"
#include "drive/sim/replay_transport.h"

namespace keluflash::cli {

// The version of the lines this program writes and replays. 1: command
// lines only, with at most 512 bytes of any data phase.
inline constexpr int kTraceFormatVersion = 2;
// Data going out beyond this many bytes is left out of a line (a 64 KiB
// block write would drown the trace); its digest covers it whole. Data
// coming in is always written whole.
inline constexpr uint32_t kTraceDataOutBytes = 512;

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
    // The header, after the scan: the drives in table order with their
    // names, those the scan could not use, and the transport's kind. Every
    // later command is traced with its drive's index in this table.
    void Begin(const TAtapi& atapi, const std::vector<RecordedTableEntry>& drives,
               const std::vector<UnlistedDrive>& unlisted);
    void CommandExecuted(const CommandRecord& record) override;

private:
    void WriteLine(const std::string& text);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_file;
    Clock& m_clock;
    const TAtapi* m_atapi = nullptr;
    uint64_t m_commands = 0;
    nlohmann::ordered_json m_scan = nlohmann::ordered_json::array();  // until Begin writes the header
    std::string m_failure;
};

// Reads the first session of a trace for a replay. False with the reason
// when the file cannot be read, is not a trace, was written in another
// version of the format, or a line is broken (naming it): among them data
// that came in and does not match its recorded digest or sum16.
bool ReadTrace(const std::string& path, RecordedSession& session, std::string& error);

}  // namespace keluflash::cli

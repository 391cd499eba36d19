#include "app/cli/command_trace.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <nlohmann/json.hpp>

#include "app/cli/file_checks.h"
#include "drive/errno_text.h"
#include "image/descramble.h"

namespace keluflash::cli {

namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

// FNV-1a over the whole data phase: two trace lines with the same digest
// moved the same bytes, however long the transfer.
uint32_t Digest(const uint8_t* bytes, size_t count) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < count; ++i) {
        hash = (hash ^ bytes[i]) * 16777619u;
    }
    return hash;
}

const char* DirectionName(uint8_t direction) {
    switch (direction) {
    case kDirectionIn:
        return "in";
    case kDirectionOut:
        return "out";
    default:
        return "none";
    }
}

}  // namespace

std::optional<std::string> CheckTraceTarget(const std::string& path, bool force,
                                            const std::vector<std::string>& commandFiles) {
    for (const std::string& file : commandFiles) {
        if (!file.empty() && SameFile(path, file)) return "it is " + file + ", which this command uses";
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status)) return ErrnoText(EISDIR);
    if (std::filesystem::is_regular_file(status) && !force)
        return std::string("it exists (pass --force to add the trace at its end)");
    return std::nullopt;
}

CommandTrace::CommandTrace(const std::string& path, Clock& clock) : m_file(nullptr, &std::fclose), m_clock(clock) {
    errno = 0;
    m_file.reset(std::fopen(path.c_str(), "ab"));
    if (!m_file) m_failure = ErrnoText(errno != 0 ? errno : EACCES);
}

void CommandTrace::CommandExecuted(const CommandRecord& record) {
    nlohmann::json line;
    line["time_ms"] = m_clock.TickCount();
    line["cdb"] = Hex(record.cdb, 12);
    line["direction"] = DirectionName(record.direction);
    line["length"] = record.length;
    if (record.data != nullptr && record.length > 0 && record.direction != kDirectionNone) {
        line["data"] = Hex(record.data, std::min(record.length, kTraceDataBytes));
        const uint32_t digest = Digest(record.data, record.length);
        const uint8_t digestBytes[4] = {static_cast<uint8_t>(digest >> 24), static_cast<uint8_t>(digest >> 16),
                                        static_cast<uint8_t>(digest >> 8), static_cast<uint8_t>(digest)};
        line["digest"] = Hex(digestBytes, sizeof digestBytes);
        line["sum16"] = AddToChecksum(0, record.data, record.length);
    }
    line["status"] = record.status;
    line["sense"] = {record.result.sense.key, record.result.sense.asc, record.result.sense.ascq};
    if (!m_file || !m_failure.empty()) return;
    // A trace must survive a crash or a restart: each line is flushed.
    const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_file.get()) != text.size() || std::fflush(m_file.get()) != 0)
        m_failure = ErrnoText(errno != 0 ? errno : EIO);
}

}  // namespace keluflash::cli

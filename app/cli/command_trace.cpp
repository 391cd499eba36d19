#include "app/cli/command_trace.h"

#include <algorithm>

#include <nlohmann/json.hpp>

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

CommandTrace::CommandTrace(const std::string& path, Clock& clock)
    : m_file(path, std::ios::out | std::ios::trunc | std::ios::binary), m_clock(clock) {}

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
    line["sense"] = {record.sense.key, record.sense.asc, record.sense.ascq};
    m_file << line.dump() << '\n';
    m_file.flush();  // a trace must survive a crash or a restart
}

}  // namespace keluflash::cli

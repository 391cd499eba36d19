#include "app/cli/command_trace.h"

#include <algorithm>

#include <nlohmann/json.hpp>

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
    line["tick"] = m_clock.TickCount();
    line["cdb"] = Hex(record.cdb, 12);
    line["direction"] = DirectionName(record.direction);
    line["length"] = record.length;
    if (record.data != nullptr && record.length > 0 && record.direction != kDirectionNone) {
        line["data"] = Hex(record.data, std::min(record.length, kTraceDataBytes));
    }
    line["status"] = record.status;
    line["sense"] = {record.sense.key, record.sense.asc, record.sense.ascq};
    m_file << line.dump() << '\n';
    m_file.flush();  // a trace must survive a crash or a restart
}

}  // namespace keluflash::cli

#include "app/cli/command_trace.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include <nlohmann/json.hpp>

#include "app/cli/file_checks.h"
#include "drive/errno_text.h"
#include "drive/transfer_digest.h"
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

std::string Hex(const std::string& text) { return Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

std::string Hex32(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return Hex(bytes, sizeof bytes);
}

// Hex digits into bytes; false for anything else.
bool Unhex(const std::string& text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    bytes.resize(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned value = 0;
        for (size_t j = 0; j < 2; ++j) {
            const char c = text[2 * i + j];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    return true;
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

const char* OutcomeName(CommandOutcome outcome) {
    switch (outcome) {
    case CommandOutcome::Answered: return "answered";
    case CommandOutcome::HostFailure: return "host-failure";
    case CommandOutcome::OsError: return "os-error";
    case CommandOutcome::NotSent: break;
    }
    return "not-sent";
}

const char* CauseName(UnlistedCause cause) {
    switch (cause) {
    case UnlistedCause::NodePermission: return "node-permission";
    case UnlistedCause::NeedsAdministrator: return "needs-administrator";
    case UnlistedCause::InUse: return "in-use";
    case UnlistedCause::TableFull: return "table-full";
    case UnlistedCause::Other: break;
    }
    return "other";
}

template <typename Enum, size_t N>
bool FromName(const std::string& name, const std::pair<const char*, Enum> (&names)[N], Enum& value) {
    for (const auto& [text, candidate] : names) {
        if (name == text) {
            value = candidate;
            return true;
        }
    }
    return false;
}

constexpr std::pair<const char*, CommandOutcome> kOutcomes[] = {{"answered", CommandOutcome::Answered},
                                                                {"host-failure", CommandOutcome::HostFailure},
                                                                {"os-error", CommandOutcome::OsError},
                                                                {"not-sent", CommandOutcome::NotSent}};
constexpr std::pair<const char*, uint8_t> kDirections[] = {
    {"none", kDirectionNone}, {"in", kDirectionIn}, {"out", kDirectionOut}};
constexpr std::pair<const char*, HostFailureKind> kHostFailures[] = {{"none", HostFailureKind::None},
                                                                     {"timed-out", HostFailureKind::TimedOut},
                                                                     {"transport-error", HostFailureKind::TransportError}};
constexpr std::pair<const char*, UnlistedCause> kCauses[] = {{"other", UnlistedCause::Other},
                                                             {"node-permission", UnlistedCause::NodePermission},
                                                             {"needs-administrator", UnlistedCause::NeedsAdministrator},
                                                             {"in-use", UnlistedCause::InUse},
                                                             {"table-full", UnlistedCause::TableFull}};

bool SameEntry(const DeviceEntry& a, const DeviceEntry& b) {
    return a.handle == b.handle && a.hostAdapter == b.hostAdapter && a.target == b.target && a.lun == b.lun;
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

void CommandTrace::Begin(const TAtapi& atapi, const std::vector<RecordedTableEntry>& drives,
                         const std::vector<UnlistedDrive>& unlisted) {
    m_atapi = &atapi;
    // In the order written: the version first, then what a reader looks for.
    nlohmann::ordered_json header;
    header["keluflash_trace"] = kTraceFormatVersion;
    header["program"] = std::string("keluflash-cli ") + KELUFLASH_VERSION;
    header["pass_through"] = atapi.NtFlag();
    header["time_ms"] = m_clock.TickCount();
    nlohmann::ordered_json table = nlohmann::ordered_json::array();
    for (const RecordedTableEntry& drive : drives) {
        // The texts as a person reads them, and their bytes as the table
        // holds them, which the replay takes.
        table.push_back({{"device", drive.path},
                         {"other_names", drive.otherNames},
                         {"identification", drive.identification},
                         {"revision", drive.revision},
                         {"identification_hex", Hex(drive.identification)},
                         {"revision_hex", Hex(drive.revision)}});
    }
    header["drives"] = table;
    nlohmann::ordered_json others = nlohmann::ordered_json::array();
    for (const UnlistedDrive& drive : unlisted) {
        others.push_back({{"device", drive.path},
                          {"reason", drive.reason},
                          {"other_names", drive.otherNames},
                          {"cause", CauseName(drive.cause)},
                          {"owning_group", drive.owningGroup},
                          {"holders", drive.holders}});
    }
    header["unavailable"] = others;
    // The scan's own commands (INQUIRY of each drive found), before the table
    // they made existed: for a reader; a replay takes the table.
    header["scan"] = std::move(m_scan);
    m_scan = nlohmann::ordered_json::array();
    WriteLine(header.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void CommandTrace::CommandExecuted(const CommandRecord& record) {
    const bool scanning = m_atapi == nullptr;
    nlohmann::ordered_json line;
    if (!scanning) line["n"] = ++m_commands;
    line["time_ms"] = m_clock.TickCount();
    int device = -1;
    if (m_atapi != nullptr) {
        for (int i = 0; i < m_atapi->DeviceCount(); ++i)
            if (SameEntry(m_atapi->Device(i), m_atapi->SelectedDevice())) device = i;
    }
    line["device"] = device;
    line["cdb"] = Hex(record.cdb, 12);
    line["direction"] = DirectionName(record.direction);
    line["length"] = record.length;
    const CommandResult& result = record.result;
    if (record.data != nullptr && record.length > 0 && record.direction != kDirectionNone) {
        // In: the bytes the drive sent, whole, so a replay can give them back;
        // the digest and the sum are of those bytes (not of the rest of the
        // program's buffer), so a reader can tell when they were changed.
        // Out: the first bytes; the digest and the sum cover all that went
        // out, and say whether a program sent the same.
        const bool moved = result.outcome == CommandOutcome::Answered || result.outcome == CommandOutcome::HostFailure;
        const uint32_t covered = record.direction == kDirectionIn
                                     ? (moved ? record.length - std::min(result.residual, record.length) : 0)
                                     : record.length;
        const uint32_t shown = record.direction == kDirectionIn ? covered : std::min(covered, kTraceDataOutBytes);
        line["data"] = Hex(record.data, shown);
        line["digest"] = Hex32(TransferDigest(record.data, covered));
        line["sum16"] = AddToChecksum(0, record.data, covered);
    }
    line["status"] = record.status;
    line["sense"] = {result.sense.key, result.sense.asc, result.sense.ascq};
    line["outcome"] = OutcomeName(result.outcome);
    line["scsi_status"] = result.scsiStatus;
    if (result.senseLength > 0) line["sense_data"] = Hex(result.senseData.data(), result.senseLength);
    if (result.residual != 0) line["residual"] = result.residual;
    if (result.hostFailure != HostFailureKind::None)
        line["host_failure"] = result.hostFailure == HostFailureKind::TimedOut ? "timed-out" : "transport-error";
    if (result.deviceGone) line["device_gone"] = true;
    if (result.osError != 0) line["os_error"] = result.osError;
    if (!result.osErrorText.empty()) line["os_error_text"] = result.osErrorText;
    if (!m_atapi || !m_atapi->NtFlag()) line["aspi_status"] = result.aspiStatus;
    if (scanning) {
        m_scan.push_back(std::move(line));
        return;
    }
    WriteLine(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void CommandTrace::WriteLine(const std::string& line) {
    if (!m_file || !m_failure.empty()) return;
    // A trace must survive a crash or a restart: each line is flushed.
    const std::string text = line + "\n";
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_file.get()) != text.size() || std::fflush(m_file.get()) != 0)
        m_failure = ErrnoText(errno != 0 ? errno : EIO);
}

namespace {

// A whole number field that fits `T`, or `fallback` when the field is
// absent and may be; false otherwise. nlohmann converts a fraction or a
// number too large for the type without a word (and a fraction out of range
// is undefined), so each is looked at first.
template <typename T>
bool WholeNumber(const nlohmann::json& object, const char* name, T& value, std::optional<T> fallback = std::nullopt) {
    const auto field = object.find(name);
    if (field == object.end()) {
        if (fallback) value = *fallback;
        return fallback.has_value();
    }
    if (field->is_number_unsigned()) {
        const uint64_t number = field->get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<T>::max())) return false;
        value = static_cast<T>(number);
        return true;
    }
    if (field->is_number_integer() && std::numeric_limits<T>::is_signed) {
        const int64_t number = field->get<int64_t>();
        if (number < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
            number > static_cast<int64_t>(std::numeric_limits<T>::max()))
            return false;
        value = static_cast<T>(number);
        return true;
    }
    return false;
}

// The line's digest: 4 bytes of hex, as Hex32 writes them.
bool ReadDigest(const nlohmann::json& line, uint32_t& digest, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!Unhex(line.at("digest").get<std::string>(), bytes) || bytes.size() != 4) {
        error = "its digest is not 4 bytes of hex";
        return false;
    }
    digest = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    return true;
}

// The bytes a command read: what the replay gives back as the drive's
// answer, so they must be the bytes the drive sent. The writer keeps the
// data, its digest and its 16-bit sum together; data that disagrees with
// either was changed after it was written (a read-back edited to pass), and
// the trace is not the recording.
bool ReadDataIn(const nlohmann::json& line, RecordedExchange& exchange, std::string& error) {
    uint32_t digest = 0;
    uint16_t sum = 0;
    if (!line.contains("data") || !line.contains("digest")) {
        error = "its data or its digest is missing";
        return false;
    }
    if (!WholeNumber(line, "sum16", sum)) {
        error = "its sum16 is missing or not a 16-bit whole number";
        return false;
    }
    if (!Unhex(line["data"].get<std::string>(), exchange.dataIn)) {
        error = "its data is not hex";
        return false;
    }
    if (exchange.dataIn.size() > exchange.length) {
        error = "its data is longer than its length";
        return false;
    }
    if (!ReadDigest(line, digest, error)) return false;
    const char* disagrees = TransferDigest(exchange.dataIn.data(), exchange.dataIn.size()) != digest ? "digest"
                            : AddToChecksum(0, exchange.dataIn.data(), exchange.dataIn.size()) != sum ? "sum16"
                                                                                                     : nullptr;
    if (disagrees != nullptr) {
        error = "its data (" + std::to_string(exchange.dataIn.size()) + " bytes) does not match its recorded " +
                disagrees + ": the bytes are not the ones the drive sent";
        return false;
    }
    return true;
}

// One command line into an exchange; false with what is wrong in it.
bool ReadExchange(const nlohmann::json& line, RecordedExchange& exchange, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!Unhex(line.at("cdb").get<std::string>(), bytes) || bytes.size() != 12) {
        error = "its CDB is not 12 bytes of hex";
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), exchange.cdb.begin());
    if (!WholeNumber(line, "n", exchange.number) || !WholeNumber(line, "device", exchange.device) ||
        !WholeNumber(line, "length", exchange.length) || !WholeNumber(line, "time_ms", exchange.endTick)) {
        error = "n, device, length or time_ms is missing or not a whole number in range";
        return false;
    }
    if (!FromName(line.at("direction").get<std::string>(), kDirections, exchange.direction)) {
        error = "its direction is none of none, in, out";
        return false;
    }
    if (exchange.direction == kDirectionIn && exchange.length > 0 && !ReadDataIn(line, exchange, error)) return false;
    if (line.contains("digest") && exchange.direction == kDirectionOut) {
        uint32_t digest = 0;
        if (!ReadDigest(line, digest, error)) return false;
        exchange.dataOutDigest = digest;
    }
    CommandResult& result = exchange.result;
    if (!FromName(line.at("outcome").get<std::string>(), kOutcomes, result.outcome) ||
        !FromName(line.value("host_failure", std::string("none")), kHostFailures, result.hostFailure)) {
        error = "its outcome is unknown";
        return false;
    }
    if (!WholeNumber(line, "scsi_status", result.scsiStatus) ||
        !WholeNumber(line, "residual", result.residual, std::optional<uint32_t>(0)) ||
        !WholeNumber(line, "os_error", result.osError, std::optional<uint32_t>(0)) ||
        !WholeNumber(line, "aspi_status", result.aspiStatus, std::optional<uint8_t>(0))) {
        error = "scsi_status, residual, os_error or aspi_status is missing or not a whole number in range";
        return false;
    }
    if (line.contains("sense_data")) {
        if (!Unhex(line["sense_data"].get<std::string>(), bytes) || bytes.size() > result.senseData.size()) {
            error = "its sense data is not hex or too long";
            return false;
        }
        std::copy(bytes.begin(), bytes.end(), result.senseData.begin());
        result.senseLength = static_cast<uint8_t>(bytes.size());
    }
    result.deviceGone = line.value("device_gone", false);
    result.osErrorText = line.value("os_error_text", std::string());
    return true;
}

bool ReadHeader(const nlohmann::json& header, RecordedSession& session, std::string& error) {
    session.passThrough = header.at("pass_through").get<bool>();
    if (!WholeNumber(header, "time_ms", session.startTick)) {
        error = "its time_ms is missing or not a whole number in range";
        return false;
    }
    for (const nlohmann::json& drive : header.at("drives")) {
        RecordedTableEntry entry;
        entry.path = drive.at("device").get<std::string>();
        entry.otherNames = drive.value("other_names", std::vector<std::string>{});
        std::vector<uint8_t> bytes;
        if (!Unhex(drive.at("identification_hex").get<std::string>(), bytes)) {
            error = "a drive's identification is not hex";
            return false;
        }
        entry.identification.assign(bytes.begin(), bytes.end());
        if (!Unhex(drive.at("revision_hex").get<std::string>(), bytes)) {
            error = "a drive's revision is not hex";
            return false;
        }
        entry.revision.assign(bytes.begin(), bytes.end());
        session.drives.push_back(std::move(entry));
    }
    for (const nlohmann::json& drive : header.value("unavailable", nlohmann::json::array())) {
        UnlistedCause cause = UnlistedCause::Other;
        FromName(drive.value("cause", std::string("other")), kCauses, cause);
        UnlistedDrive unlisted(drive.at("device").get<std::string>(), drive.value("reason", std::string()),
                               drive.value("other_names", std::vector<std::string>{}), cause);
        unlisted.owningGroup = drive.value("owning_group", std::string());
        unlisted.holders = drive.value("holders", std::string());
        session.unlisted.push_back(std::move(unlisted));
    }
    return true;
}

}  // namespace

bool ReadTrace(const std::string& path, RecordedSession& session, std::string& error) {
    if (const std::optional<std::string> why = ReadProblem(path)) {
        error = why.value();
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text;
    uint64_t lineNumber = 0;
    bool started = false;
    session = RecordedSession{};
    while (std::getline(in, text)) {
        ++lineNumber;
        if (!text.empty() && text.back() == '\r') text.pop_back();  // written on Windows, read here
        if (text.empty()) continue;
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
        const std::string where = "line " + std::to_string(lineNumber);
        if (!line.is_object()) {
            error = where + " is not a JSON object";
            return false;
        }
        if (!started) {
            if (!line.contains("keluflash_trace")) {
                error = line.contains("cdb") ? "it was written in trace format 1 (no header line, at most 512 bytes of "
                                               "each data phase), which cannot be replayed; record the session again "
                                               "with this keluflash-cli (trace format " +
                                                   std::to_string(kTraceFormatVersion) + ")"
                                             : "it is not a keluflash-cli trace (its first line has no header)";
                return false;
            }
            const nlohmann::json& version = line["keluflash_trace"];
            if (!version.is_number_integer() || version.get<int64_t>() != kTraceFormatVersion) {
                error = "it was written in trace format " + version.dump() + ", and this keluflash-cli replays format " +
                        std::to_string(kTraceFormatVersion) + " only";
                return false;
            }
            try {
                if (!ReadHeader(line, session, error)) {
                    error = where + ": " + error;
                    return false;
                }
            } catch (const nlohmann::json::exception&) {
                error = where + ": the header lacks a field or has one of the wrong type";
                return false;
            }
            started = true;
            continue;
        }
        // A second session added with --force: the replay is of the first.
        if (line.contains("keluflash_trace")) break;
        RecordedExchange exchange;
        exchange.line = lineNumber;
        try {
            if (!ReadExchange(line, exchange, error)) {
                error = where + ": " + error;
                return false;
            }
        } catch (const nlohmann::json::exception&) {
            error = where + ": a command line lacks a field or has one of the wrong type";
            return false;
        }
        session.commands.push_back(std::move(exchange));
    }
    if (!started) {
        error = "it is empty";
        return false;
    }
    return true;
}

}  // namespace keluflash::cli

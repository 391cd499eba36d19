#include "drive/sim/replay_transport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "drive/transfer_digest.h"

namespace keluflash {
namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

const char* DirectionName(uint8_t direction) {
    return direction == kDirectionIn ? "in" : direction == kDirectionOut ? "out" : "no data";
}

// Copies a text into a zero-terminated field, cut to fit.
template <size_t N>
void CopyText(std::array<char, N>& field, const std::string& text) {
    field.fill(0);
    std::memcpy(field.data(), text.data(), std::min(text.size(), N - 1));
}

}  // namespace

void ReplayClock::Sleep(uint32_t milliseconds) {
    m_now += milliseconds;
    const std::chrono::milliseconds real = std::min(std::chrono::milliseconds(milliseconds), m_realTimeLeft);
    if (real.count() <= 0) return;
    m_realTimeLeft -= real;
    m_realTimeTaken += real;
    std::this_thread::sleep_for(real);
}

ReplayTransport::ReplayTransport(RecordedSession session, ReplayClock& clock)
    : m_session(std::move(session)), m_clock(clock) {}

int ReplayTransport::Scan(DeviceTable& table, const Identify&) {
    const size_t count = std::min(m_session.drives.size(), table.size());
    for (size_t i = 0; i < count; ++i) {
        DeviceEntry& entry = table[i];
        entry = DeviceEntry{};
        entry.handle = i + 1;  // 0 is no drive
        CopyText(entry.identification, m_session.drives[i].identification);
        CopyText(entry.revision, m_session.drives[i].revision);
    }
    return static_cast<int>(count);
}

int ReplayTransport::DeviceIndex(const DeviceEntry& device) const {
    return device.handle == 0 ? -1 : static_cast<int>(device.handle - 1);
}

std::string ReplayTransport::DeviceName(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_session.drives.size()) return "no drive";
    return m_session.drives[static_cast<size_t>(index)].path;
}

std::string ReplayTransport::DevicePath(const DeviceEntry& device) const { return DeviceName(DeviceIndex(device)); }

std::vector<std::string> ReplayTransport::OtherNames(const DeviceEntry& device) const {
    const int index = DeviceIndex(device);
    if (index < 0 || static_cast<size_t>(index) >= m_session.drives.size()) return {};
    return m_session.drives[static_cast<size_t>(index)].otherNames;
}

std::string ReplayTransport::Describe(const uint8_t* cdb, uint8_t direction, uint32_t length,
                                      std::optional<uint32_t> digest, int device) const {
    // Appended piece by piece: mingw's GCC 12 takes a chain of + here for an
    // overlapping copy (-Wrestrict).
    std::string text = "CDB ";
    text += Hex(cdb, 12);
    text += " to ";
    text += DeviceName(device);
    text += ", ";
    text += DirectionName(direction);
    if (direction != kDirectionNone) {
        text += " ";
        text += std::to_string(length);
        text += " bytes";
    }
    if (digest) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", *digest);
        text += " (digest ";
        text += hex;
        text += ")";
    }
    return text;
}

void ReplayTransport::Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length,
                              uint8_t direction, CommandResult& result) {
    result = CommandResult{};  // NotSent: after a mismatch nothing more goes out
    if (!m_mismatch.empty()) return;
    const int index = DeviceIndex(device);
    std::optional<uint32_t> digest;
    if (direction == kDirectionOut && data != nullptr && length > 0) digest = TransferDigest(data, length);
    const std::string sent = Describe(cdb, direction, length, digest, index);
    std::string number = "command " + std::to_string(m_next + 1);
    if (m_next < m_session.commands.size() && m_session.commands[m_next].line != 0)
        number += " (line " + std::to_string(m_session.commands[m_next].line) + ")";
    if (m_next >= m_session.commands.size()) {
        m_mismatch = number + ": sent " + sent + "; the recording ends after " +
                     std::to_string(m_session.commands.size()) + " commands";
    } else {
        const RecordedExchange& recorded = m_session.commands[m_next];
        const bool same = recorded.device == index && std::memcmp(recorded.cdb.data(), cdb, 12) == 0 &&
                          recorded.direction == direction && recorded.length == length &&
                          (direction != kDirectionOut || recorded.dataOutDigest == digest);
        if (!same) {
            m_mismatch = number + ": sent " + sent + "; recorded " +
                         Describe(recorded.cdb.data(), recorded.direction, recorded.length, recorded.dataOutDigest,
                                  recorded.device);
        }
    }
    if (!m_mismatch.empty()) {
        m_clock.StopRealTime();
        return;
    }
    const RecordedExchange& recorded = m_session.commands[m_next++];
    // The command takes as long as it took: the clock reaches the recorded
    // end unless the program's own pauses have already passed it.
    const uint32_t target = recorded.endTick - m_session.startTick;
    const uint32_t now = m_clock.TickCount() - m_session.startTick;
    if (target > now) m_clock.Sleep(target - now);
    result = recorded.result;
    // As a transport does: data lands only as far as the drive sent it (none
    // at all for a command that got no answer).
    if (direction == kDirectionIn && data != nullptr)
        std::copy_n(recorded.dataIn.begin(), std::min<size_t>(recorded.dataIn.size(), length), data);
}

}  // namespace keluflash

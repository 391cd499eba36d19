#pragma once
// A recorded drive session played back: the drive list a program saw and,
// command by command, what each command got back (the result as the
// transport reported it, the data-in bytes, and the time it ended). A
// program run over the replay gets the same answers in the same order as
// long as it sends the commands that were recorded; at the first command
// that differs (another CDB, direction, length, drive, or other data out)
// the replay stops: that command and every later one are not sent, and the
// replay says which command it was, what was sent and what was recorded.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/command_result.h"
#include "drive/host_ports.h"
#include "drive/transport.h"

namespace keluflash {

// One drive of the recorded device table.
struct RecordedTableEntry {
    std::string path;                     // "/dev/sg1", "\\\\.\\D:", "ASPI 0:1:0"
    std::vector<std::string> otherNames;
    std::string identification;           // the table's text: INQUIRY bytes 8-31 as the scan kept them
    std::string revision;                 // INQUIRY bytes 32-35
};

// One command as it was sent and answered.
struct RecordedExchange {
    uint64_t number = 0;                  // 1-based, in the order sent
    uint64_t line = 0;                    // its line in the trace file; 0 when it came from none
    int device = 0;                       // index in the recorded table
    std::array<uint8_t, 12> cdb{};
    uint8_t direction = 0;                // kDirectionNone / In / Out
    uint32_t length = 0;
    std::vector<uint8_t> dataIn;          // the bytes that came in
    std::optional<uint32_t> dataOutDigest;  // TransferDigest of what went out
    uint32_t endTick = 0;                 // the clock when it ended
    CommandResult result;                 // as the transport reported it (sense parsed by TAtapi again)
};

struct RecordedSession {
    bool passThrough = true;
    uint32_t startTick = 0;               // the clock when the session's first command could go
    std::vector<RecordedTableEntry> drives;
    std::vector<UnlistedDrive> unlisted;
    std::vector<RecordedExchange> commands;
};

// The replay's clock: virtual time that follows the recording, and each
// pause taken in real time as well, until the replay stops or `realTimeLimit`
// has passed in pauses (none: virtual time only). A trace may claim any
// pause, days long; the limit keeps the program's promises about how long it
// takes. Past it the replay goes on in virtual time alone.
class ReplayClock final : public Clock {
public:
    explicit ReplayClock(uint32_t startTick, std::chrono::milliseconds realTimeLimit = {})
        : m_now(startTick), m_realTimeLeft(realTimeLimit) {}
    uint32_t TickCount() override { return m_now; }
    void Sleep(uint32_t milliseconds) override;
    // After the replay stopped nothing is worth waiting for.
    void StopRealTime() { m_realTimeLeft = {}; }
    // The real time the pauses have taken so far.
    std::chrono::milliseconds RealTimeTaken() const { return m_realTimeTaken; }

private:
    uint32_t m_now;
    std::chrono::milliseconds m_realTimeLeft;
    std::chrono::milliseconds m_realTimeTaken{0};
};

class ReplayTransport final : public Transport {
public:
    ReplayTransport(RecordedSession session, ReplayClock& clock);

    bool PassThrough() const override { return m_session.passThrough; }
    // The recorded table, as the recorded scan left it; nothing is sent.
    int Scan(DeviceTable& table, const Identify& identify) override;
    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override;
    std::string DevicePath(const DeviceEntry& device) const override;
    std::vector<std::string> OtherNames(const DeviceEntry& device) const override;
    std::vector<UnlistedDrive> Unlisted() const override { return m_session.unlisted; }

    // Why the replay stopped: "command 57 (line 58): sent ...; recorded ...",
    // with the recorded command's line in the trace; empty while every
    // command matched.
    const std::string& Mismatch() const { return m_mismatch; }
    size_t Replayed() const { return m_next; }
    size_t Recorded() const { return m_session.commands.size(); }

private:
    int DeviceIndex(const DeviceEntry& device) const;
    std::string DeviceName(int index) const;
    std::string Describe(const uint8_t* cdb, uint8_t direction, uint32_t length, std::optional<uint32_t> digest,
                         int device) const;

    RecordedSession m_session;
    ReplayClock& m_clock;
    size_t m_next = 0;
    std::string m_mismatch;
};

}  // namespace keluflash

#pragma once
// TAtapi: the one drive-access object. It keeps the device table the
// transport's scan filled, the selected device, the command set and the status
// byte the rest of the program reads; every command goes as a 12-byte CDB
// through ExecuteCommand to the transport chosen once by main().
#include <array>
#include <cstdint>
#include <optional>

#include "drive/command_result.h"
#include "drive/device_entry.h"
#include "drive/host_ports.h"
#include "drive/transport.h"

namespace keluflash {

// One finished command, as a trace or a test sees it.
struct CommandRecord {
    const uint8_t* cdb;      // 12 bytes
    uint8_t direction;
    uint32_t length;
    const uint8_t* data;     // length bytes (after the command: what came in or went out)
    uint8_t status;
    const CommandResult& result;
};

class CommandObserver {
public:
    virtual ~CommandObserver() = default;
    virtual void CommandExecuted(const CommandRecord& record) = 0;
};

class TAtapi {
public:
    // Scans the drives through the transport and selects entry 0. `ui` shows
    // the system-error box of a refused call.
    // Scans at once; `observer`, when given, sees the scan's commands too.
    TAtapi(Transport& transport, UserInterface& ui, CommandObserver* observer = nullptr);
    TAtapi(const TAtapi&) = delete;
    TAtapi& operator=(const TAtapi&) = delete;

    // Runs one command on the selected device; returns the status byte (1 =
    // done on the pass-through transports, the SRB status on ASPI, 0 after a
    // system error was shown).
    uint8_t ExecuteCommand(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);

    // Command set: each builds its CDB and returns ExecuteCommand's status.
    uint8_t TestUnitReady();
    uint8_t Inquiry(uint8_t* buffer);          // 50 bytes in
    uint8_t RequestSense(uint8_t* buffer);     // 18 bytes in
    uint8_t StopPlayScan();
    uint8_t StopUnit();
    uint8_t WriteBufferDownload(uint8_t* data, uint8_t block, uint16_t offset, uint32_t count);
    uint8_t VendorWriteBlock(uint8_t* data, uint8_t mode, uint8_t block, uint16_t count, uint16_t value);
    uint8_t VendorQueryMode(uint8_t* buffer);  // 10 bytes in
    uint8_t VendorReadMemory(uint8_t* buffer, uint8_t bank, uint16_t address);  // 256 bytes in
    uint8_t VendorReadPatchInfo(uint8_t* buffer);                               // 65536 bytes in
    uint8_t VendorWriteMemory(uint8_t* data, uint8_t bank, uint16_t address, uint8_t count);

    // What callers read after a command.
    bool NtFlag() const { return m_transport.PassThrough(); }
    // The last command's result: category, SCSI status, sense, residual count,
    // the system's error.
    const CommandResult& LastResult() const { return m_lastResult; }
    // SRB_TargStat of the last ASPI command; 0 on the pass-through transports.
    uint8_t AspiTargetStatus() const { return NtFlag() ? 0 : m_lastResult.scsiStatus; }

    // Device table and selected device.
    int DeviceCount() const { return m_deviceCount; }
    const DeviceEntry& Device(int index) const { return m_devices.at(static_cast<size_t>(index)); }
    void SelectDevice(const DeviceEntry& entry) { m_selected = entry; }
    const DeviceEntry& SelectedDevice() const { return m_selected; }
    DeviceHandle SelectedHandle() const { return m_selected.handle; }
    const keluflash::Transport& DriveTransport() const { return m_transport; }

    // Sees every command after it ran; null for none.
    void SetCommandObserver(CommandObserver* observer) { m_observer = observer; }

    // Keeps other programs off the selected drive for an update (on Windows
    // NT its volume is locked). ReleaseSelectedDrive ends the hold on the
    // drive that was held, even if the selection has moved since.
    DriveHold HoldSelectedDrive();
    void ReleaseSelectedDrive();

private:
    Transport& m_transport;
    UserInterface& m_ui;
    DeviceTable m_devices{};
    int m_deviceCount = 0;
    DeviceEntry m_selected{};
    CommandResult m_lastResult{};
    CommandObserver* m_observer = nullptr;
    std::optional<DeviceEntry> m_held;
};

// The selected drive held from construction until this goes away, whatever
// ends the update in between.
class SelectedDriveHold {
public:
    explicit SelectedDriveHold(TAtapi& atapi) : m_atapi(atapi), m_hold(atapi.HoldSelectedDrive()) {}
    ~SelectedDriveHold() { m_atapi.ReleaseSelectedDrive(); }
    SelectedDriveHold(const SelectedDriveHold&) = delete;
    SelectedDriveHold& operator=(const SelectedDriveHold&) = delete;

    const DriveHold& Hold() const { return m_hold; }

private:
    TAtapi& m_atapi;
    DriveHold m_hold;
};

}  // namespace keluflash

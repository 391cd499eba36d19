#pragma once
// TAtapi: the one drive-access object. It chooses the transport path once,
// finds the optical drives, keeps the selected device and runs every drive
// command as a 12-byte CDB through ExecuteCommand.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "drive/aspi_request.h"
#include "drive/command_result.h"
#include "drive/device_entry.h"
#include "drive/pass_through_request.h"
#include "drive/transport_ports.h"

namespace keluflash {

inline constexpr uint32_t kAspiWaitMilliseconds = 30000;
// How long start-up waits for one ASPI device probe before it gives up on the
// ASPI layer (see ScanAspiDevices).
inline constexpr uint32_t kAspiProbeWaitMilliseconds = 3000;
// What ExecuteCommand returns when WNASPI32.DLL could not be loaded: nothing
// is sent, and the status reads as an ASPI error (SS_ERR).
inline constexpr uint8_t kStatusNoTransport = kSsErr;

// One finished command, as a trace or a test sees it.
struct CommandRecord {
    const uint8_t* cdb;      // 12 bytes
    uint8_t direction;
    uint32_t length;
    const uint8_t* data;     // length bytes (after the command: what came in or went out)
    uint8_t status;
    SenseTriple sense;
};

class CommandObserver {
public:
    virtual ~CommandObserver() = default;
    virtual void CommandExecuted(const CommandRecord& record) = 0;
};

class TAtapi {
public:
    // Chooses the path, loads ASPI where it is used, scans the drives and
    // selects entry 0.
    explicit TAtapi(const DrivePorts& ports);
    ~TAtapi();
    TAtapi(const TAtapi&) = delete;
    TAtapi& operator=(const TAtapi&) = delete;

    // Transport.
    uint8_t ExecuteCommand(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);
    bool IsNtPlatform();
    void PumpMessage();

    // Discovery (runs once, from the constructor).
    int ScanAspiDevices();
    int ScanPassThroughDrives();

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
    bool NtFlag() const { return m_ntFlag != 0; }
    SenseTriple LastSense() const;
    // What became of the last command: answered by the drive, given up by
    // the host, or refused by the system (a drive that is gone).
    const CommandResult& LastResult() const { return m_lastResult; }
    uint8_t AspiTargetStatus() const;  // SRB_TargStat of the last ASPI command

    // Device table and selected device.
    int DeviceCount() const { return m_deviceCount; }
    const DeviceEntry& Device(int index) const { return m_devices.at(static_cast<size_t>(index)); }
    void SelectDevice(const DeviceEntry& entry);
    DeviceHandle SelectedHandle() const { return m_selectedHandle; }
    uint8_t SelectedHostAdapter() const { return m_selectedHostAdapter; }
    uint8_t SelectedTarget() const { return m_selectedTarget; }
    uint8_t SelectedLun() const { return m_selectedLun; }
    bool AspiLoaded() const { return m_aspiLibrary != nullptr; }

    // Sees every command after it ran (the CLI's --trace); null for none.
    void SetCommandObserver(CommandObserver* observer) { m_observer = observer; }

private:
    uint8_t ExecuteAspi(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);
    uint8_t ExecutePassThrough(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t dataIn);
    void RecordAspiResult(uint8_t status, const SrbExecSCSICmd& request);
    void AbortAspiRequest();
    void SendAbort(void* request, uint8_t hostAdapter);
    bool WaitForProbe();
    std::string ShowSystemError(uint32_t error);  // returns the system's text

    DrivePorts m_ports;
    DeviceHandle m_selectedHandle = 0;
    uint8_t m_selectedHostAdapter = 0;
    uint8_t m_selectedTarget = 0;
    uint8_t m_selectedLun = 0;
    std::unique_ptr<AspiLibrary> m_aspiLibrary;
    int m_deviceCount = 0;
    uint8_t m_ntFlag = 0;
    DeviceHandle m_scanHandle = 0;
    std::array<DeviceEntry, kDeviceTableSize> m_devices{};
    std::unique_ptr<SrbExecSCSICmd> m_aspiRequest;
    // The device probe lives as long as the library: a probe given up on may
    // still be written to by the ASPI layer.
    SrbGDEVBlock m_probe{};
    PassThroughBuffer m_passThrough{};
    CommandObserver* m_observer = nullptr;
    CommandResult m_lastResult;
};

}  // namespace keluflash

#pragma once
// The ASPI transport (Windows 95/98/Me): WNASPI32.DLL loaded from the system
// directory, the drives found with SC_GET_DEV_TYPE probes over every adapter,
// target and LUN, each command one SC_EXEC_SCSI_CMD with event notification,
// a 30 s wait and SC_ABORT_SRB when it runs out.
#include <memory>
#include <vector>

#include "drive/transport.h"
#include "drive/windows/aspi_request.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

inline constexpr uint32_t kAspiWaitMilliseconds = 30000;
// How long the scan waits for one device probe before it gives up on the
// rest of that adapter.
inline constexpr uint32_t kAspiProbeWaitMilliseconds = 3000;
// How long an aborted request may stay pending before its block is retired.
inline constexpr uint32_t kAspiAbortWaitMilliseconds = 3000;
// The status of a command that was not sent (no WNASPI32.DLL, no event, the
// layer holding a request it never gave back): SS_ERR.
inline constexpr uint8_t kStatusNoTransport = kSsErr;
// Shown once when the layer keeps an aborted request for good.
inline constexpr const char* kAspiStuckText =
    "The ASPI layer did not give back a stopped command. No further drive command is sent; "
    "restart the computer before using the drive again.";

class AspiTransport final : public Transport {
public:
    // Loads WNASPI32.DLL; when it cannot, says "WNASPI32.DLL not found" and
    // every later command is refused.
    explicit AspiTransport(const WindowsPorts& ports);
    ~AspiTransport() override;
    AspiTransport(const AspiTransport&) = delete;
    AspiTransport& operator=(const AspiTransport&) = delete;

    bool PassThrough() const override { return false; }
    int Scan(DeviceTable& table, const Identify& identify) override;
    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override;
    std::string DevicePath(const DeviceEntry& device) const override;

    bool Loaded() const { return m_library != nullptr; }

private:
    // One SC_EXEC_SCSI_CMD block with the data buffer and event it points to.
    // All three stay alive while the ASPI layer may still write to them.
    struct Request {
        SrbExecSCSICmd block{};
        std::vector<uint8_t> data;
        std::unique_ptr<AspiEvent> event;
    };
    bool WaitForProbe(const SrbGDEVBlock& probe);
    bool WaitWhilePending(const uint8_t& status, uint32_t milliseconds);
    void SendAbort(void* request, uint8_t hostAdapter);
    void RetireRequest();

    WindowsPorts m_ports;
    std::unique_ptr<AspiLibrary> m_library;
    std::unique_ptr<Request> m_request;
    std::unique_ptr<SrbGDEVBlock> m_probe;
    // Blocks the layer never gave back; freed only after the library is
    // unloaded.
    std::vector<std::unique_ptr<Request>> m_retiredRequests;
    std::vector<std::unique_ptr<SrbGDEVBlock>> m_retiredProbes;
    bool m_stuck = false;
};

}  // namespace keluflash

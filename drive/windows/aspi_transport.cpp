#include "drive/windows/aspi_transport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace keluflash {

namespace {

// GetSystemDirectoryA's buffer: a longer system directory is treated as if
// WNASPI32.DLL were not there.
constexpr size_t kSystemDirectoryCapacity = 50;
constexpr size_t kCdbLength = 12;
constexpr uint8_t kTargetsPerAdapter = 8;
constexpr uint8_t kLunsPerTarget = 8;
constexpr uint8_t kHaStatTimeout = 0x09;     // the adapter's command time-out
constexpr uint8_t kHaStatCommandTimeout = 0x0B;
constexpr uint8_t kHaStatSelectionTimeout = 0x11;  // the target no longer answers

}  // namespace

AspiTransport::AspiTransport(const WindowsPorts& ports) : m_ports(ports) {
    const std::optional<std::string> directory = m_ports.aspi.SystemDirectory(kSystemDirectoryCapacity);
    if (directory) {
        m_library = m_ports.aspi.LoadAspiLibrary(*directory + "\\WNASPI32.DLL");
    }
    if (!m_library) {
        m_ports.ui.ShowMessage("WNASPI32.DLL not found", kApplicationTitle, kMbOk);
        return;
    }
    // Cleared once here; afterwards each command writes only its own fields.
    m_request = std::make_unique<Request>();
    m_probe = std::make_unique<SrbGDEVBlock>();
}

AspiTransport::~AspiTransport() {
    // The library goes first, so that nothing of the ASPI layer can still
    // write into a request block once it is freed.
    m_library.reset();
}

std::string AspiTransport::DevicePath(const DeviceEntry& device) const {
    return "ASPI " + std::to_string(device.hostAdapter) + ":" + std::to_string(device.target) + ":" +
           std::to_string(device.lun);
}

int AspiTransport::Scan(DeviceTable& table, const Identify& identify) {
    int count = 0;
    if (!m_library) {
        return 0;
    }
    const uint8_t adapters = static_cast<uint8_t>(m_library->GetASPI32SupportInfo() & 0xFF);
    for (uint8_t adapter = 0; adapter < adapters; ++adapter) {
        bool adapterAnswers = true;
        for (uint8_t target = 0; target < kTargetsPerAdapter && adapterAnswers; ++target) {
            for (uint8_t lun = 0; lun < kLunsPerTarget && adapterAnswers; ++lun) {
                if (count == kDeviceTableSize) {
                    return count;  // a full table records nothing more
                }
                SrbGDEVBlock& probe = *m_probe;
                probe.SRB_Cmd = kScGetDevType;
                probe.SRB_HaId = adapter;
                probe.SRB_Flags = 0;
                probe.SRB_Hdr_Rsvd = 0;
                probe.SRB_Target = target;
                probe.SRB_Lun = lun;
                probe.SRB_Rsvd1 = 0;
                m_library->SendASPI32Command(&probe);
                if (!WaitForProbe(probe)) {
                    // This adapter does not answer; every further probe on it
                    // would stall start-up as long again. The block stays with
                    // the layer, which may still write to it.
                    SendAbort(&probe, adapter);
                    m_retiredProbes.push_back(std::move(m_probe));
                    m_probe = std::make_unique<SrbGDEVBlock>();
                    adapterAnswers = false;
                    continue;
                }
                if (ReadAspiStatus(probe.SRB_Status) != kSsComp || probe.SRB_DeviceType != kScsiTypeCdrom) {
                    continue;
                }
                DeviceEntry& entry = table[static_cast<size_t>(count)];
                entry.hostAdapter = adapter;
                entry.target = target;
                entry.lun = lun;
                // Cleared, so that a failed INQUIRY leaves empty texts.
                std::array<uint8_t, kInquiryLength> inquiry{};
                identify(entry, inquiry.data());
                FillInquiryTexts(entry, inquiry.data(), false);
                ++count;
            }
        }
    }
    return count;
}

// Waits for the device probe, pumping the window's messages meanwhile. An
// SC_GET_DEV_TYPE is answered from the ASPI layer's own device list, normally
// before the call returns; a probe still pending after a few seconds means the
// layer is stuck on that adapter.
bool AspiTransport::WaitForProbe(const SrbGDEVBlock& probe) {
    const uint32_t start = m_ports.clock.TickCount();
    for (;;) {
        if (ReadAspiStatus(probe.SRB_Status) != kSsPending) {
            return true;
        }
        m_ports.ui.PumpMessage();
        if (ReadAspiStatus(probe.SRB_Status) != kSsPending) {
            return true;
        }
        if (m_ports.clock.TickCount() - start >= kAspiProbeWaitMilliseconds) {
            return false;
        }
        // Gives the layer the processor (and lets a simulated clock move).
        m_ports.clock.Sleep(1);
    }
}

bool AspiTransport::WaitWhilePending(const uint8_t& status, uint32_t milliseconds) {
    const uint32_t start = m_ports.clock.TickCount();
    while (ReadAspiStatus(status) == kSsPending) {
        if (m_ports.clock.TickCount() - start >= milliseconds) {
            return false;
        }
        m_ports.clock.Sleep(1);
    }
    return true;
}

void AspiTransport::Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length,
                            uint8_t direction, CommandResult& result) {
    result = CommandResult{};
    result.aspiStatus = kStatusNoTransport;
    if (!m_library || m_stuck) {
        return;
    }
    Request& request = *m_request;
    request.event = m_ports.aspi.CreateCompletionEvent();
    if (!request.event) {
        return;
    }
    // The layer reads and writes the transport's own copy of the data, so a
    // request it never gives back cannot write into the caller's memory.
    if (request.data.size() < length) {
        request.data.resize(length);
    }
    // Data in starts as the caller prepared it too: what the drive does not
    // send stays the caller's own.
    if (length > 0 && data != nullptr) {
        std::memcpy(request.data.data(), data, length);
    }
    SrbExecSCSICmd& block = request.block;
    block.SRB_Cmd = kScExecScsiCmd;
    block.SRB_HaId = device.hostAdapter;
    block.SRB_Flags = static_cast<uint8_t>(direction | kSrbEventNotify);
    block.SRB_Target = device.target;
    block.SRB_Lun = device.lun;
    block.SRB_BufLen = length;
    block.SRB_BufPointer = length > 0 ? request.data.data() : nullptr;
    block.SRB_SenseLen = kAspiSenseLength;
    block.SRB_CDBLen = kCdbLength;
    block.SRB_PostProc = request.event->PostProc();
    std::memcpy(block.CDBByte, cdb, kCdbLength);
    // A command that brings no sense data must not show the previous one's.
    std::memset(block.SenseArea, 0, sizeof block.SenseArea);

    m_library->SendASPI32Command(&block);
    uint8_t status = ReadAspiStatus(block.SRB_Status);
    if (status == kSsPending) {
        if (request.event->Wait(kAspiWaitMilliseconds) == AspiEvent::WaitResult::Signalled) {
            status = ReadAspiStatus(block.SRB_Status);
        } else {
            SendAbort(&block, device.hostAdapter);
            if (WaitWhilePending(block.SRB_Status, kAspiAbortWaitMilliseconds)) {
                request.event.reset();
            } else {
                RetireRequest();
            }
            result.outcome = CommandOutcome::HostFailure;
            result.hostFailure = HostFailureKind::TimedOut;
            result.aspiStatus = kSsErr;
            return;
        }
    }
    // A layer that calls a request complete while the drive answered other
    // than GOOD has handed back nothing valid: it counts as the error it is.
    if (status == kSsComp && block.SRB_TargStat != kScsiStatusGood) status = kSsErr;
    result.aspiStatus = status;

    result.scsiStatus = block.SRB_TargStat;
    // The layer cannot tell a drive that left the system from one that
    // restarts after programming its flash (both stop answering selection,
    // or drop out of the layer's list for a while): neither is called gone.
    // A request the layer calls complete while its adapter reports an error
    // is no answer either: what it handed back cannot be trusted.
    if (status == kSsNoDevice || status == kSsInvalidHa) {
        result.outcome = CommandOutcome::OsError;  // no text: ASPI shows no box
    } else if (block.SRB_HaStat != 0) {
        result.outcome = CommandOutcome::HostFailure;
        result.hostFailure = block.SRB_HaStat == kHaStatTimeout || block.SRB_HaStat == kHaStatCommandTimeout ||
                                     block.SRB_HaStat == kHaStatSelectionTimeout
                                 ? HostFailureKind::TimedOut
                                 : HostFailureKind::TransportError;
    } else {
        result.outcome = CommandOutcome::Answered;
    }
    if (block.SRB_TargStat == kScsiStatusCheckCondition) {
        result.senseLength = kAspiSenseLength;
        std::memcpy(result.senseData.data(), block.SenseArea, kAspiSenseLength);
    }
    // Only a command that completed hands data back: a failed one leaves the
    // caller's buffer as it was, never the bytes of an earlier command.
    if (length > 0 && data != nullptr && direction == kDirectionIn && status == kSsComp &&
        result.outcome == CommandOutcome::Answered) {
        std::memcpy(data, request.data.data(), length);
    }
    request.event.reset();
}

void AspiTransport::SendAbort(void* request, uint8_t hostAdapter) {
    SrbAbort abort{};
    abort.SRB_Cmd = kScAbortSrb;
    abort.SRB_HaId = hostAdapter;
    abort.SRB_ToAbort = request;
    m_library->SendASPI32Command(&abort);
}

void AspiTransport::RetireRequest() {
    m_retiredRequests.push_back(std::move(m_request));
    m_request = std::make_unique<Request>();
    m_stuck = true;
    m_ports.ui.ShowMessage(kAspiStuckText, kApplicationTitle, kMbOk | kMbIconStop);
}

}  // namespace keluflash

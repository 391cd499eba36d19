#include "drive/atapi.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace keluflash {

namespace {

// GetSystemDirectoryA's buffer: a longer system directory is treated as if
// WNASPI32.DLL were not there.
constexpr size_t kSystemDirectoryCapacity = 50;
constexpr size_t kSystemErrorCapacity = 80;
constexpr size_t kCdbLength = 12;
constexpr uint32_t kErrorDeviceNotConnected = 1167;

}  // namespace

TAtapi::TAtapi(const DrivePorts& ports) : m_ports(ports) {
    IsNtPlatform();
    if (!m_ntFlag) {
        const std::optional<std::string> directory = m_ports.aspi.SystemDirectory(kSystemDirectoryCapacity);
        if (directory) {
            m_aspiLibrary = m_ports.aspi.LoadLibrary(*directory + "\\WNASPI32.DLL");
        }
        if (!m_aspiLibrary) {
            m_ports.ui.MessageBox("WNASPI32.DLL not found", kApplicationTitle, kMbOk);
            return;
        }
        // Cleared once here; afterwards each command writes only its own fields.
        m_aspiRequest = std::make_unique<SrbExecSCSICmd>();
    }
    ScanAspiDevices();
    SelectDevice(m_devices[0]);
}

TAtapi::~TAtapi() {
    // The library goes first, so that nothing of the ASPI layer can still
    // write into a request block once it is freed.
    m_aspiLibrary.reset();
    m_aspiRequest.reset();
    // The last letter's open may have failed; there is nothing to close then.
    if (m_scanHandle != 0 && m_scanHandle != kInvalidHandle) {
        m_ports.driveLetters.Close(m_scanHandle);
    }
}

bool TAtapi::IsNtPlatform() {
    m_ntFlag = m_ports.platform.IsNtFamily() ? 1 : 0;
    return m_ntFlag != 0;
}

void TAtapi::PumpMessage() { m_ports.ui.PumpMessage(); }

void TAtapi::SelectDevice(const DeviceEntry& entry) {
    m_selectedHandle = entry.handle;
    m_selectedHostAdapter = entry.hostAdapter;
    m_selectedTarget = entry.target;
    m_selectedLun = entry.lun;
}

uint8_t TAtapi::ExecuteCommand(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction) {
    m_lastResult = CommandResult{};
    uint8_t status = kStatusNoTransport;
    if (m_ntFlag) {
        const uint8_t dataIn = direction == kDirectionIn    ? kScsiIoctlDataIn
                               : direction == kDirectionOut ? kScsiIoctlDataOut
                                                            : kScsiIoctlDataUnspecified;
        status = ExecutePassThrough(cdb, data, length, dataIn);
    } else if (m_aspiRequest) {
        status = ExecuteAspi(cdb, data, length, direction);
    }
    if (m_observer != nullptr) {
        m_observer->CommandExecuted(CommandRecord{cdb, direction, length, data, status, LastSense()});
    }
    return status;
}

uint8_t TAtapi::ExecuteAspi(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction) {
    const std::unique_ptr<AspiEvent> event = m_ports.aspi.CreateEvent();
    if (!event) {
        m_lastResult.outcome = CommandOutcome::OsError;
        return kSsErr;
    }
    SrbExecSCSICmd& request = *m_aspiRequest;
    request.SRB_Cmd = kScExecScsiCmd;
    request.SRB_HaId = m_selectedHostAdapter;
    request.SRB_Flags = static_cast<uint8_t>(direction | kSrbEventNotify);
    request.SRB_Target = m_selectedTarget;
    request.SRB_Lun = m_selectedLun;
    request.SRB_BufLen = length;
    request.SRB_BufPointer = data;
    request.SRB_SenseLen = kAspiSenseLength;
    request.SRB_CDBLen = kCdbLength;
    request.SRB_PostProc = event->PostProc();
    std::memcpy(request.CDBByte, cdb, kCdbLength);
    // A command that brings no sense data must not show the previous one's.
    std::memset(request.SenseArea, 0, sizeof request.SenseArea);

    m_aspiLibrary->SendASPI32Command(&request);
    uint8_t status = ReadAspiStatus(request.SRB_Status);
    if (status == kSsPending) {
        if (event->Wait(kAspiWaitMilliseconds) == AspiEvent::WaitResult::Signalled) {
            status = ReadAspiStatus(request.SRB_Status);
        } else {
            AbortAspiRequest();
            m_lastResult.outcome = CommandOutcome::HostFailure;
            m_lastResult.hostFailure = HostFailureKind::TimedOut;
            return kSsErr;
        }
    }
    RecordAspiResult(status, request);
    return status;
}

void TAtapi::RecordAspiResult(uint8_t status, const SrbExecSCSICmd& request) {
    if (status == kSsComp || (status == kSsErr && request.SRB_HaStat == 0)) {
        m_lastResult.outcome = CommandOutcome::Answered;
        m_lastResult.scsiStatus = status == kSsComp ? kScsiStatusGood : request.SRB_TargStat;
        if (m_lastResult.scsiStatus == kScsiStatusCheckCondition) {
            std::memcpy(m_lastResult.sense.data(), request.SenseArea, kAspiSenseLength);
            m_lastResult.senseLength = kAspiSenseLength;
        }
    } else if (status == kSsInvalidHa || status == kSsNoDevice) {
        m_lastResult.outcome = CommandOutcome::OsError;
        m_lastResult.deviceGone = true;
    } else {
        m_lastResult.outcome = CommandOutcome::HostFailure;
        m_lastResult.hostFailure =
            status == kSsAborted ? HostFailureKind::TimedOut : HostFailureKind::TransportError;
    }
}

void TAtapi::AbortAspiRequest() { SendAbort(m_aspiRequest.get(), m_selectedHostAdapter); }

void TAtapi::SendAbort(void* request, uint8_t hostAdapter) {
    SrbAbort abort{};
    abort.SRB_Cmd = kScAbortSrb;
    abort.SRB_HaId = hostAdapter;
    abort.SRB_Flags = 0;
    abort.SRB_Hdr_Rsvd = 0;
    abort.SRB_ToAbort = request;
    m_aspiLibrary->SendASPI32Command(&abort);
}

uint8_t TAtapi::ExecutePassThrough(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t dataIn) {
    m_passThrough = MakePassThroughRequest(cdb, data, length, dataIn);
    const ScsiPassThroughDirect& spt = m_passThrough.spt;

    uint32_t error = 0;
    m_lastResult.outcome = CommandOutcome::Answered;
    if (!m_ports.passThrough.DeviceIoControl(m_selectedHandle, m_passThrough, error)) {
        // A device time-out or I/O error still leaves the command's status and sense.
        if (error != kErrorSemTimeout && error != kErrorIoDevice) {
            m_lastResult.outcome = CommandOutcome::OsError;
            m_lastResult.osError = error;
            m_lastResult.deviceGone = error == kErrorDeviceNotConnected;
            m_lastResult.osErrorText = ShowSystemError(error);
            return 0;
        }
        m_lastResult.outcome = CommandOutcome::HostFailure;
        m_lastResult.hostFailure = error == kErrorSemTimeout ? HostFailureKind::TimedOut : HostFailureKind::TransportError;
    }
    m_lastResult.scsiStatus = spt.ScsiStatus;
    // Sense came back with the command when it holds a fixed or descriptor
    // response code.
    if (spt.ScsiStatus == kScsiStatusCheckCondition && (m_passThrough.sense[0] & 0x7E) == 0x70) {
        std::memcpy(m_lastResult.sense.data(), m_passThrough.sense,
                    std::min(sizeof m_passThrough.sense, m_lastResult.sense.size()));
        m_lastResult.senseLength = static_cast<uint8_t>(std::min(sizeof m_passThrough.sense, m_lastResult.sense.size()));
    }
    return spt.ScsiStatus != 0 ? spt.ScsiStatus : kStatusGood;
}

std::string TAtapi::ShowSystemError(uint32_t error) {
    uint32_t formatError = 0;
    const std::optional<std::string> text = m_ports.errorText.FormatMessage(error, kSystemErrorCapacity, formatError);
    const std::string box = text ? *text + "\n"
                                 : "Format message failed.  Error: " +
                                       std::to_string(static_cast<int32_t>(formatError)) + "\n";
    m_ports.ui.MessageBox(box, kApplicationTitle, kMbOk);
    // The system's own text, one line, for the operator's message list.
    std::string line = text.value_or(std::string());
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

SenseTriple TAtapi::LastSense() const {
    const uint8_t* sense = nullptr;
    if (m_ntFlag) {
        sense = m_passThrough.sense;
    } else if (m_aspiRequest) {
        sense = m_aspiRequest->SenseArea;
    } else {
        return SenseTriple{};
    }
    return SenseTriple{sense[2], sense[12], sense[13]};
}

uint8_t TAtapi::AspiTargetStatus() const { return m_aspiRequest ? m_aspiRequest->SRB_TargStat : 0; }

}  // namespace keluflash

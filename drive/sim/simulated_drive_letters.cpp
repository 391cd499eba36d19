#include "drive/sim/simulated_drive_letters.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "drive/command_result.h"
#include "drive/sim/simulated_windows_errors.h"
#include "drive/windows/nt_pass_through_transport.h"

namespace keluflash {

namespace {

constexpr unsigned kDriveNoRootDir = 1;
constexpr uint32_t kMillisecondsPerSecond = 1000;
constexpr DeviceHandle kHandleStep = 4;       // handles are multiples of 4, as on Windows
constexpr size_t kLegacySptLength = 44;        // the 32-bit layout's Length

}  // namespace

char SimulatedDriveLetters::LetterOf(size_t drive) const {
    if (drive < Config().driveLetters.size()) return Config().driveLetters[drive];
    return static_cast<char>('D' + drive);
}

std::optional<size_t> SimulatedDriveLetters::DriveAtLetter(char letter) const {
    for (size_t i = 0; i < m_machine.DriveCount(); ++i) {
        if (LetterOf(i) == letter) return i;
    }
    return std::nullopt;
}

bool SimulatedDriveLetters::Unopenable(char letter) const {
    const auto& letters = Config().unopenableCdromLetters;
    return std::find(letters.begin(), letters.end(), letter) != letters.end();
}

unsigned SimulatedDriveLetters::DriveType(char letter) {
    if (DriveAtLetter(letter) || Unopenable(letter)) return kDriveCdrom;
    const auto other = Config().otherLetterTypes.find(letter);
    return other != Config().otherLetterTypes.end() ? other->second : kDriveNoRootDir;
}

DeviceHandle SimulatedDriveLetters::Open(char letter) {
    const std::optional<size_t> drive = DriveAtLetter(letter);
    if (!drive || Unopenable(letter)) return kInvalidHandle;
    const DeviceHandle handle = m_nextHandle;
    m_nextHandle += kHandleStep;
    m_handles.emplace_back(handle, *drive);
    ++m_counters.handlesOpen;
    m_counters.lettersOpened.push_back(letter);
    return handle;
}

void SimulatedDriveLetters::Close(DeviceHandle handle) {
    const auto found =
        std::find_if(m_handles.begin(), m_handles.end(), [handle](const auto& h) { return h.first == handle; });
    if (found == m_handles.end()) return;
    Volume& volume = VolumeOf(found->second);
    if (volume.lockedBy == handle) volume.lockedBy.reset();
    m_handles.erase(found);
    --m_counters.handlesOpen;
}

SimulatedDriveLetters::Volume& SimulatedDriveLetters::VolumeOf(size_t drive) {
    const auto [volume, made] = m_volumes.try_emplace(drive);
    if (made) {
        const std::vector<size_t>& mounted = Config().mountedVolumes;
        volume->second.mounted = std::find(mounted.begin(), mounted.end(), drive) != mounted.end();
    }
    return volume->second;
}

bool SimulatedDriveLetters::VolumeMounted(size_t drive) const {
    const auto volume = m_volumes.find(drive);
    if (volume != m_volumes.end()) return volume->second.mounted;
    const std::vector<size_t>& mounted = Config().mountedVolumes;
    return std::find(mounted.begin(), mounted.end(), drive) != mounted.end();
}

bool SimulatedDriveLetters::VolumeControl(DeviceHandle handle, uint32_t controlCode, uint32_t& lastError) {
    const auto found =
        std::find_if(m_handles.begin(), m_handles.end(), [handle](const auto& h) { return h.first == handle; });
    if (found == m_handles.end()) {
        lastError = kErrorInvalidHandle;
        return false;
    }
    const size_t drive = found->second;
    Volume& volume = VolumeOf(drive);
    uint32_t error = 0;
    switch (controlCode) {
        case kFsctlLockVolume: {
            const auto configured = Config().volumeLockErrors.find(drive);
            if (m_machine.Lost(drive)) error = kErrorDeviceNotConnected;
            else if (configured != Config().volumeLockErrors.end()) error = configured->second;
            else if (volume.lockedBy) error = kErrorAccessDenied;
            else volume.lockedBy = handle;
            break;
        }
        case kFsctlDismountVolume: volume.mounted = false; break;
        case kFsctlUnlockVolume:
            if (volume.lockedBy == handle) volume.lockedBy.reset();
            else error = kErrorNotLocked;
            break;
        default: error = kErrorInvalidFunction; break;
    }
    m_counters.volumeControls.push_back({LetterOf(drive), controlCode, error, m_machine.Drive(drive).Commands().size()});
    if (error != 0) lastError = error;
    return error == 0;
}

std::string SimulatedDriveLetters::DevicePath(char letter) { return std::string("\\\\.\\") + letter + ":"; }

uint32_t SimulatedDriveLetters::OpenError(char letter) {
    if (Unopenable(letter)) return kErrorAccessDenied;
    return DriveAtLetter(letter) ? 0 : kErrorFileNotFound;
}

std::string SimulatedDriveLetters::OpenFailure(char letter) {
    if (Unopenable(letter)) return "Access is denied.";
    return DriveAtLetter(letter) ? "" : "The system cannot find the file specified.";
}

bool SimulatedDriveLetters::DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) {
    ++m_counters.passThroughCalls;
    const auto found =
        std::find_if(m_handles.begin(), m_handles.end(), [handle](const auto& h) { return h.first == handle; });
    if (found == m_handles.end()) {
        lastError = kErrorInvalidHandle;
        return false;
    }
    ScsiPassThroughDirect& spt = buffer.spt;
    const bool lengthKnown = spt.Length == sizeof(ScsiPassThroughDirect) || spt.Length == kLegacySptLength;
    const bool senseFits =
        spt.SenseInfoLength == 0 || size_t{spt.SenseInfoOffset} + spt.SenseInfoLength <= sizeof(PassThroughBuffer);
    const bool dataKnown =
        spt.DataIn <= kScsiIoctlDataUnspecified && (spt.DataTransferLength == 0 || spt.DataBuffer != nullptr);
    if (!lengthKnown || spt.CdbLength == 0 || spt.CdbLength > sizeof spt.Cdb || !senseFits || !dataKnown) {
        lastError = kErrorInvalidParameter;
        return false;
    }
    std::array<uint8_t, 12> cdb{};
    std::memcpy(cdb.data(), spt.Cdb, std::min<size_t>(spt.CdbLength, cdb.size()));
    const uint8_t direction = spt.DataIn == kScsiIoctlDataIn    ? kDirectionIn
                              : spt.DataIn == kScsiIoctlDataOut ? kDirectionOut
                                                                : kDirectionNone;
    const SimulatedMachine::Delivery delivery = m_machine.Deliver(
        found->second, cdb.data(), static_cast<uint8_t*>(spt.DataBuffer), spt.DataTransferLength, direction);
    if (delivery.fault == MachineFaultKind::NeverCompletes) {
        // The device time-out expires; the request comes back untouched.
        m_machine.Clock().Advance(uint64_t{spt.TimeOutValue} * kMillisecondsPerSecond);
        lastError = kErrorSemTimeout;
        return false;
    }
    if (delivery.fault == MachineFaultKind::TimeOutReportedAsGood) {
        m_machine.Clock().Advance(uint64_t{spt.TimeOutValue} * kMillisecondsPerSecond);
        spt.ScsiStatus = kScsiStatusGood;
        if (spt.DataIn != kScsiIoctlDataOut) spt.DataTransferLength = 0;
        return true;
    }
    if (delivery.fault == MachineFaultKind::DriveGone || delivery.fault == MachineFaultKind::OsError) {
        lastError = delivery.fault == MachineFaultKind::DriveGone ? kErrorDeviceNotConnected : delivery.osError;
        return false;
    }
    const ScsiResult& result = delivery.scsi;
    spt.ScsiStatus = result.scsiStatus;
    if (spt.DataIn != kScsiIoctlDataOut) spt.DataTransferLength = result.transferred;
    if (result.HasSense() && spt.SenseInfoLength > 0) {
        auto* bytes = reinterpret_cast<uint8_t*>(&buffer);
        std::memcpy(bytes + spt.SenseInfoOffset, result.sense.data(),
                    std::min<size_t>(spt.SenseInfoLength, result.sense.size()));
    }
    if (delivery.fault == MachineFaultKind::HostTimeOut || delivery.fault == MachineFaultKind::HostTimeOutWithSense) {
        if (delivery.fault == MachineFaultKind::HostTimeOutWithSense) {
            m_machine.Clock().Advance(uint64_t{spt.TimeOutValue} * kMillisecondsPerSecond);
            spt.ScsiStatus = kScsiStatusGood;
        }
        lastError = kErrorSemTimeout;
        return false;
    }
    if (delivery.fault) {
        lastError = kErrorIoDevice;
        return false;
    }
    return true;
}

}  // namespace keluflash

#include "drive/windows/nt_pass_through_transport.h"

#include <array>

namespace keluflash {

namespace {

constexpr size_t kSystemErrorCapacity = 80;
// The lock's refusal is said in a message line, where a longer text fits
// ("The process cannot access the file because it is being used by another
// process." is 81 characters).
constexpr size_t kLockErrorCapacity = 512;
// The drive-letter walk lists only the first four CD-ROM letters.
constexpr int kListLimit = 4;

}  // namespace

NtPassThroughTransport::~NtPassThroughTransport() {
    // The last letter's open may have failed; there is nothing to close then.
    if (m_scanHandle != 0 && m_scanHandle != kInvalidHandle) {
        m_ports.driveLetters.Close(m_scanHandle);
    }
}

int NtPassThroughTransport::Scan(DeviceTable& table, const Identify& identify) {
    int count = 0;
    m_unlisted.clear();
    for (char letter = 'A'; letter <= 'Y'; ++letter) {
        if (m_ports.driveLetters.DriveType(letter) != kDriveCdrom) {
            continue;
        }
        m_scanHandle = m_ports.driveLetters.Open(letter);
        if (m_scanHandle == kInvalidHandle) {
            const uint32_t error = m_ports.driveLetters.OpenError(letter);
            m_unlisted.emplace_back(m_ports.driveLetters.DevicePath(letter), m_ports.driveLetters.OpenFailure(letter),
                                    std::vector<std::string>{std::string(1, letter) + ":"},
                                    error == kErrorAccessDenied       ? UnlistedCause::NeedsAdministrator
                                    : error == kErrorSharingViolation ? UnlistedCause::InUse
                                                                      : UnlistedCause::Other);
            continue;
        }
        m_paths[m_scanHandle] = m_ports.driveLetters.DevicePath(letter);
        // A fifth and later drive is opened and asked too, but only ever
        // lands in the slot after the listed ones.
        DeviceEntry& entry = table[static_cast<size_t>(count)];
        entry.handle = m_scanHandle;
        std::array<uint8_t, kInquiryLength> inquiry{};
        identify(entry, inquiry.data());
        FillInquiryTexts(entry, inquiry.data(), true);
        if (count < kListLimit) {
            ++count;
        } else {
            m_unlisted.emplace_back(m_ports.driveLetters.DevicePath(letter),
                                    "only the first four CD-ROM drive letters are listed",
                                    std::vector<std::string>{std::string(1, letter) + ":"}, UnlistedCause::TableFull);
        }
    }
    return count;
}

void NtPassThroughTransport::Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length,
                                     uint8_t direction, CommandResult& result) {
    result = CommandResult{};
    const uint8_t dataIn = direction == kDirectionIn    ? kScsiIoctlDataIn
                           : direction == kDirectionOut ? kScsiIoctlDataOut
                                                        : kScsiIoctlDataUnspecified;
    m_passThrough = MakePassThroughRequest(cdb, data, length, dataIn);
    const ScsiPassThroughDirect& spt = m_passThrough.spt;

    uint32_t error = 0;
    result.outcome = CommandOutcome::Answered;
    if (!m_ports.passThrough.DeviceIoControl(device.handle, m_passThrough, error)) {
        // A device time-out or I/O error still leaves the command's status and sense.
        if (error == kErrorSemTimeout || error == kErrorIoDevice) {
            result.outcome = CommandOutcome::HostFailure;
            result.hostFailure = error == kErrorSemTimeout ? HostFailureKind::TimedOut : HostFailureKind::TransportError;
            result.osError = error;
        } else {
            result.outcome = CommandOutcome::OsError;
            result.osError = error;
            result.deviceGone = error == kErrorDeviceNotConnected;
            result.osErrorText = SystemErrorText(error);
            return;
        }
    }
    result.scsiStatus = spt.ScsiStatus;
    if (spt.ScsiStatus == kScsiStatusCheckCondition) {
        result.senseLength = kPassThroughSenseRequested;
        std::copy(std::begin(m_passThrough.sense), std::begin(m_passThrough.sense) + kPassThroughSenseRequested,
                  result.senseData.begin());
    }
    // The port hands back how many bytes moved in DataTransferLength.
    if (dataIn != kScsiIoctlDataUnspecified && length > 0) {
        result.residual = spt.DataTransferLength <= length ? length - spt.DataTransferLength : 0;
    }
}

// FormatMessageA into an 80-character buffer; when that fails, the failure's
// own code.
std::string NtPassThroughTransport::SystemErrorText(uint32_t error) {
    uint32_t formatError = 0;
    const std::optional<std::string> text = m_ports.errorText.SystemMessage(error, kSystemErrorCapacity, formatError);
    return text ? *text
                : "Format message failed.  Error: " + std::to_string(static_cast<int32_t>(formatError));
}

DriveHold NtPassThroughTransport::HoldForUpdate(const DeviceEntry& device) {
    DriveHold hold;
    uint32_t error = 0;
    if (m_ports.passThrough.VolumeControl(device.handle, kFsctlLockVolume, error)) {
        m_locked.insert(device.handle);
        hold.state = DriveHold::State::Held;
        // Only under the lock: a disc dismounted without it could be taken
        // from a program that has files open on it. The lock alone keeps
        // other programs out, so a disc that stays mounted (Wine supports no
        // dismount) does not stop the update.
        if (!m_ports.passThrough.VolumeControl(device.handle, kFsctlDismountVolume, error))
            hold.dismountError = error;
        return hold;
    }
    hold.systemError = error;
    uint32_t formatError = 0;
    hold.systemText = WithoutLineEnd(m_ports.errorText.SystemMessage(error, kLockErrorCapacity, formatError)
                                         .value_or("error " + std::to_string(error)));
    switch (error) {
        // An empty drive has no volume to lock and no disc another program
        // could be using.
        case kErrorNotReady:
        case kErrorNoMediaInDrive:
            hold.state = DriveHold::State::NothingToHold;
            hold.cause = "no disc in the drive";
            break;
        // Files open on the disc, or another program's own lock.
        case kErrorAccessDenied:
        case kErrorSharingViolation:
        case kErrorLockViolation:
        case kErrorDriveLocked:
        case kErrorBusy:
            hold.state = DriveHold::State::Refused;
            hold.cause = "another program is using the drive";
            hold.fix = "close it and start again";
            break;
        default:
            hold.state = DriveHold::State::Refused;
            hold.cause = "the drive could not be locked against other programs";
            break;
    }
    return hold;
}

void NtPassThroughTransport::ReleaseHold(const DeviceEntry& device) {
    if (m_locked.erase(device.handle) == 0) return;
    // A failed unlock leaves the volume locked until the handle closes, at
    // the program's end; nothing else can be done about it here.
    uint32_t error = 0;
    m_ports.passThrough.VolumeControl(device.handle, kFsctlUnlockVolume, error);
}

std::string NtPassThroughTransport::DevicePath(const DeviceEntry& device) const {
    const auto found = m_paths.find(device.handle);
    return found != m_paths.end() ? found->second : std::string{};
}

std::vector<std::string> NtPassThroughTransport::OtherNames(const DeviceEntry& device) const {
    const std::string path = DevicePath(device);
    constexpr size_t kPrefix = 4;  // "\\.\"
    if (path.size() <= kPrefix) return {};
    return {path.substr(kPrefix)};
}

}  // namespace keluflash

#include "drive/sim/simulated_windows_errors.h"

#include "drive/windows/nt_pass_through_transport.h"

namespace keluflash {

namespace {

std::optional<std::string> BuiltInErrorText(uint32_t error) {
    switch (error) {
        case kErrorInvalidFunction: return "Incorrect function.\r\n";
        case kErrorFileNotFound: return "The system cannot find the file specified.\r\n";
        case kErrorAccessDenied: return "Access is denied.\r\n";
        case kErrorInvalidHandle: return "The handle is invalid.\r\n";
        case kErrorNotReady: return "The device is not ready.\r\n";
        case kErrorSharingViolation:
            return "The process cannot access the file because it is being used by another process.\r\n";
        case kErrorNotLocked: return "The segment is already unlocked.\r\n";
        case 31: return "A device attached to the system is not functioning.\r\n";
        case kErrorInvalidParameter: return "The parameter is incorrect.\r\n";
        case kErrorSemTimeout: return "The semaphore timeout period has expired.\r\n";
        case kErrorInsufficientBuffer: return "The data area passed to a system call is too small.\r\n";
        case 1005:
            return "The volume does not contain a recognized file system.\r\n"
                   "Please make sure that all required file system drivers are loaded and that the volume is not "
                   "corrupted.\r\n";
        case kErrorIoDevice: return "The request could not be performed because of an I/O device error.\r\n";
        case kErrorNoMediaInDrive: return "No media in drive.\r\n";
        case kErrorDeviceNotConnected: return "The device is not connected.\r\n";
        default: return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> SimulatedSystemErrorText::SystemMessage(uint32_t error, size_t capacity,
                                                                   uint32_t& formatError) {
    const auto configured = m_extra.find(error);
    const std::optional<std::string> text = configured != m_extra.end() ? configured->second : BuiltInErrorText(error);
    if (!text) {
        formatError = kErrorMessageNotFound;
        return std::nullopt;
    }
    if (text->size() + 1 > capacity) {
        formatError = kErrorInsufficientBuffer;
        return std::nullopt;
    }
    return text;
}

}  // namespace keluflash

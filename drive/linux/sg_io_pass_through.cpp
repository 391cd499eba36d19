#include "drive/linux/sg_io_pass_through.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <limits>

namespace keluflash {

int KernelSgIoCall::Run(int fd, sg_io_hdr_t& header) {
    if (::ioctl(fd, SG_IO, &header) == 0) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

namespace {

constexpr uint8_t kStatusCheckCondition = 0x02;  // SCSI status byte

// Fills the kernel's header from the request; false when the request could
// not be honoured as it stands (Windows refuses such a request as well).
bool BuildHeader(PassThroughBuffer& buffer, sg_io_hdr_t& header) {
    ScsiPassThroughDirect& spt = buffer.spt;
    header = sg_io_hdr_t{};
    header.interface_id = 'S';

    if (spt.CdbLength == 0 || spt.CdbLength > sizeof(spt.Cdb)) {
        return false;
    }
    header.cmd_len = spt.CdbLength;
    header.cmdp = spt.Cdb;

    switch (spt.DataIn) {
    case kScsiIoctlDataOut:
        header.dxfer_direction = SG_DXFER_TO_DEV;
        break;
    case kScsiIoctlDataIn:
        header.dxfer_direction = SG_DXFER_FROM_DEV;
        break;
    case kScsiIoctlDataUnspecified:
        header.dxfer_direction = SG_DXFER_NONE;
        break;
    default:
        return false;
    }
    if (header.dxfer_direction != SG_DXFER_NONE) {
        if (spt.DataTransferLength > 0 && spt.DataBuffer == nullptr) {
            return false;
        }
        header.dxfer_len = spt.DataTransferLength;
        header.dxferp = spt.DataBuffer;
    }

    // The sense area must lie in the buffer behind the structure, so the
    // kernel's sense bytes can never land on the request or past its end.
    if (spt.SenseInfoLength > 0) {
        const size_t offset = spt.SenseInfoOffset;
        if (offset < sizeof(ScsiPassThroughDirect) || offset > sizeof(PassThroughBuffer) ||
            spt.SenseInfoLength > sizeof(PassThroughBuffer) - offset) {
            return false;
        }
        header.sbp = reinterpret_cast<unsigned char*>(&buffer) + offset;
        header.mx_sb_len = spt.SenseInfoLength;
    }

    constexpr uint32_t kMaxSeconds = std::numeric_limits<unsigned int>::max() / 1000u;
    header.timeout = spt.TimeOutValue > kMaxSeconds ? std::numeric_limits<unsigned int>::max()
                                                    : spt.TimeOutValue * 1000u;
    return true;
}

}  // namespace

bool SgIoPassThroughPort::DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) {
    const int fd = m_drives.Descriptor(handle);
    if (fd < 0) {
        lastError = EBADF;
        return false;
    }
    sg_io_hdr_t header;
    if (!BuildHeader(buffer, header)) {
        lastError = EINVAL;
        return false;
    }

    if (const int error = m_call.Run(fd, header); error != 0) {
        // errno 121 (EREMOTEIO) has the number of the Windows time-out, which
        // the transport takes as "completed": a call that failed must not read
        // as one that went through.
        lastError = static_cast<uint32_t>(error) == kErrorSemTimeout ? static_cast<uint32_t>(EIO)
                                                                      : static_cast<uint32_t>(error);
        return false;
    }

    uint8_t status = header.status;
    const unsigned driver = header.driver_status & kSgDriverMask;
    // Some drivers report CHECK CONDITION only through the driver byte.
    if (status == 0 && driver == kSgDriverSense && header.sb_len_wr > 0) {
        status = kStatusCheckCondition;
    }
    buffer.spt.ScsiStatus = status;

    if (header.host_status == kSgHostTimeOut || driver == kSgDriverTimeout) {
        lastError = kErrorSemTimeout;
        return false;
    }
    if (header.host_status != 0 || (driver != 0 && driver != kSgDriverSense)) {
        lastError = kErrorIoDevice;
        return false;
    }
    return true;
}

}  // namespace keluflash

#pragma once
// SCSI pass-through: DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) with the
// request buffer as it is, in and out.
#include "drive/windows/windows_ports.h"

namespace keluflash {

class Win32PassThroughPort final : public PassThroughPort {
public:
    bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) override;
};

}  // namespace keluflash

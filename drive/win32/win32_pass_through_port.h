#pragma once
// SCSI pass-through: DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) with the
// request buffer as it is, in and out; and the volume's control codes.
#include "drive/windows/windows_ports.h"

namespace keluflash {

class Win32PassThroughPort final : public PassThroughPort {
public:
    bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) override;
    bool VolumeControl(DeviceHandle handle, uint32_t controlCode, uint32_t& lastError) override;
};

}  // namespace keluflash

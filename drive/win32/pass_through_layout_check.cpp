// Our declaration of the pass-through request (drive/windows/pass_through_request.h,
// written without any system header) against the system's own: mingw-w64's
// <ntddscsi.h>; and the volume's control codes against <winioctl.h>. A field
// out of place or a wrong code fails the Windows build.
#include <cstddef>

#include "drive/win32/windows_api.h"
#include "drive/windows/pass_through_request.h"
#include "drive/windows/windows_ports.h"

#include <winioctl.h>
#include <ntddscsi.h>

namespace keluflash {

#define KELUFLASH_SAME_FIELD(field)                                                        \
    static_assert(offsetof(ScsiPassThroughDirect, field) == offsetof(SCSI_PASS_THROUGH_DIRECT, field) && \
                      sizeof(ScsiPassThroughDirect::field) == sizeof(SCSI_PASS_THROUGH_DIRECT::field),   \
                  "SCSI_PASS_THROUGH_DIRECT." #field)
KELUFLASH_SAME_FIELD(Length);
KELUFLASH_SAME_FIELD(ScsiStatus);
KELUFLASH_SAME_FIELD(PathId);
KELUFLASH_SAME_FIELD(TargetId);
KELUFLASH_SAME_FIELD(Lun);
KELUFLASH_SAME_FIELD(CdbLength);
KELUFLASH_SAME_FIELD(SenseInfoLength);
KELUFLASH_SAME_FIELD(DataIn);
KELUFLASH_SAME_FIELD(DataTransferLength);
KELUFLASH_SAME_FIELD(TimeOutValue);
KELUFLASH_SAME_FIELD(DataBuffer);
KELUFLASH_SAME_FIELD(SenseInfoOffset);
KELUFLASH_SAME_FIELD(Cdb);
#undef KELUFLASH_SAME_FIELD
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(alignof(ScsiPassThroughDirect) == alignof(SCSI_PASS_THROUGH_DIRECT));

static_assert(kIoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(kScsiIoctlDataOut == SCSI_IOCTL_DATA_OUT && kScsiIoctlDataIn == SCSI_IOCTL_DATA_IN &&
              kScsiIoctlDataUnspecified == SCSI_IOCTL_DATA_UNSPECIFIED);

static_assert(kFsctlLockVolume == FSCTL_LOCK_VOLUME && kFsctlUnlockVolume == FSCTL_UNLOCK_VOLUME &&
              kFsctlDismountVolume == FSCTL_DISMOUNT_VOLUME);

}  // namespace keluflash

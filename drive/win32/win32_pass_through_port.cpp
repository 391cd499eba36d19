#include "drive/win32/win32_pass_through_port.h"

#include "drive/win32/windows_api.h"

namespace keluflash {

bool Win32PassThroughPort::DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) {
    DWORD returned = 0;  // not used: the status and sense are in the buffer
    const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(handle), kIoctlScsiPassThroughDirect, &buffer,
                                      sizeof(buffer), &buffer, sizeof(buffer), &returned, nullptr);
    if (ok) return true;
    lastError = GetLastError();
    return false;
}

bool Win32PassThroughPort::VolumeControl(DeviceHandle handle, uint32_t controlCode, uint32_t& lastError) {
    DWORD returned = 0;  // nothing comes back, but without an OVERLAPPED the call must have somewhere to say so
    if (::DeviceIoControl(reinterpret_cast<HANDLE>(handle), controlCode, nullptr, 0, nullptr, 0, &returned, nullptr))
        return true;
    lastError = GetLastError();
    return false;
}

}  // namespace keluflash

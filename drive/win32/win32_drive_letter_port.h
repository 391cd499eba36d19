#pragma once
// The drive letters: GetDriveTypeA on "X:\" and CreateFileA on "\\.\X:". The
// port owns every handle it opened and closes the rest when it goes away.
#include <array>
#include <cstdint>
#include <vector>

#include "drive/win32/unique_handle.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

class Win32DriveLetterPort final : public DriveLetterPort {
public:
    unsigned DriveType(char letter) override;
    DeviceHandle Open(char letter) override;
    void Close(DeviceHandle handle) override;
    std::string DevicePath(char letter) override;
    std::string OpenFailure(char letter) override;
    uint32_t OpenError(char letter) override;

private:
    std::vector<UniqueHandle> m_handles;
    std::array<uint32_t, 26> m_openErrors{};  // per letter, 0 when its last open succeeded
};

}  // namespace keluflash

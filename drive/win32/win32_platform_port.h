#pragma once
// The platform choice: GetVersionExA tells the NT family (pass-through path)
// from Windows 95/98/Me (ASPI path).
#include "drive/windows/windows_ports.h"

namespace keluflash {

class Win32PlatformPort final : public PlatformPort {
public:
    bool IsNtFamily() override;
};

}  // namespace keluflash

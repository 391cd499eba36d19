#include "drive/win32/win32_platform_port.h"

#include "drive/win32/windows_api.h"

namespace keluflash {

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version block the platform choice passes");

bool Win32PlatformPort::IsNtFamily() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    // The call's own result is not examined: a zeroed block reads as not NT.
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace keluflash

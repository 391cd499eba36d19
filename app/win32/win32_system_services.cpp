#include "app/win32/win32_system_services.h"

#include "drive/win32/unique_handle.h"
#include "drive/win32/windows_api.h"

namespace keluflash {

void Win32SystemServices::RequestRestart() {
    // No step's result is examined: a refusal by the system leaves the
    // program running, without a message.
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    const UniqueHandle ownedToken = AdoptHandle(token);
    TOKEN_PRIVILEGES privileges{};
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    ExitWindowsEx(EWX_REBOOT, 0);
}

}  // namespace keluflash

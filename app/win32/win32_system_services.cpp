#include "app/win32/win32_system_services.h"

#include "app/win32/system_function.h"
#include "drive/win32/unique_handle.h"
#include "drive/win32/win32_platform_port.h"
#include "drive/win32/windows_api.h"

namespace keluflash {

namespace {

// NT restarts only for a process that holds the shutdown privilege. The token
// calls are looked up, not imported: Windows 98 and Me lack them, and a
// program importing them would not load there.
void EnableShutdownPrivilege() {
    using OpenToken = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
    using LookUpPrivilege = BOOL(WINAPI*)(LPCSTR, LPCSTR, PLUID);
    using AdjustPrivileges = BOOL(WINAPI*)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
    const UniqueModule advapi32{LoadLibraryA("advapi32.dll")};
    const auto openToken = SystemFunction<OpenToken>("advapi32.dll", "OpenProcessToken");
    const auto lookUp = SystemFunction<LookUpPrivilege>("advapi32.dll", "LookupPrivilegeValueA");
    const auto adjust = SystemFunction<AdjustPrivileges>("advapi32.dll", "AdjustTokenPrivileges");
    if (!advapi32 || !openToken || !lookUp || !adjust) return;
    HANDLE token = nullptr;
    openToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    const UniqueHandle ownedToken = AdoptHandle(token);
    TOKEN_PRIVILEGES privileges{};
    lookUp(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    adjust(token, FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

void Win32SystemServices::RequestRestart() {
    // No step's result is examined: a refusal by the system leaves the
    // program running, without a message. Windows 95, 98 and Me have no
    // privileges: ExitWindowsEx alone restarts them.
    if (Win32PlatformPort().IsNtFamily()) EnableShutdownPrivilege();
    ExitWindowsEx(EWX_REBOOT, 0);
}

}  // namespace keluflash

namespace keluflash {
namespace {

constexpr DWORD kEsContinuous = 0x80000000u;
constexpr DWORD kEsSystemRequired = 0x00000001u;

void SetExecutionState(DWORD flags) {
    using SetState = DWORD(WINAPI*)(DWORD);
    if (const auto set = SystemFunction<SetState>("kernel32.dll", "SetThreadExecutionState")) set(flags);
}

}  // namespace

void Win32SystemServices::UpdateBegins() {
    SetExecutionState(kEsContinuous | kEsSystemRequired);
    using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
    if (m_window == nullptr || m_reasonShown) return;
    if (const auto create = SystemFunction<Create>("user32.dll", "ShutdownBlockReasonCreate"))
        m_reasonShown = create(m_window, L"A drive's firmware is being written") != FALSE;
}

void Win32SystemServices::UpdateEnds() {
    SetExecutionState(kEsContinuous);
    using Destroy = BOOL(WINAPI*)(HWND);
    if (!m_reasonShown) return;
    if (const auto destroy = SystemFunction<Destroy>("user32.dll", "ShutdownBlockReasonDestroy")) destroy(m_window);
    m_reasonShown = false;
}

}  // namespace keluflash

#pragma once
// The real restart: enable the right to shut the machine down and ask for a
// restart. Only keluflash.exe passes it to the window; every test and demo
// uses the recording fake instead.
// An update keeps the machine awake (SetThreadExecutionState) and, from
// Windows Vista on, names its reason on the shutdown screen
// (ShutdownBlockReasonCreate); both are looked up at run time, so the program
// still starts on Windows 98.
#include "app/system_services.h"
#include "drive/win32/windows_api.h"

namespace keluflash {

class Win32SystemServices final : public SystemServices {
public:
    void RequestRestart() override;
    void UpdateBegins() override;
    void UpdateEnds() override;
    // The window defers its close to the end of the running handler already.
    void DriveWriteBegins() override {}
    void DriveWriteEnds() override {}
    // The window whose shutdown screen names the reason (null for none).
    void SetWindow(HWND window) { m_window = window; }

private:
    HWND m_window = nullptr;
    bool m_reasonShown = false;
};

}  // namespace keluflash

#include "drive/win32/win32_clock.h"

#include "drive/win32/windows_api.h"

namespace keluflash {

uint32_t Win32Clock::TickCount() { return GetTickCount(); }

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace keluflash

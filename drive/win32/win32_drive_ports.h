#pragma once
// Every drive port of a real Windows machine in one place, for main() to
// build once and hand to the Windows transport.
#include "drive/win32/win32_aspi_port.h"
#include "drive/win32/win32_clock.h"
#include "drive/win32/win32_drive_letter_port.h"
#include "drive/win32/win32_pass_through_port.h"
#include "drive/win32/win32_platform_port.h"
#include "drive/win32/win32_system_error_text.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

struct Win32DrivePorts {
    Win32PlatformPort platform;
    Win32AspiPort aspi;
    Win32PassThroughPort passThrough;
    Win32DriveLetterPort driveLetters;
    Win32SystemErrorText errorText;
    Win32Clock clock;

    // References into this object: it must outlive the transport built on them.
    WindowsPorts Ports(UserInterface& ui) { return {platform, aspi, passThrough, driveLetters, errorText, ui, clock}; }
};

}  // namespace keluflash

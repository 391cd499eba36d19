#pragma once
// Every drive port of a Linux machine in one object, for a program's main():
// build it, hand Ports() to TAtapi, keep it alive longer than TAtapi.
#include <filesystem>

#include "drive/linux/linux_drive_letters.h"
#include "drive/linux/linux_system_ports.h"
#include "drive/linux/sg_io_pass_through.h"
#include "drive/steady_clock.h"
#include "drive/transport_ports.h"

namespace keluflash {

class LinuxDrivePorts {
public:
    explicit LinuxDrivePorts(const std::filesystem::path& sysfsRoot = "/sys",
                             const std::filesystem::path& devRoot = "/dev");
    LinuxDrivePorts(const LinuxDrivePorts&) = delete;
    LinuxDrivePorts& operator=(const LinuxDrivePorts&) = delete;

    DrivePorts Ports(UserInterface& ui);
    LinuxDriveLetters& DriveLetters() { return m_driveLetters; }
    SteadyClock& Clock() { return m_clock; }

private:
    LinuxPlatformPort m_platform;
    NoAspiPort m_aspi;
    KernelSgIoCall m_sgIo;
    LinuxDriveLetters m_driveLetters;
    SgIoPassThroughPort m_passThrough;
    StrerrorText m_errorText;
    SteadyClock m_clock;
};

}  // namespace keluflash

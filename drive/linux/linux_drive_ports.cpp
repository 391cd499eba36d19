#include "drive/linux/linux_drive_ports.h"

namespace keluflash {

LinuxDrivePorts::LinuxDrivePorts(const std::filesystem::path& sysfsRoot, const std::filesystem::path& devRoot)
    : m_driveLetters(sysfsRoot, devRoot), m_passThrough(m_driveLetters, m_sgIo) {}

DrivePorts LinuxDrivePorts::Ports(UserInterface& ui) {
    return DrivePorts{m_platform, m_aspi, m_passThrough, m_driveLetters, m_errorText, ui, m_clock};
}

}  // namespace keluflash

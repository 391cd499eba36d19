#include "drive/linux/linux_drive_letters.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cctype>

#include "drive/linux/linux_system_ports.h"

namespace keluflash {

namespace {

// The letters A to Y; Z is never examined by the drive scan.
constexpr int kLetterCount = 25;

auto HoldsHandle(DeviceHandle handle) {
    return [handle](const UniqueFd& fd) { return static_cast<DeviceHandle>(fd.Get()) == handle; };
}

}  // namespace

int OpenDeviceNode(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -(errno != 0 ? errno : EIO);
}

std::string OpenFailureText(int error, const std::string& path) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return "permission denied: run as root or with access to " + path;
    case ENOENT:
        return "no device node " + path;
    case EBUSY:
        return "device busy: another program holds " + path;
    default: {
        std::string text = SystemErrorMessage(error);
        if (!text.empty()) {
            text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        }
        return text + ": " + path;
    }
    }
}

LinuxDriveLetters::LinuxDriveLetters(const std::filesystem::path& sysfsRoot, std::filesystem::path devRoot,
                                     OpenNode openNode)
    : m_devRoot(std::move(devRoot)), m_openNode(std::move(openNode)), m_drives(FindOpticalDrives(sysfsRoot)) {
    if (m_drives.size() > static_cast<size_t>(kLetterCount)) {
        m_drives.resize(kLetterCount);
    }
    m_letters.resize(m_drives.size());
    for (size_t i = 0; i < m_drives.size(); ++i) {
        const OpticalDriveNode& drive = m_drives[i];
        m_letters[i].path = (m_devRoot / (drive.genericName.empty() ? drive.blockName : drive.genericName)).string();
    }
}

int LinuxDriveLetters::Slot(char letter) const {
    const int index = letter - 'A';
    return index >= 0 && index < static_cast<int>(m_drives.size()) ? index : -1;
}

unsigned LinuxDriveLetters::GetDriveType(char letter) {
    return Slot(letter) >= 0 ? kDriveCdrom : kDriveNoRootDir;
}

DeviceHandle LinuxDriveLetters::Open(char letter) {
    const int slot = Slot(letter);
    if (slot < 0) {
        return kInvalidHandle;
    }
    const OpticalDriveNode& drive = m_drives[static_cast<size_t>(slot)];
    LetterState& state = m_letters[static_cast<size_t>(slot)];

    std::vector<std::string> nodes;
    if (!drive.genericName.empty()) {
        nodes.push_back((m_devRoot / drive.genericName).string());
    }
    nodes.push_back((m_devRoot / drive.blockName).string());

    // The reason shown is the first failure that is not a missing node: when
    // both nodes refuse, the sg node's permission is the one to fix.
    int reportedError = 0;
    std::string reportedPath;
    for (const std::string& node : nodes) {
        const int result = m_openNode(node);
        if (result >= 0) {
            m_open.emplace_back(result);
            state.path = node;
            state.failure.clear();
            return static_cast<DeviceHandle>(result);
        }
        if (reportedError == 0 || (reportedError == ENOENT && -result != ENOENT)) {
            reportedError = -result;
            reportedPath = node;
        }
    }
    state.path = reportedPath;
    state.failure = OpenFailureText(reportedError, reportedPath);
    return kInvalidHandle;
}

void LinuxDriveLetters::Close(DeviceHandle handle) {
    const auto found = std::find_if(m_open.begin(), m_open.end(), HoldsHandle(handle));
    if (found != m_open.end()) {
        m_open.erase(found);
    }
}

std::string LinuxDriveLetters::DevicePath(char letter) {
    const int slot = Slot(letter);
    return slot >= 0 ? m_letters[static_cast<size_t>(slot)].path : std::string{};
}

std::string LinuxDriveLetters::OpenFailure(char letter) {
    const int slot = Slot(letter);
    return slot >= 0 ? m_letters[static_cast<size_t>(slot)].failure : std::string{};
}

int LinuxDriveLetters::Descriptor(DeviceHandle handle) const {
    const bool owned = std::any_of(m_open.begin(), m_open.end(), HoldsHandle(handle));
    return owned ? static_cast<int>(handle) : -1;
}

}  // namespace keluflash

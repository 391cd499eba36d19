#pragma once
// The drive letters on Linux: the optical drives found in sysfs, in srN
// number order, stand in for the letters A, B, C... Each opens its SCSI
// generic node /dev/sgM (SG_IO there is not filtered by the kernel) and falls
// back to the block node /dev/srN. The port owns every descriptor it opens.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "drive/linux/sg_io_pass_through.h"
#include "drive/linux/sysfs_optical_drives.h"
#include "drive/linux/unique_fd.h"
#include "drive/transport_ports.h"

namespace keluflash {

inline constexpr unsigned kDriveNoRootDir = 1;  // GetDriveTypeA for a letter with no drive

// Opens a device node for commands; a descriptor, or -errno.
using OpenNode = std::function<int(const std::string& path)>;
// open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC): no medium is needed to open a drive.
int OpenDeviceNode(const std::string& path);

// Why a node could not be opened, for the operator
// ("permission denied: run as root or with access to /dev/sg1").
std::string OpenFailureText(int error, const std::string& path);

class LinuxDriveLetters final : public DriveLetterPort, public DescriptorTable {
public:
    LinuxDriveLetters(const std::filesystem::path& sysfsRoot, std::filesystem::path devRoot,
                      OpenNode openNode = OpenDeviceNode);

    unsigned GetDriveType(char letter) override;
    DeviceHandle Open(char letter) override;
    void Close(DeviceHandle handle) override;
    // The node opened (after Open), else the node Open tries first.
    std::string DevicePath(char letter) override;
    std::string OpenFailure(char letter) override;

    int Descriptor(DeviceHandle handle) const override;

    // The drive behind each letter, from A on.
    const std::vector<OpticalDriveNode>& Drives() const { return m_drives; }

private:
    struct LetterState {
        std::string path;
        std::string failure;
    };
    // Index of a letter's drive, or -1.
    int Slot(char letter) const;

    std::filesystem::path m_devRoot;
    OpenNode m_openNode;
    std::vector<OpticalDriveNode> m_drives;
    std::vector<LetterState> m_letters;
    std::vector<UniqueFd> m_open;
};

}  // namespace keluflash

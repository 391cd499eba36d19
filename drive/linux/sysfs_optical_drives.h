#pragma once
// The optical drives the kernel shows in sysfs: every block device srN whose
// SCSI device type is 5 (CD/DVD), with the SCSI generic node sgM behind it.
#include <filesystem>
#include <string>
#include <vector>

#include "drive/device_entry.h"

namespace keluflash {

struct OpticalDriveNode {
    unsigned number = 0;        // N of srN
    std::string blockName;      // "sr0"
    std::string genericName;    // "sg1"; empty when the sg driver has no node for it
};

// Reads <sysfsRoot>/class/block; the drives in srN number order (sr2 before
// sr10). Nothing is opened; an unreadable tree gives no drives.
std::vector<OpticalDriveNode> FindOpticalDrives(const std::filesystem::path& sysfsRoot);

}  // namespace keluflash

#include "drive/linux/sysfs_optical_drives.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

namespace keluflash {

namespace {

namespace fs = std::filesystem;

// The number after `prefix` in a name like "sr10"; nothing unless the rest is
// all digits.
std::optional<unsigned> NumberAfter(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(prefix.size());
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<unsigned> ScsiType(const fs::path& device) {
    std::ifstream file(device / "type");
    unsigned type = 0;
    if (!(file >> type)) {
        return std::nullopt;
    }
    return type;
}

// The sg node of a SCSI device: device/scsi_generic/sgM, or on old kernels
// a link device/scsi_generic:sgM.
std::string GenericName(const fs::path& device) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(device / "scsi_generic", error)) {
        const std::string name = entry.path().filename().string();
        if (NumberAfter(name, "sg")) {
            return name;
        }
    }
    for (const auto& entry : fs::directory_iterator(device, error)) {
        const std::string name = entry.path().filename().string();
        constexpr std::string_view kOldPrefix = "scsi_generic:";
        if (name.starts_with(kOldPrefix) && NumberAfter(name.substr(kOldPrefix.size()), "sg")) {
            return name.substr(kOldPrefix.size());
        }
    }
    return {};
}

}  // namespace

std::vector<OpticalDriveNode> FindOpticalDrives(const fs::path& sysfsRoot) {
    std::vector<OpticalDriveNode> drives;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysfsRoot / "class" / "block", error)) {
        const std::string name = entry.path().filename().string();
        const std::optional<unsigned> number = NumberAfter(name, "sr");
        if (!number) {
            continue;
        }
        const fs::path device = entry.path() / "device";
        // The sr driver also takes WORM devices (type 4); only CD/DVD drives count.
        if (ScsiType(device) != kScsiTypeCdrom) {
            continue;
        }
        drives.push_back({*number, name, GenericName(device)});
    }
    std::sort(drives.begin(), drives.end(),
              [](const OpticalDriveNode& a, const OpticalDriveNode& b) { return a.number < b.number; });
    return drives;
}

}  // namespace keluflash

#include "app/unusable_drives.h"

namespace keluflash {

namespace {

// Debian and most other distributions give optical drives' nodes to this group.
constexpr const char* kUsualDriveGroup = "cdrom";

}  // namespace

std::string UnusableDriveFix(const UnlistedDrive& drive) {
    switch (drive.cause) {
    case UnlistedCause::NodePermission:
        // The seat's user gets the node through logind; anyone else needs the group.
        return "log in at the machine's own seat, or add yourself to the group that owns " + drive.path + " (" +
               (drive.owningGroup.empty() ? kUsualDriveGroup : drive.owningGroup) + ")";
    case UnlistedCause::NeedsAdministrator:
        return "run keluflash as administrator";
    case UnlistedCause::InUse:
        return drive.holders.empty() ? "close the program that uses it"
                                     : "close the program that uses it: " + drive.holders;
    case UnlistedCause::TableFull:
    case UnlistedCause::Other:
        break;
    }
    return {};
}

std::string UnusableDriveText(const UnlistedDrive& drive) {
    const std::string fix = UnusableDriveFix(drive);
    return drive.path + " (" + drive.reason + ")" + (fix.empty() ? "" : ": " + fix);
}

std::string UnusableDriveLine(const UnlistedDrive& drive) { return "Cannot use " + UnusableDriveText(drive); }

std::vector<std::string> UnusableDriveLines(const Transport& transport) {
    std::vector<std::string> lines;
    for (const UnlistedDrive& drive : transport.Unlisted()) lines.push_back(UnusableDriveLine(drive));
    return lines;
}

}  // namespace keluflash

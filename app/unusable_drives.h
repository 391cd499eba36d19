#pragma once
// The drives the scan saw but cannot use, told to the operator in one line
// each: the device, why, and what to do about it. The window shows these
// lines at start; the command line's list and flash use the same words.
#include <string>
#include <vector>

#include "drive/transport.h"

namespace keluflash {

// What the operator can do about it; empty when nothing is known to help.
std::string UnusableDriveFix(const UnlistedDrive& drive);

// "/dev/sg1 (permission denied): log in at ...", and the message line
// "Cannot use /dev/sg1 (permission denied): log in at ...".
std::string UnusableDriveText(const UnlistedDrive& drive);
std::string UnusableDriveLine(const UnlistedDrive& drive);

// One line per drive the transport's scan could not use, in scan order.
std::vector<std::string> UnusableDriveLines(const Transport& transport);

}  // namespace keluflash

#pragma once
// The system's text for an errno value ("Permission denied"): a command's
// osErrorText on Linux, and the command line's reason for a file it cannot use.
#include <string>

namespace keluflash {

std::string ErrnoText(int error);

}  // namespace keluflash

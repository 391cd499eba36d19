#pragma once
// The C library's text for an errno value ("Permission denied").
#include <string>

namespace keluflash {

std::string SystemErrorMessage(int error);

}  // namespace keluflash

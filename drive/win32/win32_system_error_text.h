#pragma once
// The system's text for an error code, as FormatMessageA gives it.
#include "drive/windows/windows_ports.h"

namespace keluflash {

class Win32SystemErrorText final : public SystemErrorText {
public:
    std::optional<std::string> SystemMessage(uint32_t error, size_t capacity, uint32_t& formatError) override;
};

}  // namespace keluflash

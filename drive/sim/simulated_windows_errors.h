#pragma once
// The system error codes a simulated Windows machine reports, and the texts
// FormatMessageA gives for them.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "drive/windows/windows_ports.h"

namespace keluflash {

inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorMessageNotFound = 317;
// kErrorAccessDenied (5): drive/windows/windows_ports.h; kErrorDeviceNotConnected (1167):
// drive/windows/nt_pass_through_transport.h

// FormatMessageA over the built-in texts and a machine's own.
class SimulatedSystemErrorText final : public SystemErrorText {
public:
    explicit SimulatedSystemErrorText(const std::map<uint32_t, std::string>& extra) : m_extra(extra) {}
    std::optional<std::string> SystemMessage(uint32_t error, size_t capacity, uint32_t& formatError) override;

private:
    const std::map<uint32_t, std::string>& m_extra;
};

}  // namespace keluflash

#pragma once
// The small Linux ports: the platform choice (always the pass-through path),
// an ASPI layer that is never there, and the system's error texts.
#include <string>

#include "drive/transport_ports.h"

namespace keluflash {

// The C library's text for an errno value ("Permission denied").
std::string SystemErrorMessage(int error);

class LinuxPlatformPort final : public PlatformPort {
public:
    bool IsNtFamily() override { return true; }
};

// Never asked for on Linux, where the pass-through path is always chosen;
// answers as a system without WNASPI32.DLL would.
class NoAspiPort final : public AspiPort {
public:
    std::optional<std::string> SystemDirectory(size_t) override { return std::nullopt; }
    std::unique_ptr<AspiLibrary> LoadLibrary(const std::string&) override { return nullptr; }
    std::unique_ptr<AspiEvent> CreateEvent() override { return nullptr; }
};

// The errno texts, held to the caller's buffer size like FormatMessageA:
// a text that does not fit with its terminating zero fails with ERANGE.
class StrerrorText final : public SystemErrorText {
public:
    std::optional<std::string> FormatMessage(uint32_t error, size_t capacity, uint32_t& formatError) override;
};

}  // namespace keluflash

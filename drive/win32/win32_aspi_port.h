#pragma once
// ASPI for Win32 through the real WNASPI32.DLL: the system directory, the
// library with its two entry points, and the completion events.
#include "drive/windows/windows_ports.h"

namespace keluflash {

class Win32AspiPort final : public AspiPort {
public:
    std::optional<std::string> SystemDirectory(size_t capacity) override;
    // The library counts as loaded only with both entry points: without one
    // of them no command could be sent.
    std::unique_ptr<AspiLibrary> LoadAspiLibrary(const std::string& path) override;
    std::unique_ptr<AspiEvent> CreateCompletionEvent() override;
};

}  // namespace keluflash

#include "drive/win32/win32_system_error_text.h"

#include "drive/win32/windows_api.h"

namespace keluflash {

std::optional<std::string> Win32SystemErrorText::SystemMessage(uint32_t error, size_t capacity,
                                                               uint32_t& formatError) {
    std::string buffer(capacity, '\0');
    // A text that does not fit the buffer makes the call fail, as it does for
    // an error the system has no text for. No arguments are passed, so a
    // text with inserts (%1) is taken as it stands.
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                        0, buffer.data(), static_cast<DWORD>(capacity), nullptr);
    if (length == 0) {
        formatError = GetLastError();
        return std::nullopt;
    }
    buffer.resize(length);
    return buffer;
}

}  // namespace keluflash

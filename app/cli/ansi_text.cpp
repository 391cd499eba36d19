#include "app/cli/ansi_text.h"

#ifdef _WIN32
#include "drive/win32/windows_api.h"
#endif

namespace keluflash::cli {

#ifdef _WIN32

std::string AnsiToUtf8(const std::string& text) {
    if (text.empty()) return text;
    const int size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wide <= 0) return text;
    std::wstring utf16(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, utf16.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return text;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

#else

std::string AnsiToUtf8(const std::string& text) { return text; }

#endif

}  // namespace keluflash::cli

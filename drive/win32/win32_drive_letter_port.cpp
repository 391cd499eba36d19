#include "drive/win32/win32_drive_letter_port.h"

#include <algorithm>

#include "drive/command_result.h"
#include "drive/win32/win32_system_error_text.h"
#include "drive/win32/windows_api.h"

namespace keluflash {

namespace {

size_t LetterIndex(char letter) {
    return letter >= 'A' && letter <= 'Z' ? static_cast<size_t>(letter - 'A') : 25;
}

}  // namespace

unsigned Win32DriveLetterPort::DriveType(char letter) {
    const char root[10] = {letter, ':', '\\'};  // zero-filled after the root
    return GetDriveTypeA(root);
}

std::string Win32DriveLetterPort::DevicePath(char letter) { return std::string("\\\\.\\") + letter + ':'; }

DeviceHandle Win32DriveLetterPort::Open(char letter) {
    const std::string path = DevicePath(letter);
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    m_openErrors[LetterIndex(letter)] = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    UniqueHandle owned = AdoptHandle(handle);
    if (!owned) return kInvalidHandle;
    m_handles.push_back(std::move(owned));
    return reinterpret_cast<DeviceHandle>(handle);
}

void Win32DriveLetterPort::Close(DeviceHandle handle) {
    const auto owned = std::find_if(m_handles.begin(), m_handles.end(), [handle](const UniqueHandle& h) {
        return reinterpret_cast<DeviceHandle>(h.get()) == handle;
    });
    if (owned != m_handles.end()) m_handles.erase(owned);
}

uint32_t Win32DriveLetterPort::OpenError(char letter) { return m_openErrors[LetterIndex(letter)]; }

std::string Win32DriveLetterPort::OpenFailure(char letter) {
    const uint32_t error = m_openErrors[LetterIndex(letter)];
    if (error == 0) return {};
    uint32_t formatError = 0;
    const std::string text = WithoutLineEnd(Win32SystemErrorText{}.SystemMessage(error, 512, formatError).value_or(""));
    return text.empty() ? "error " + std::to_string(error) : text + " (error " + std::to_string(error) + ")";
}

}  // namespace keluflash

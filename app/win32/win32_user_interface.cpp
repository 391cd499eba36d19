#include "app/win32/win32_user_interface.h"

#include "drive/win32/windows_api.h"

namespace keluflash {

bool Win32UserInterface::DispatchOne() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
    if (message.message == WM_QUIT) {
        m_quitRequested = true;
        return true;
    }
    Dispatch(message);
    return true;
}

void Win32UserInterface::Dispatch(MSG& message) {
    if (m_keyboardWindow != nullptr && IsDialogMessageA(m_keyboardWindow, &message)) return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void Win32UserInterface::PumpMessage() { DispatchOne(); }

void Win32UserInterface::ProcessMessages() {
    while (DispatchOne()) {
    }
}

int Win32UserInterface::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
    // MB_APPLMODAL (0) with an owner disables the owner while the box is open.
    return MessageBoxA(m_ownerWindow, text.c_str(), caption.c_str(), flags);
}

void Win32UserInterface::Run() {
    while (!m_quitRequested) {
        MSG message;
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;  // WM_QUIT, or no queue left to read
        Dispatch(message);
    }
}

}  // namespace keluflash

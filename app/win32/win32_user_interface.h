#pragma once
// The thread's message queue and the system's message box. A quit request
// (WM_QUIT, posted when the main window is closed) that arrives while a
// handler pumps the queue is kept, not dispatched: the running operation goes
// on to its end and the message loop then ends the program.
#include "drive/host_ports.h"
#include "drive/win32/windows_api.h"

namespace keluflash {

class Win32UserInterface final : public UserInterface {
public:
    void PumpMessage() override;
    void ProcessMessages() override;
    // A box owned by the main window and modal to the application: the
    // window takes no input while it is open (the flags as the Windows API
    // takes them; a system-modal request stays on top of every window).
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override;
    void SetOwnerWindow(HWND window) { m_ownerWindow = window; }

    // The message loop: dispatches until the main window has been closed.
    void Run();
    bool QuitRequested() const { return m_quitRequested; }
    // The window whose controls take Tab, the arrow keys and the Alt+letter
    // accelerators of their captions (null for none).
    void SetKeyboardWindow(HWND window) { m_keyboardWindow = window; }

private:
    // Removes one message; false when the queue was empty.
    bool DispatchOne();
    void Dispatch(MSG& message);
    bool m_quitRequested = false;
    HWND m_keyboardWindow = nullptr;
    HWND m_ownerWindow = nullptr;
};

}  // namespace keluflash

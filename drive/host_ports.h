#pragma once
// The host services the core asks for: time, the window's message queue and
// message boxes. Each front end (Qt, Win32, console, tests) supplies its own.
#include <cstdint>
#include <string>

namespace keluflash {

// A millisecond tick counter and a blocking pause. The simulated drives share a
// virtual clock with the core, so a 120 s wait runs in microseconds in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;          // wraps like GetTickCount
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// Message-box flags and answers, with the values of the Windows API so that
// the Win32 back end passes them through unchanged.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbOkCancel = 0x1;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbIconStop = 0x10;
inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbDefButton2 = 0x100;
inline constexpr unsigned kMbSystemModal = 0x1000;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// The application's title: the taskbar text and the caption of its message
// boxes, the drive layer's among them.
inline constexpr const char* kApplicationTitle = "KELUFlash";

// The thread's message queue and the platform's simple message box.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    // Removes, translates and dispatches one pending message; nothing when the
    // queue is empty.
    virtual void PumpMessage() = 0;
    // Processes every pending message (the toolkit's ProcessMessages).
    virtual void ProcessMessages() = 0;
    // A modal box; returns the button pressed (kIdOk, kIdCancel, ...).
    virtual int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) = 0;
};

}  // namespace keluflash

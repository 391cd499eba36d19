#pragma once
// The desktop program's start-up, shared by keluflash and keluflash-demo: the
// drive-access object, the single-instance test, the application title, the
// main window and the message loop.
#include <functional>
#include <string>

#include "app/qt/main_window.h"
#include "drive/host_ports.h"
#include "drive/transport.h"

namespace keluflash {

struct DesktopOptions {
    // The single-instance name: one program per name and desktop session.
    std::string instanceName = "MyAPP";
    // Called with the finished window just before it is shown (the demo
    // points the file dialog at its images there).
    std::function<void(MainWindow&)> beforeShow;
};

// Runs the program over the transport its main() chose; the application object
// must exist. Returns the exit code, 0 on every path: a second instance ends
// at once without a window, and an exception that escapes start-up is shown
// in a message box before the program ends.
int RunDesktopProgram(UserInterface& ui, Transport& transport, Clock& clock, SystemServices& system,
                      const DesktopOptions& options = {});

}  // namespace keluflash

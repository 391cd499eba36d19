// keluflash.exe: start-up in its fixed order. The drive-access object comes
// first (so a second instance scans the drives too), then the single-instance
// test, then the window and the message loop. Every path returns 0.
#include <exception>
#include <memory>

#include "app/form1.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_system_services.h"
#include "app/win32/win32_user_interface.h"
#include "drive/atapi.h"
#include "drive/win32/unique_handle.h"
#include "drive/win32/win32_drive_ports.h"
#include "drive/win32/windows_api.h"
#include "drive/windows/windows_transport.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    using namespace keluflash;
    Win32UserInterface ui;
    Win32DrivePorts ports;
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);

    // The named mutex lives as long as this process: a later instance sees it
    // and ends at once, without a window or a message.
    const UniqueHandle instanceMutex = AdoptHandle(CreateMutexA(nullptr, TRUE, "MyAPP"));
    if (GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    ReleaseMutex(instanceMutex.get());

    try {
        MainWindow window(instance, ui);
        Win32SystemServices system;
        system.SetWindow(window.Window());
        TForm1 form(atapi, ports.clock, system, window);
        window.Attach(form);
        form.FormCreate();
        window.Show(showCommand);
        ui.Run();
    } catch (const std::exception& error) {
        MessageBoxA(nullptr, error.what(), kApplicationTitle, MB_OK | MB_ICONSTOP);
    }
    return 0;
}

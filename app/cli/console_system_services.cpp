#include "app/cli/console_system_services.h"

#include <iostream>

#include "flash/download.h"

namespace keluflash::cli {

std::string DriveWriteNotice() {
    return "keluflash-cli: the drive is being written and cannot be stopped now; the update ends by itself within " +
           std::to_string(kDriveWriteSeconds) + " seconds.\n";
}

ConsoleSystemServices::ConsoleSystemServices(SystemServices& restart, SignalWatch* signals)
    : m_restart(restart), m_signals(signals) {}

void ConsoleSystemServices::DriveWriteBegins() {
    if (m_signals != nullptr) m_signals->Hold(DriveWriteNotice());
}

void ConsoleSystemServices::RequestRestart() {
    if (m_signals != nullptr && (m_signals->Held() != 0 || m_signals->Interrupted() != 0)) {
        std::cerr << "keluflash-cli: a signal arrived during the update: the machine is not restarted\n";
        return;
    }
    m_restart.RequestRestart();
}

void ConsoleSystemServices::UpdateBegins() {
#if defined(__linux__)
    m_inhibitor.Hold("keluflash-cli", "A drive's firmware is being written");
#endif
}

void ConsoleSystemServices::UpdateEnds() {
    if (m_signals != nullptr) m_signals->Release();
#if defined(__linux__)
    m_inhibitor.Release();
#endif
}

}  // namespace keluflash::cli

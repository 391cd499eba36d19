#pragma once
// The command line's system services: the restart it was given (the real one
// with --reboot, a recording one otherwise), logind's sleep and shutdown lock
// on Linux for the whole update, and the signals that would end the program
// held back while the drive is written.
#include "app/cli/signal_watch.h"
#include "app/system_services.h"

#if defined(__linux__)
#include "app/linux/logind_inhibitor.h"
#endif

namespace keluflash::cli {

// Said once, on standard error, when a signal arrives while the drive is written.
std::string DriveWriteNotice();

class ConsoleSystemServices final : public SystemServices {
public:
    // `signals` (the program's, or null) holds signals from the first write
    // to the end of the verification.
    ConsoleSystemServices(SystemServices& restart, SignalWatch* signals);
    // A signal held during the update asked for the program to end: the
    // machine is then not restarted (and the program says so).
    void RequestRestart() override;
    void UpdateBegins() override;
    void UpdateEnds() override;
    void DriveWriteBegins() override;
    // The hold lasts to the update's end: a read-back cut short would read
    // as a verification that failed.
    void DriveWriteEnds() override {}

private:
    SystemServices& m_restart;
    SignalWatch* m_signals;
#if defined(__linux__)
    LogindInhibitor m_inhibitor;
#endif
};

}  // namespace keluflash::cli

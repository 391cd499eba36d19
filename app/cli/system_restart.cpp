#include "app/cli/system_restart.h"

#ifdef __linux__
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>
#elif defined(_WIN32)
#include "app/win32/win32_system_services.h"
#endif

namespace keluflash::cli {

#ifdef __linux__

bool MachineRestart::Available() { return true; }

void MachineRestart::RequestRestart() {
    char program[] = "systemctl";
    char verb[] = "reboot";
    char* arguments[] = {program, verb, nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0) return;
    int status = 0;
    waitpid(child, &status, 0);
}

#elif defined(_WIN32)

bool MachineRestart::Available() { return true; }

// The window's own restart request.
void MachineRestart::RequestRestart() { Win32SystemServices{}.RequestRestart(); }

#else

bool MachineRestart::Available() { return false; }

void MachineRestart::RequestRestart() {}

#endif

}  // namespace keluflash::cli

#include "app/cli/system_restart.h"

#ifdef __linux__
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>
#endif

namespace keluflash::cli {

#ifdef __linux__

bool SystemctlRestart::Available() { return true; }

void SystemctlRestart::RequestRestart() {
    char program[] = "systemctl";
    char verb[] = "reboot";
    char* arguments[] = {program, verb, nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0) return;
    int status = 0;
    waitpid(child, &status, 0);
}

#else

bool SystemctlRestart::Available() { return false; }

void SystemctlRestart::RequestRestart() {}

#endif

}  // namespace keluflash::cli

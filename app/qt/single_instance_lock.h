#pragma once
// One copy of the program per desktop session. The lock is an exclusive
// flock on a file in the user's runtime directory: the kernel drops it with
// the process that holds it, however that process ends, so a crashed
// instance never blocks the next one.
#include <filesystem>
#include <string>

#include "drive/linux/unique_fd.h"

namespace keluflash {

// "$XDG_RUNTIME_DIR/<name>.lock"; without a runtime directory the shared temp
// folder, with the user id in the name to keep users apart.
std::filesystem::path InstanceLockPath(const std::string& name);

class SingleInstanceLock {
public:
    // Takes the lock if no other process holds it, and keeps it for the life
    // of this object.
    explicit SingleInstanceLock(const std::filesystem::path& path);
    // True only when another process holds the lock. A lock file that cannot
    // be made at all lets the program run on as the first instance.
    bool AlreadyRunning() const { return m_alreadyRunning; }

private:
    UniqueFd m_file;
    bool m_alreadyRunning = false;
};

}  // namespace keluflash

#include "app/qt/single_instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace keluflash {

std::filesystem::path InstanceLockPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        return std::filesystem::path(runtime) / (name + ".lock");
    }
    std::error_code error;
    std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error) {
        temp = "/tmp";
    }
    return temp / (name + "-" + std::to_string(getuid()) + ".lock");
}

SingleInstanceLock::SingleInstanceLock(const std::filesystem::path& path) {
    // O_CLOEXEC: a program started from here must not inherit the lock;
    // O_NOFOLLOW: in a shared folder a planted link is not followed.
    m_file = UniqueFd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!m_file.Valid()) {
        return;
    }
    int result;
    do {
        result = flock(m_file.Get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    m_alreadyRunning = result != 0 && errno == EWOULDBLOCK;
}

}  // namespace keluflash

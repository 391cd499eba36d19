#include "drive/linux/unique_fd.h"

#include <unistd.h>

namespace keluflash {

void UniqueFd::Reset() {
    if (m_fd >= 0) {
        // The descriptor is gone after close() whatever it returns; retrying
        // could close a descriptor someone else has just been given.
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace keluflash

#pragma once
// Holds off sleep, shutdown and idle while the drive's firmware is written:
// a systemd-logind "block" inhibitor lock taken over the system bus, held as
// the file descriptor logind hands out, released by closing it. Without a
// system bus or logind the lock is simply not taken: the update goes on.
#include <string>

#include "drive/linux/unique_fd.h"

namespace keluflash {

class LogindInhibitor {
public:
    // Takes the lock "shutdown:sleep:idle" for `who` with `why`; true when
    // logind granted it. Holding it already: true, nothing changes.
    bool Hold(const std::string& who, const std::string& why);
    void Release();
    bool Held() const { return m_lock.Valid(); }

private:
    UniqueFd m_lock;
};

}  // namespace keluflash

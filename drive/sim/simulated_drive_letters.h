#pragma once
// The drive letters of a simulated Windows NT machine: the drives at their
// letters (D: on), other letters with their types, and DeviceIoControl on the
// handles opened for them.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drive/sim/simulated_machine.h"
#include "drive/sim/simulated_windows_counters.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

class SimulatedDriveLetters final : public DriveLetterPort, public PassThroughPort {
public:
    SimulatedDriveLetters(SimulatedMachine& machine, SimulatedWindowsCounters& counters)
        : m_machine(machine), m_counters(counters) {}

    unsigned DriveType(char letter) override;
    DeviceHandle Open(char letter) override;
    void Close(DeviceHandle handle) override;
    std::string DevicePath(char letter) override;
    std::string OpenFailure(char letter) override;
    uint32_t OpenError(char letter) override;

    bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) override;
    // Lock, dismount and unlock as Windows does them: a lock fails while
    // another handle holds one, a dismount takes the disc's file system off
    // with or without a lock, closing the handle ends its lock.
    bool VolumeControl(DeviceHandle handle, uint32_t controlCode, uint32_t& lastError) override;
    bool VolumeMounted(size_t drive) const;

private:
    struct Volume {
        bool mounted = false;
        std::optional<DeviceHandle> lockedBy;
    };
    Volume& VolumeOf(size_t drive);
    const SimulatedWindowsConfig& Config() const { return m_machine.Config().windows; }
    char LetterOf(size_t drive) const;
    std::optional<size_t> DriveAtLetter(char letter) const;
    bool Unopenable(char letter) const;

    SimulatedMachine& m_machine;
    SimulatedWindowsCounters& m_counters;
    std::vector<std::pair<DeviceHandle, size_t>> m_handles;
    std::map<size_t, Volume> m_volumes;  // by drive, made on first use
    DeviceHandle m_nextHandle = 0x100;
};

}  // namespace keluflash

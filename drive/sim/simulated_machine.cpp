#include "drive/sim/simulated_machine.h"

namespace keluflash {

SimulatedMachine::SimulatedMachine(SimulatedMachineConfig config)
    : m_config(std::move(config)), m_lost(m_config.drives.size(), false), m_faults(m_config.drives.size()) {
    for (const SimulatedDriveConfig& drive : m_config.drives) {
        m_drives.push_back(std::make_unique<SimulatedDrive>(drive, m_clock));
    }
}

SimulatedMachine::~SimulatedMachine() = default;

SimulatedMachine::Delivery SimulatedMachine::Deliver(size_t drive, const uint8_t* cdb, uint8_t* data,
                                                     uint32_t length, uint8_t direction) {
    Delivery delivery;
    std::vector<MachineFault> mine;
    for (const MachineFault& fault : m_config.faults) {
        if (fault.drive == drive) mine.push_back(fault);
    }
    const MachineFault* fault = m_lost[drive] ? nullptr : m_faults[drive].Next(mine, cdb);
    if (fault != nullptr && fault->kind == MachineFaultKind::DriveGone) {
        m_lost[drive] = true;
    }
    if (m_lost[drive]) {
        delivery.fault = MachineFaultKind::DriveGone;
        m_clock.Advance(m_drives[drive]->Config().commandMilliseconds);
        return delivery;
    }
    if (fault == nullptr || fault->executes) {
        delivery.scsi = m_drives[drive]->Execute(cdb, data, length, direction);
    } else {
        m_clock.Advance(m_drives[drive]->Config().commandMilliseconds);
    }
    if (fault != nullptr) {
        delivery.fault = fault->kind;
        delivery.aspiStatus = fault->aspiStatus;
        delivery.osError = fault->osError;
    }
    return delivery;
}

}  // namespace keluflash

#include "drive/atapi.h"

namespace keluflash {

TAtapi::TAtapi(Transport& transport, UserInterface& ui, CommandObserver* observer)
    : m_transport(transport), m_ui(ui), m_observer(observer) {
    m_deviceCount = m_transport.Scan(m_devices, [this](const DeviceEntry& device, uint8_t* inquiry) {
        SelectDevice(device);
        return Inquiry(inquiry);
    });
    SelectDevice(m_devices[0]);
}

uint8_t TAtapi::ExecuteCommand(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction) {
    m_lastResult = CommandResult{};
    m_transport.Execute(m_selected, cdb, data, length, direction, m_lastResult);
    // The one place sense bytes are read and the status byte is made.
    m_lastResult.sense = ParseSense(m_lastResult.senseData.data(), m_lastResult.senseLength);
    const uint8_t status = ProgramStatus(m_lastResult, m_transport.PassThrough());
    // A call the system refused is shown at once, with the system's text; the
    // command's status then reads 0.
    if (m_lastResult.outcome == CommandOutcome::OsError && !m_lastResult.osErrorText.empty()) {
        m_ui.ShowMessage(m_lastResult.osErrorText + "\n", kApplicationTitle, kMbOk);
    }
    if (m_observer != nullptr) {
        m_observer->CommandExecuted(CommandRecord{cdb, direction, length, data, status, m_lastResult});
    }
    return status;
}

DriveHold TAtapi::HoldSelectedDrive() {
    ReleaseSelectedDrive();  // one hold at a time
    DriveHold hold = m_transport.HoldForUpdate(m_selected);
    if (hold.state == DriveHold::State::Held) m_held = m_selected;
    return hold;
}

void TAtapi::ReleaseSelectedDrive() {
    if (!m_held) return;
    m_transport.ReleaseHold(*m_held);
    m_held.reset();
}

}  // namespace keluflash

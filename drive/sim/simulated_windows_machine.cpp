#include "drive/sim/simulated_windows_machine.h"

#include "drive/windows/windows_transport.h"

namespace keluflash {

SimulatedWindowsMachine::SimulatedWindowsMachine(SimulatedMachineConfig config, UserInterface& ui)
    : SimulatedMachine(std::move(config)),
      m_platform(Config().platform != SimulatedPlatform::Windows9x),
      m_aspi(*this, m_counters),
      m_letters(*this, m_counters),
      m_errorTexts(Config().windows.errorTexts),
      m_relay(ui, m_aspi) {}

SimulatedWindowsMachine::~SimulatedWindowsMachine() = default;

WindowsPorts SimulatedWindowsMachine::Ports() {
    return WindowsPorts{m_platform, m_aspi, m_letters, m_letters, m_errorTexts, m_relay, Clock()};
}

Transport& SimulatedWindowsMachine::DriveTransport() {
    if (!m_transport) {
        m_transport = MakeWindowsTransport(Ports());
    }
    return *m_transport;
}

void SimulatedWindowsMachine::Relay::PumpMessage() {
    m_aspi.CompleteProbes();
    m_ui.PumpMessage();
}

void SimulatedWindowsMachine::Relay::ProcessMessages() {
    m_aspi.CompleteProbes();
    m_ui.ProcessMessages();
}

}  // namespace keluflash

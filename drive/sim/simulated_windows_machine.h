#pragma once
// A simulated Windows machine: its drives behind the Windows-shaped ports (an
// ASPI layer with adapters, drive letters with DeviceIoControl, the system's
// error texts), so the ASPI and NT pass-through transports run here unchanged.
#include <memory>
#include <string>
#include <vector>

#include "drive/sim/simulated_aspi_layer.h"
#include "drive/sim/simulated_drive_letters.h"
#include "drive/sim/simulated_machine.h"
#include "drive/sim/simulated_windows_errors.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

class SimulatedWindowsMachine final : public SimulatedMachine {
public:
    // A Host or WindowsNt platform gives the NT family, Windows9x the ASPI path.
    SimulatedWindowsMachine(SimulatedMachineConfig config, UserInterface& ui);
    ~SimulatedWindowsMachine() override;

    Transport& DriveTransport() override;
    UserInterface& Ui() override { return m_relay; }
    // The Windows-shaped ports themselves, for tests of the ports and for our
    // WNASPI32.DLL built on this machine. References into this machine.
    WindowsPorts Ports();
    const SimulatedWindowsCounters& Counters() const { return m_counters; }
    // Whether the disc in a drive is mounted (a dismount takes it off).
    bool VolumeMounted(size_t drive) const { return m_letters.VolumeMounted(drive); }

private:
    class Platform final : public PlatformPort {
    public:
        explicit Platform(bool nt) : m_nt(nt) {}
        bool IsNtFamily() override { return m_nt; }
    private:
        bool m_nt;
    };
    // The caller's user interface, with the ASPI layer's pending device
    // probes completing while the message queue is served.
    class Relay final : public UserInterface {
    public:
        Relay(UserInterface& ui, SimulatedAspiLayer& aspi) : m_ui(ui), m_aspi(aspi) {}
        void PumpMessage() override;
        void ProcessMessages() override;
        int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override {
            return m_ui.ShowMessage(text, caption, flags);
        }
    private:
        UserInterface& m_ui;
        SimulatedAspiLayer& m_aspi;
    };

    SimulatedWindowsCounters m_counters;
    Platform m_platform;
    SimulatedAspiLayer m_aspi;
    SimulatedDriveLetters m_letters;
    SimulatedSystemErrorText m_errorTexts;
    Relay m_relay;
    std::unique_ptr<Transport> m_transport;   // made on first use, after the ports exist
};

}  // namespace keluflash

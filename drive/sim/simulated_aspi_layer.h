#pragma once
// A simulated ASPI for Win32 layer: WNASPI32.DLL in the system directory, its
// adapters with the machine's drives and other devices on them, requests that
// complete at once or later (when their event is waited for), aborts.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/sim/simulated_machine.h"
#include "drive/sim/simulated_windows_counters.h"
#include "drive/windows/aspi_request.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

class SimulatedAspiLayer final : public AspiPort {
public:
    SimulatedAspiLayer(SimulatedMachine& machine, SimulatedWindowsCounters& counters);
    ~SimulatedAspiLayer() override;

    std::optional<std::string> SystemDirectory(size_t capacity) override;
    std::unique_ptr<AspiLibrary> LoadAspiLibrary(const std::string& path) override;
    std::unique_ptr<AspiEvent> CreateCompletionEvent() override;

    // Finishes the device probes that are pending (the layer answers them
    // while the caller serves its message queue).
    void CompleteProbes();

private:
    class Library;
    class Event;
    struct PendingCommand {
        SrbExecSCSICmd* request = nullptr;
        const void* event = nullptr;          // its event, while that lives
        SimulatedMachine::Delivery delivery;  // what completes into the request
        bool completes = true;                // false: never, until aborted
        bool waitFails = false;
    };
    struct PendingProbe {
        SrbGDEVBlock* request;
        uint8_t status;
        uint8_t deviceType;
    };

    const SimulatedWindowsConfig& Config() const;
    AspiAddress AddressOf(size_t drive) const;
    std::optional<size_t> DriveAt(AspiAddress address) const;
    Event* LiveEvent(const void* postProc) const;
    uint32_t Send(void* srb);
    void Probe(SrbGDEVBlock& request);
    void Exec(SrbExecSCSICmd& request);
    void Abort(SrbAbort& abort);
    static void Complete(SrbExecSCSICmd& request, const SimulatedMachine::Delivery& delivery);

    SimulatedMachine& m_machine;
    SimulatedWindowsCounters& m_counters;
    std::vector<Event*> m_liveEvents;
    std::optional<PendingCommand> m_pending;
    std::vector<PendingProbe> m_probes;
};

}  // namespace keluflash

#pragma once
// The drives every keluflash-cli command works on: the machine's own (the
// platform's transport) or a simulated machine (--simulate[=NAME]), TAtapi over them,
// the --trace file, and --device resolved into a selected table entry.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "drive/atapi.h"
#include "drive/transport.h"

namespace keluflash {
class SimulatedMachine;
struct SimulatedMachineConfig;
}

namespace keluflash::cli {

// One drive the scan saw: a device table entry, or a drive it could not open
// (or could not list) with the reason.
struct SeenDrive {
    int tableIndex = -1;         // -1: not in the device table
    std::string path;            // "/dev/sg1", "\\\\.\\D:", "ASPI 0:1:0"
    std::vector<std::string> otherNames;  // further names --device takes ("/dev/sr0")
    std::string failure;         // why it is not in the table; empty when it is
};

struct SetupError {
    int exitCode = kExitOk;
    std::string message;
};

class DriveSetup {
    struct Key {
        explicit Key() = default;
    };

public:
    explicit DriveSetup(Key);  // through Create
    // Builds the transport and the TAtapi (which scans the drives). nullptr when
    // the options cannot be honoured; `error` says why and with which exit
    // code (an unknown profile is a usage error).
    static std::unique_ptr<DriveSetup> Create(const CommonOptions& options, UserInterface& ui, SetupError& error);
    // The same over a simulated machine of the caller's making (tests, demos);
    // options.simulate and the profile are not looked at.
    static std::unique_ptr<DriveSetup> CreateSimulated(const SimulatedMachineConfig& config,
                                                       const CommonOptions& options, UserInterface& ui,
                                                       SetupError& error);
    ~DriveSetup();
    DriveSetup(const DriveSetup&) = delete;
    DriveSetup& operator=(const DriveSetup&) = delete;

    TAtapi& Atapi() { return *m_atapi; }
    Clock& HostClock() { return *m_clock; }
    // The simulated machine behind --simulate; null for real drives.
    SimulatedMachine* Simulation() { return m_simulation.get(); }

    // Table entries in table order, then the drives that are not in it.
    const std::vector<SeenDrive>& Drives() const { return m_drives; }
    // The name --device and the listing use for a table entry.
    std::string DevicePath(int tableIndex) const;

    // --device: empty for entry 0, a table index, or one of a drive's names.
    // Selects the entry in TAtapi and returns its index; nullopt with the
    // reason when there is no such drive or it could not be opened.
    std::optional<int> SelectDevice(const std::string& device, std::string& error);

private:
    // Opens the trace and builds TAtapi over the chosen transport.
    static std::unique_ptr<DriveSetup> Finish(std::unique_ptr<DriveSetup> setup, Transport& transport,
                                              UserInterface& ui, const CommonOptions& options, SetupError& error);
    void CollectDrives();

    struct HostDrives;
    std::unique_ptr<HostDrives> m_host;
    std::unique_ptr<SimulatedMachine> m_simulation;
    Clock* m_clock = nullptr;
    std::unique_ptr<CommandObserver> m_trace;
    std::unique_ptr<TAtapi> m_atapi;
    std::vector<SeenDrive> m_drives;
};

}  // namespace keluflash::cli

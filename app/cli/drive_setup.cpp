#include "app/cli/drive_setup.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>

#include "app/cli/command_trace.h"
#include "drive/sim/simulated_machine.h"

#if defined(__linux__)
#include "drive/linux/linux_kernel.h"
#include "drive/linux/sg_io_transport.h"
#include "drive/steady_clock.h"
#elif defined(_WIN32)
#include "drive/win32/win32_drive_ports.h"
#include "drive/windows_transport.h"
#endif

namespace keluflash::cli {

namespace {

std::string ProfileNames() {
    std::string names;
    for (const SimulatedProfile& profile : SimulatedProfiles()) {
        names += (names.empty() ? "" : ", ") + profile.name;
    }
    return names;
}

std::optional<int> ParseIndex(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

// This machine's drives through its own transport.
#if defined(__linux__)
struct DriveSetup::HostDrives {
    HostLinuxKernel kernel;
    SgIoTransport sgIo{kernel};
    Transport* transport = &sgIo;
    SteadyClock clock;
    explicit HostDrives(UserInterface&) {}
};
#elif defined(_WIN32)
struct DriveSetup::HostDrives {
    Win32DrivePorts ports;
    std::unique_ptr<Transport> transport;
    Win32Clock& clock = ports.clock;
    explicit HostDrives(UserInterface& ui) : transport(MakeWindowsTransport(ports.Ports(ui))) {}
};
#endif

DriveSetup::DriveSetup(Key) {}
DriveSetup::~DriveSetup() = default;

std::unique_ptr<DriveSetup> DriveSetup::Create(const CommonOptions& options, UserInterface& ui, SetupError& error) {
    if (options.simulate) {
        const SimulatedProfile* profile = FindSimulatedProfile(options.simulateProfile);
        if (profile == nullptr) {
            error = {kExitUsage, "unknown simulated machine \"" + options.simulateProfile +
                                     "\"; --simulate takes one of: " + ProfileNames()};
            return nullptr;
        }
        return CreateSimulated(profile->config, options, ui, error);
    }
#if defined(__linux__) || defined(_WIN32)
    auto setup = std::make_unique<DriveSetup>(Key{});
    setup->m_host = std::make_unique<HostDrives>(ui);
    setup->m_clock = &setup->m_host->clock;
    Transport& transport = *setup->m_host->transport;
    return Finish(std::move(setup), transport, ui, options, error);
#else
    (void)ui;
    error = {kExitFailed, "this keluflash-cli reaches simulated drives only (--simulate)"};
    return nullptr;
#endif
}

std::unique_ptr<DriveSetup> DriveSetup::CreateSimulated(const SimulatedMachineConfig& config,
                                                        const CommonOptions& options, UserInterface& ui,
                                                        SetupError& error) {
    auto setup = std::make_unique<DriveSetup>(Key{});
    setup->m_simulation = MakeSimulatedMachine(config, ui);
    setup->m_clock = &setup->m_simulation->Clock();
    SimulatedMachine& machine = *setup->m_simulation;
    return Finish(std::move(setup), machine.DriveTransport(), machine.Ui(), options, error);
}

std::unique_ptr<DriveSetup> DriveSetup::Finish(std::unique_ptr<DriveSetup> setup, Transport& transport,
                                               UserInterface& ui, const CommonOptions& options, SetupError& error) {
    DriveSetup& s = *setup;
    std::unique_ptr<CommandTrace> trace;
    if (!options.traceFile.empty()) {
        trace = std::make_unique<CommandTrace>(options.traceFile, *s.m_clock);
        if (!trace->IsOpen()) {
            error = {kExitFailed, "cannot write the trace file " + options.traceFile};
            return nullptr;
        }
    }

    s.m_atapi = std::make_unique<TAtapi>(transport, ui);
    if (trace) {
        s.m_atapi->SetCommandObserver(trace.get());
        s.m_trace = std::move(trace);
    }
    s.CollectDrives();
    return setup;
}

void DriveSetup::CollectDrives() {
    const Transport& transport = m_atapi->DriveTransport();
    const int count = m_atapi->DeviceCount();
    m_drives.clear();
    for (int i = 0; i < count; ++i) {
        const DeviceEntry& entry = m_atapi->Device(i);
        m_drives.push_back(SeenDrive{i, transport.DevicePath(entry), transport.OtherNames(entry), {}});
    }
    for (const UnlistedDrive& unlisted : transport.Unlisted()) {
        m_drives.push_back(SeenDrive{-1, unlisted.path, unlisted.otherNames, unlisted.reason});
    }
}

std::string DriveSetup::DevicePath(int tableIndex) const {
    for (const SeenDrive& drive : m_drives) {
        if (drive.tableIndex == tableIndex) {
            return drive.path;
        }
    }
    return {};
}

std::optional<int> DriveSetup::SelectDevice(const std::string& device, std::string& error) {
    const int count = m_atapi->DeviceCount();
    std::optional<int> index;
    if (device.empty()) {
        if (count > 0) {
            index = 0;
        }
    } else if (const std::optional<int> number = ParseIndex(device)) {
        if (*number >= count) {
            error = "no drive at index " + device + " (" + std::to_string(count) + " found)";
            return std::nullopt;
        }
        index = number;
    } else {
        const auto named = std::find_if(m_drives.begin(), m_drives.end(), [&](const SeenDrive& drive) {
            return drive.path == device ||
                   std::find(drive.otherNames.begin(), drive.otherNames.end(), device) != drive.otherNames.end();
        });
        if (named == m_drives.end()) {
            error = "no optical drive at " + device;
            return std::nullopt;
        }
        if (named->tableIndex < 0) {
            error = device + ": " + named->failure;
            return std::nullopt;
        }
        index = named->tableIndex;
    }
    if (!index) {
        error = "no optical drive found";
        for (const SeenDrive& drive : m_drives) {
            error += "; " + drive.path + ": " + drive.failure;
        }
        return std::nullopt;
    }
    m_atapi->SelectDevice(m_atapi->Device(*index));
    return index;
}

}  // namespace keluflash::cli

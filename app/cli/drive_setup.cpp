#include "app/cli/drive_setup.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>

#include "app/cli/command_trace.h"
#include "drive/sim/paced_clock.h"
#include "drive/sim/simulated_machine.h"

#if defined(__linux__)
#include "drive/linux/linux_drive_ports.h"
#elif defined(_WIN32)
#include "drive/win32/win32_drive_ports.h"
#endif

namespace keluflash::cli {

namespace {

constexpr char kFirstLetter = 'A';
constexpr char kLastLetter = 'Y';

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

#if defined(__linux__)
struct DriveSetup::RealPorts {
    LinuxDrivePorts ports;
};
#elif defined(_WIN32)
struct DriveSetup::RealPorts {
    Win32DrivePorts ports;
};
#else
struct DriveSetup::RealPorts {};
#endif

// Passes every call through and remembers the handle each letter was given,
// so that a device table entry can be named by the node behind it.
class DriveSetup::RecordingDriveLetters final : public DriveLetterPort {
public:
    explicit RecordingDriveLetters(DriveLetterPort& inner) : m_inner(inner) {}

    unsigned GetDriveType(char letter) override { return m_inner.GetDriveType(letter); }
    DeviceHandle Open(char letter) override {
        const DeviceHandle handle = m_inner.Open(letter);
        if (handle != kInvalidHandle) {
            m_handles[Index(letter)] = handle;
        }
        return handle;
    }
    void Close(DeviceHandle handle) override { m_inner.Close(handle); }
    std::string DevicePath(char letter) override { return m_inner.DevicePath(letter); }
    std::string OpenFailure(char letter) override { return m_inner.OpenFailure(letter); }

    std::optional<DeviceHandle> Handle(char letter) const { return m_handles[Index(letter)]; }

private:
    static size_t Index(char letter) { return static_cast<size_t>(letter - kFirstLetter); }
    DriveLetterPort& m_inner;
    std::array<std::optional<DeviceHandle>, kLastLetter - kFirstLetter + 1> m_handles{};
};

DriveSetup::DriveSetup(Key) {}
DriveSetup::~DriveSetup() = default;

Clock& DriveSetup::HostClock() { return m_paced ? static_cast<Clock&>(*m_paced) : m_ports->clock; }

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
    setup->m_real = std::make_unique<RealPorts>();
    const DrivePorts base = setup->m_real->ports.Ports(ui);
    return Finish(std::move(setup), base, options, error);
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
    setup->m_simulation = std::make_unique<SimulatedMachine>(config, ui);
    const DrivePorts base = setup->m_simulation->Ports();
    return Finish(std::move(setup), base, options, error);
}

std::unique_ptr<DriveSetup> DriveSetup::Finish(std::unique_ptr<DriveSetup> setup, const DrivePorts& base,
                                               const CommonOptions& options, SetupError& error) {
    DriveSetup& s = *setup;
    s.m_letters = std::make_unique<RecordingDriveLetters>(base.driveLetters);
    s.m_ports = std::make_unique<DrivePorts>(
        DrivePorts{base.platform, base.aspi, base.passThrough, *s.m_letters, base.errorText, base.ui, base.clock});

    std::unique_ptr<CommandTrace> trace;
    if (!options.traceFile.empty()) {
        trace = std::make_unique<CommandTrace>(options.traceFile, s.m_ports->clock);
        if (!trace->IsOpen()) {
            error = {kExitFailed, "cannot write the trace file " + options.traceFile};
            return nullptr;
        }
    }

    s.m_atapi = std::make_unique<TAtapi>(*s.m_ports);
    if (trace) {
        s.m_atapi->SetCommandObserver(trace.get());
        s.m_trace = std::move(trace);
    }
    if (options.realTime && s.m_simulation) {
        s.m_paced = std::make_unique<PacedClock>(s.m_simulation->Clock(), true, s.m_trace.get());
        s.m_atapi->SetCommandObserver(s.m_paced.get());
    }
    s.CollectDrives();
    return setup;
}

void DriveSetup::CollectDrives() {
    const int count = m_atapi->DeviceCount();
    m_drives.assign(static_cast<size_t>(count), SeenDrive{});
    for (int i = 0; i < count; ++i) {
        m_drives[static_cast<size_t>(i)].tableIndex = i;
    }
    if (!m_atapi->NtFlag()) {
        // The ASPI scan addresses its drives by adapter, target and LUN.
        for (int i = 0; i < count; ++i) {
            const DeviceEntry& entry = m_atapi->Device(i);
            m_drives[static_cast<size_t>(i)].path = "ASPI " + std::to_string(entry.hostAdapter) + ":" +
                                                    std::to_string(entry.target) + ":" +
                                                    std::to_string(entry.lun);
        }
        return;
    }

    std::vector<SeenDrive> unlisted;
    for (char letter = kFirstLetter; letter <= kLastLetter; ++letter) {
        if (m_letters->GetDriveType(letter) != kDriveCdrom) {
            continue;
        }
        SeenDrive seen;
        seen.path = m_letters->DevicePath(letter);
        seen.otherNames = OtherNames(letter, seen.path);
        const std::optional<DeviceHandle> handle = m_letters->Handle(letter);
        int index = -1;
        for (int i = 0; handle && i < count; ++i) {
            if (m_atapi->Device(i).handle == *handle) {
                index = i;
                break;
            }
        }
        if (index >= 0) {
            seen.tableIndex = index;
            m_drives[static_cast<size_t>(index)] = std::move(seen);
            continue;
        }
        if (!handle) {
            seen.failure = m_letters->OpenFailure(letter);
            if (seen.failure.empty()) {
                seen.failure = "could not be opened";
            }
        } else {
            seen.failure = "not listed: only the first " + std::to_string(count) + " drives are";
        }
        unlisted.push_back(std::move(seen));
    }
    m_drives.insert(m_drives.end(), unlisted.begin(), unlisted.end());
}

std::vector<std::string> DriveSetup::OtherNames(char letter, const std::string& path) const {
#if defined(__linux__)
    // A Linux drive answers to both its nodes, /dev/sgM and /dev/srN.
    if (m_real) {
        std::vector<std::string> names;
        const auto& drives = m_real->ports.DriveLetters().Drives();
        const OpticalDriveNode& node = drives.at(static_cast<size_t>(letter - kFirstLetter));
        const std::filesystem::path dev = std::filesystem::path(path).parent_path();
        for (const std::string& name : {node.genericName, node.blockName}) {
            const std::string other = (dev / name).string();
            if (!name.empty() && other != path) {
                names.push_back(other);
            }
        }
        return names;
    }
#else
    (void)path;
#endif
    return {std::string(1, letter) + ":"};  // the drive letter
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

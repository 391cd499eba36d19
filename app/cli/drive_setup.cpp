#include "app/cli/drive_setup.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "app/cli/ansi_text.h"
#include "app/cli/command_trace.h"
#include "app/cli/interruptible_transport.h"
#include "app/cli/text_escape.h"
#include "app/unusable_drives.h"
#include "drive/sim/paced_clock.h"
#include "drive/sim/replay_transport.h"
#include "drive/sim/simulated_machine.h"

#if defined(__linux__)
#include "drive/linux/linux_kernel.h"
#include "drive/linux/sg_io_transport.h"
#include "drive/steady_clock.h"
#elif defined(_WIN32)
#include "drive/win32/win32_drive_ports.h"
#include "drive/windows/windows_transport.h"
#endif

namespace keluflash::cli {

namespace {

constexpr std::string_view kReplayPrefix = "replay:";

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
    SgIoTransport sgIo;
    Transport* transport = &sgIo;
    SteadyClock clock;
    HostDrives(UserInterface&, bool exclusive) : sgIo(kernel, "/dev", exclusive) {}
};
#elif defined(_WIN32)
struct DriveSetup::HostDrives {
    Win32DrivePorts ports;
    std::unique_ptr<Transport> transport;
    Win32Clock& clock = ports.clock;
    // An exclusive open is Linux's (O_EXCL); the Windows ports open as they always did.
    HostDrives(UserInterface& ui, bool) : transport(MakeWindowsTransport(ports.Ports(ui))) {}
};
#endif

void CommandObservers::CommandExecuted(const CommandRecord& record) {
    for (const std::unique_ptr<CommandObserver>& observer : m_owned) observer->CommandExecuted(record);
    for (CommandObserver* observer : m_borrowed) observer->CommandExecuted(record);
}

DriveSetup::DriveSetup(Key) {}
DriveSetup::~DriveSetup() = default;

std::string DriveSetup::TraceFailure() const {
    if (m_trace == nullptr || m_trace->Failure().empty()) return {};
    return "the trace file " + m_traceFile + " could not be written: " + m_trace->Failure();
}
Clock& DriveSetup::HostClock() { return m_paced ? static_cast<Clock&>(*m_paced) : *m_clock; }

bool DriveSetup::ReplayStopped() const { return m_replay && !m_replay->Mismatch().empty(); }

std::string DriveSetup::ReplayFailure() const {
    if (!ReplayStopped()) return {};
    return "the replay of " + m_replayFile + " stopped at " + m_replay->Mismatch();
}

void DriveSetup::ReportReplay(bool json, nlohmann::json& fields, const std::string& error) const {
    if (!m_replay) return;
    const std::string stopped = ReplayFailure();
    if (json) {
        fields["replayed_commands"] = m_replay->Replayed();
        fields["recorded_commands"] = m_replay->Recorded();
        if (!stopped.empty()) fields["replay_error"] = stopped;
        return;
    }
    if (!stopped.empty() && stopped != error) std::cerr << "keluflash-cli: " + PrintableText(stopped) + "\n";
    if (stopped.empty() && m_replay->Replayed() < m_replay->Recorded())
        std::cerr << "keluflash-cli: the program ended after " + std::to_string(m_replay->Replayed()) + " of the " +
                         std::to_string(m_replay->Recorded()) + " commands recorded in " +
                         PrintableText(m_replayFile) + "\n";
}

std::unique_ptr<DriveSetup> DriveSetup::CreateReplay(const std::string& trace, const CommonOptions& options,
                                                     UserInterface& ui, SetupError& error) {
    RecordedSession session;
    std::string why;
    if (trace.empty()) why = "no trace named (--simulate=replay:TRACE)";
    else if (!ReadTrace(trace, session, why)) why = "cannot replay " + trace + ": " + why;
    if (!why.empty()) {
        error = {kExitFailed, why, ErrorKind::File};
        return nullptr;
    }
    auto setup = std::make_unique<DriveSetup>(Key{});
    // The clock starts where the recording's did, so the program's time
    // limits and a --trace of the replay read as the recording.
    setup->m_replayClock = std::make_unique<ReplayClock>(
        session.startTick, options.realTime ? kReplayRealTimeLimit : std::chrono::milliseconds(0));
    setup->m_replay = std::make_unique<ReplayTransport>(std::move(session), *setup->m_replayClock);
    setup->m_replayFile = trace;
    setup->m_clock = setup->m_replayClock.get();
    // A --trace of the replay never goes into the trace being replayed.
    CommonOptions withTrace = options;
    withTrace.commandFiles.push_back(trace);
    Transport& transport = *setup->m_replay;
    return Finish(std::move(setup), transport, ui, withTrace, error);
}

std::unique_ptr<DriveSetup> DriveSetup::Create(const CommonOptions& options, UserInterface& ui, SetupError& error) {
    if (options.simulate && options.simulateProfile.rfind(kReplayPrefix, 0) == 0)
        return CreateReplay(options.simulateProfile.substr(kReplayPrefix.size()), options, ui, error);
    if (options.simulate) {
        const SimulatedProfile* profile = FindSimulatedProfile(options.simulateProfile);
        if (profile == nullptr) {
            error = {kExitUsage,
                     "unknown simulated machine \"" + options.simulateProfile +
                         "\"; --simulate=NAME takes one of: " + ProfileNames() + ", or replay:TRACE",
                     ErrorKind::Usage};
            return nullptr;
        }
        return CreateSimulated(profile->config, options, ui, error);
    }
#if defined(__linux__) || defined(_WIN32)
    auto setup = std::make_unique<DriveSetup>(Key{});
    setup->m_host = std::make_unique<HostDrives>(ui, options.exclusive);
    setup->m_clock = &setup->m_host->clock;
    Transport& transport = *setup->m_host->transport;
    return Finish(std::move(setup), transport, ui, options, error);
#else
    (void)ui;
    error = {kExitFailed, "this keluflash-cli reaches simulated drives only (--simulate)", ErrorKind::Drive};
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
    Transport& transport = options.exclusive ? machine.ExclusiveDriveTransport() : machine.DriveTransport();
    return Finish(std::move(setup), transport, machine.Ui(), options, error);
}

std::unique_ptr<DriveSetup> DriveSetup::Finish(std::unique_ptr<DriveSetup> setup, Transport& transport,
                                               UserInterface& ui, const CommonOptions& options, SetupError& error) {
    DriveSetup& s = *setup;
    std::unique_ptr<CommandTrace> trace;
    if (!options.traceFile.empty()) {
        if (const std::optional<std::string> why =
                CheckTraceTarget(options.traceFile, options.force, options.commandFiles)) {
            error = {kExitFailed, "cannot write the trace to " + options.traceFile + ": " + *why, ErrorKind::File};
            return nullptr;
        }
        trace = std::make_unique<CommandTrace>(options.traceFile, *s.m_clock);
        if (!trace->IsOpen()) {
            error = {kExitFailed, "cannot write the trace to " + options.traceFile + ": " + trace->Failure(),
                     ErrorKind::File};
            return nullptr;
        }
    }

    Transport* reach = &transport;
    if (options.signals != nullptr) {
        s.m_interruptible = std::make_unique<InterruptibleTransport>(transport, *options.signals);
        reach = s.m_interruptible.get();
    }
    // The trace and the pacing see the scan's commands as well.
    if (trace) {
        s.m_trace = trace.get();
        s.m_traceFile = options.traceFile;
        s.m_observers.Add(std::move(trace));
    }
    if (options.realTime && s.m_simulation) {
        s.m_paced = std::make_unique<PacedClock>(s.m_simulation->Clock(), true);
        s.m_observers.Add(*s.m_paced);
    }
    s.m_atapi = std::make_unique<TAtapi>(*reach, ui, &s.m_observers);
    s.CollectDrives();
    if (s.m_trace != nullptr) {
        std::vector<RecordedTableEntry> table;
        for (const SeenDrive& drive : s.m_drives) {
            if (drive.tableIndex < 0) continue;
            const DeviceEntry& entry = s.m_atapi->Device(drive.tableIndex);
            table.push_back({drive.path, drive.otherNames, entry.IdentificationText(), entry.RevisionText()});
        }
        s.m_trace->Begin(*s.m_atapi, table, transport.Unlisted());
    }
    return setup;
}

void DriveSetup::CollectDrives() {
    const Transport& transport = m_atapi->DriveTransport();
    const int count = m_atapi->DeviceCount();
    m_drives.clear();
    for (int i = 0; i < count; ++i) {
        const DeviceEntry& entry = m_atapi->Device(i);
        SeenDrive& drive = m_drives.emplace_back();
        drive.tableIndex = i;
        drive.path = transport.DevicePath(entry);
        drive.otherNames = transport.OtherNames(entry);
    }
    for (const UnlistedDrive& unlisted : transport.Unlisted()) {
        SeenDrive& drive = m_drives.emplace_back();
        drive.path = unlisted.path;
        drive.otherNames = unlisted.otherNames;
        drive.failure = unlisted.reason;
        drive.fix = UnusableDriveFix(unlisted);
        drive.unusable = UnusableDriveText(unlisted);
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

bool DriveSetup::NoneUsable() const {
    return !m_drives.empty() && std::none_of(m_drives.begin(), m_drives.end(),
                                             [](const SeenDrive& drive) { return drive.tableIndex >= 0; });
}

std::string DriveSetup::NoneUsableText() const {
    std::string text = "found " + std::to_string(m_drives.size()) +
                       (m_drives.size() == 1 ? " optical drive" : " optical drives") + ", but none can be used";
    for (size_t i = 0; i < m_drives.size(); ++i) text += (i == 0 ? ": " : "; ") + m_drives[i].unusable;
    return text;
}

std::string DriveSetup::DriveName(int tableIndex) const {
    const DeviceEntry& entry = m_atapi->Device(tableIndex);
    return DevicePath(tableIndex) + " (" + TrimmedText(entry.IdentificationText()) + " " +
           TrimmedText(entry.RevisionText()) + ")";
}

nlohmann::json DriveSetup::DriveJson(int tableIndex) const {
    const DeviceEntry& entry = m_atapi->Device(tableIndex);
    return {{"index", tableIndex},
            {"path", AnsiToUtf8(DevicePath(tableIndex))},
            {"identification", TrimmedText(entry.IdentificationText())},
            {"identification_raw", entry.IdentificationText()},
            {"revision", TrimmedText(entry.RevisionText())}};
}

std::string DriveSetup::UnnamedDriveProblem(const std::string& device) const {
    const int count = m_atapi->DeviceCount();
    if (!device.empty() || count < 2) return {};
    std::string text = std::to_string(count) + " optical drives can be used; name one with --device:";
    for (int index = 0; index < count; ++index)
        text += (index == 0 ? " " : ", ") + std::to_string(index) + " " + DriveName(index);
    return text;
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
            error = "cannot use " + named->unusable;
            return std::nullopt;
        }
        index = named->tableIndex;
    }
    if (!index) {
        error = NoneUsable() ? NoneUsableText() : "no optical drive found";
        return std::nullopt;
    }
    m_atapi->SelectDevice(m_atapi->Device(*index));
    return index;
}

}  // namespace keluflash::cli

#pragma once
// The drives every keluflash-cli command works on: the machine's own (the
// platform's transport) or a simulated machine (--simulate[=NAME]), TAtapi over them,
// the --trace file, and --device resolved into a selected table entry.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/command_output.h"
#include "drive/atapi.h"
#include "drive/transport.h"
#include "flash/download.h"

namespace keluflash {
class PacedClock;
class ReplayClock;
class ReplayTransport;
class SimulatedMachine;
struct SimulatedMachineConfig;
}

namespace keluflash::cli {

// --real-time over a replay: the pauses take real time for this long in all,
// then the replay goes on in virtual time. A signal while the drive is
// written waits for the update, which the program promises to end within
// kDriveWriteSeconds; a trace may claim pauses of any length (an edited one,
// days). The pauses of the whole replay stay inside the promise, leaving ten
// seconds for the program's own work between them (a replay of 7000
// commands takes well under one).
inline constexpr std::chrono::seconds kReplayRealTimeLimit{kDriveWriteSeconds - 10};

// One drive the scan saw: a device table entry, or a drive it could not open
// (or could not list) with the reason.
struct SeenDrive {
    int tableIndex = -1;         // -1: not in the device table
    std::string path;            // "/dev/sg1", "\\\\.\\D:", "ASPI 0:1:0"
    std::vector<std::string> otherNames;  // further names --device takes ("/dev/sr0")
    std::string failure;         // why it is not in the table; empty when it is
    std::string fix;             // what the user can do about it; empty when nothing is known
    std::string unusable;        // device, reason and fix in one text; empty for a table entry
};

struct SetupError {
    int exitCode = kExitOk;
    std::string message;
    ErrorKind kind = ErrorKind::Drive;
};

class CommandTrace;

// Every command goes to each of these: the trace and the commands' own
// watchers (whether anything was written to the drive).
class CommandObservers final : public CommandObserver {
public:
    void Add(std::unique_ptr<CommandObserver> observer) { m_owned.push_back(std::move(observer)); }
    void Add(CommandObserver& observer) { m_borrowed.push_back(&observer); }
    void CommandExecuted(const CommandRecord& record) override;

private:
    std::vector<std::unique_ptr<CommandObserver>> m_owned;
    std::vector<CommandObserver*> m_borrowed;
};

class DriveSetup {
    struct Key {
        explicit Key() = default;
    };

public:
    explicit DriveSetup(Key);  // through Create
    // Builds the transport and the TAtapi (which scans the drives). nullptr when
    // the options cannot be honoured; `error` says why and with which exit
    // code (an unknown profile is a usage error). --simulate=replay:TRACE
    // plays a trace back (ReplayFailure).
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
    // Also sees every command from now on; must outlive the set-up's commands.
    void WatchCommands(CommandObserver& observer) { m_observers.Add(observer); }
    // The sentence saying the --trace file lost lines, and why; empty when it
    // has them all (or there is none).
    std::string TraceFailure() const;
    // The clock of the update: the simulated machine's, paced with --real-time.
    Clock& HostClock();
    // The simulated machine behind --simulate; null for real drives.
    SimulatedMachine* Simulation() { return m_simulation.get(); }
    // --simulate=replay:TRACE: the program sent a command other than the
    // recorded one; that command and every later one were not sent.
    bool ReplayStopped() const;
    // The sentence saying where the program left the recording ("the replay
    // of T stopped at command 57 (line 58): sent ...; recorded ..."); empty
    // while every command matched. A command whose replay stopped has failed
    // as a replay, whatever else it did: what followed answers commands that
    // were never sent, and says nothing about a drive.
    std::string ReplayFailure() const;
    // What a replay adds to the end of a command: with `json`,
    // "replayed_commands", "recorded_commands" and, when it stopped,
    // "replay_error" in `fields`; otherwise the stop (unless it is `error`,
    // which is said anyway) and a recording left unplayed on standard error.
    // Nothing without a replay.
    void ReportReplay(bool json, nlohmann::json& fields, const std::string& error = {}) const;

    // Table entries in table order, then the drives that are not in it.
    const std::vector<SeenDrive>& Drives() const { return m_drives; }
    // The name --device and the listing use for a table entry.
    std::string DevicePath(int tableIndex) const;
    // Drives were found, and none of them can be used.
    bool NoneUsable() const;
    // "found 2 optical drives, but none can be used: /dev/sg0 (...): fix; ...".
    std::string NoneUsableText() const;

    // How a command names a table entry to a person: "/dev/sg1 (KELU
    // ZXR-0131K 1.00)", the identification trimmed.
    std::string DriveName(int tableIndex) const;
    // The same for scripts: {index, path, identification (trimmed),
    // identification_raw (as the drive sent it, padding and all), revision}.
    nlohmann::json DriveJson(int tableIndex) const;
    // The usage error of a command that writes or reads the flash when more
    // than one drive can be used and none was named; empty otherwise.
    std::string UnnamedDriveProblem(const std::string& device) const;

    // --device: empty for entry 0, a table index, or one of a drive's names.
    // Selects the entry in TAtapi and returns its index; nullopt with the
    // reason when there is no such drive or it could not be opened.
    std::optional<int> SelectDevice(const std::string& device, std::string& error);

private:
    static std::unique_ptr<DriveSetup> CreateReplay(const std::string& trace, const CommonOptions& options,
                                                    UserInterface& ui, SetupError& error);
    // Opens the trace and builds TAtapi over the chosen transport.
    static std::unique_ptr<DriveSetup> Finish(std::unique_ptr<DriveSetup> setup, Transport& transport,
                                              UserInterface& ui, const CommonOptions& options, SetupError& error);
    void CollectDrives();

    struct HostDrives;
    std::unique_ptr<HostDrives> m_host;
    std::unique_ptr<SimulatedMachine> m_simulation;
    Clock* m_clock = nullptr;
    CommandObservers m_observers;
    CommandTrace* m_trace = nullptr;  // owned by m_observers
    std::string m_traceFile;
    std::unique_ptr<PacedClock> m_paced;
    std::unique_ptr<ReplayClock> m_replayClock;
    std::unique_ptr<ReplayTransport> m_replay;
    std::string m_replayFile;
    std::unique_ptr<Transport> m_interruptible;  // over the chosen transport, when a program runs
    std::unique_ptr<TAtapi> m_atapi;
    std::vector<SeenDrive> m_drives;
};

}  // namespace keluflash::cli

#pragma once
// Options every keluflash-cli command shares, and the registration of each
// command (one file per command group).
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace keluflash::cli {

class ErrorLine;
class SignalWatch;

struct CommonOptions {
    bool simulate = false;
    std::string simulateProfile = "default";  // --simulate or --simulate=NAME
    std::string device;                       // --device INDEX|PATH
    bool json = false;
    std::string traceFile;                    // --trace FILE
    bool force = false;                       // --force: replace a file dump, pack, demo-image write; add to a trace
    // The files the command reads or writes: the trace may be none of them.
    std::vector<std::string> commandFiles;
    bool realTime = false;                    // --real-time: simulated drives take real time
    // The command writes or reads the flash: each drive is opened for this
    // program alone (flash, verify, dump).
    bool exclusive = false;
    // The program's signals: null where no program runs (tests in process).
    SignalWatch* signals = nullptr;
    // Standard error as the step lines and the signal watch share it.
    ErrorLine* errorLine = nullptr;
};

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // refused or failed; the message lines say why
inline constexpr int kExitUsage = 2;

// Each adds its subcommand(s) to the app; the callback stores the exit code.
void RegisterListCommand(CLI::App& app, CommonOptions& options, int& exitCode);
void RegisterImageCommands(CLI::App& app, CommonOptions& options, int& exitCode);  // info, pack
void RegisterFlashCommands(CLI::App& app, CommonOptions& options, int& exitCode);  // flash, verify, dump
void RegisterMatchCommand(CLI::App& app, CommonOptions& options, int& exitCode);

}  // namespace keluflash::cli

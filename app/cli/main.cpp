// keluflash-cli: the command-line front end for scripts, servers and support.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "app/cli/cli_options.h"
#include "app/cli/command_output.h"
#include "app/cli/drive_setup.h"
#include "app/cli/signal_watch.h"
#include "app/cli/terminal_line.h"
#include "drive/sim/simulated_machine.h"

namespace {

using keluflash::cli::ErrorKind;

std::string SimulatedProfilesHelp() {
    std::string text = "Simulated machines (--simulate=NAME):\n";
    for (const keluflash::SimulatedProfile& profile : keluflash::SimulatedProfiles()) {
        text += "  " + profile.name + std::string(profile.name.size() < 22 ? 22 - profile.name.size() : 1, ' ') +
                keluflash::SimulatedPlatformName(profile.config.platform) + ": " + profile.description + "\n";
    }
    return text +
           "\nReplay (--simulate=replay:TRACE): the drive list and every answer of a file written by --trace,\n"
           "command by command; the run stops and fails at the first command that differs from the\n"
           "recording. With --real-time each command takes the time it took (up to " +
           std::to_string(keluflash::cli::kReplayRealTimeLimit.count()) + " s in all).\n";
}

size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The first word that is neither an option nor an option's value: where the
// command's name must be. Global options that take a separate value are the
// only ones that hide the word after them.
std::optional<std::string> CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--device" || word == "--trace") {
            ++i;
            continue;
        }
        if (word == "--") return i + 1 < argc ? std::optional<std::string>(argv[i + 1]) : std::nullopt;
        if (!word.empty() && word[0] == '-') continue;
        return std::string(word);
    }
    return std::nullopt;
}

// "list, info, ...": for a usage error that needs a command.
std::string CommandNames(const CLI::App& app) {
    std::string names;
    for (const CLI::App* command : app.get_subcommands({})) names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

// Nothing when `word` is a command; otherwise the usage error naming the
// nearest one.
std::optional<std::string> UnknownCommand(const CLI::App& app, const std::string& word) {
    std::string nearest;
    size_t best = std::string::npos;
    for (const CLI::App* command : app.get_subcommands({})) {
        const std::string& name = command->get_name();
        if (name == word) return std::nullopt;
        const size_t distance = EditDistance(word, name);
        if (distance < best) {
            best = distance;
            nearest = name;
        }
    }
    std::string error = "unknown command \"" + word + "\"";
    if (best <= std::max<size_t>(2, word.size() / 3)) error += "; did you mean \"" + nearest + "\"?";
    return error + " (commands: " + CommandNames(app) + ")";
}

// "--json", or "--json=VALUE" with a value CLI11 reads as true.
bool JsonRequested(std::string_view word) {
    if (word == "--json") return true;
    constexpr std::string_view kAssigned = "--json=";
    if (word.substr(0, kAssigned.size()) != kAssigned) return false;
    std::string value(word.substr(kAssigned.size()));
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* yes : {"true", "1", "yes", "on", "enable", "t", "y", "+"})
        if (value == yes) return true;
    return false;
}

// Help shows the flag as it is given: --simulate[=NAME]. A command's help
// also lists the program's options, which the command takes after its name
// as well, from the program's own definitions.
class HelpFormatter final : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(option, positional);
        const std::string defaultValue = "{default}";
        if (const size_t at = name.find(defaultValue); at != std::string::npos) name.replace(at, defaultValue.size(), "[=NAME]");
        return name;
    }

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        std::string text = CLI::Formatter::make_help(app, name, mode);
        const CLI::App* program = app->get_parent();
        if (program == nullptr || mode == CLI::AppFormatMode::Sub) return text;
        // Help and version are the program's alone; an option the command
        // defines itself (info --json, pack --force) is listed with its own.
        const std::vector<const CLI::Option*> global = program->get_options([&](const CLI::Option* option) {
            if (option == program->get_help_ptr() || option == program->get_help_all_ptr() ||
                option == program->get_version_ptr() || !option->nonpositional())
                return false;
            for (const std::string& name : option->get_lnames())
                if (app->get_option_no_throw("--" + name) != nullptr) return false;
            return true;
        });
        // Between the command's options and its footer, which ends the help
        // after an empty line.
        const size_t footer = text.size() - make_footer(app).size() - 1;
        if (global.empty() || footer > text.size()) return text;
        return text.insert(footer, make_group("Global options (before or after the command)", false, global));
    }
};

// A usage error as one line on standard error, naming the program and
// where its help is; in JSON a document like every other failure.
int ReportUsageError(bool json, const CLI::App& app, const std::string& error) {
    std::string line = error;
    std::replace(line.begin(), line.end(), '\n', ' ');
    if (json) return keluflash::cli::ReportFailure(json, ErrorKind::Usage, line);
    std::string command = app.get_name();
    for (const CLI::App* sub = &app; !sub->get_subcommands().empty();) {
        sub = sub->get_subcommands().front();
        command += " " + sub->get_name();
    }
    return keluflash::cli::ReportFailure(json, ErrorKind::Usage, line + " (see " + command + " --help)");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace keluflash::cli;
    // Known before parsing, so that even a command line that cannot be
    // parsed is answered in JSON.
    const bool json = std::any_of(argv + 1, argv + argc, [](const char* word) { return JsonRequested(word); });

#if !defined(_WIN32)
    // Started with standard input, output or error closed, the next file
    // opened would take its number: message lines would go into the trace
    // file or the drive's node. Each closed one is /dev/null instead.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) return kExitFailed;
    }
    // A reader that goes away (| head -n1) must not end an update: a failed
    // write to standard output is ignored instead.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    ErrorLine errorLine(std::cerr);
    // Before any other thread: signals are the watch's alone from here, and
    // the terminal's resizes wait for the step lines to take them.
    TerminalWidth::HoldResizes();
    SignalWatch signals(json, errorLine);
    // Named here: the usage line names the program, not the path it was started by.
    CLI::App app{"keluflash-cli: rewrite the firmware of KELU CD/DVD drives from a .kfs image", "keluflash-cli"};
    app.formatter(std::make_shared<HelpFormatter>());
    app.require_subcommand(1);
    // Global options are taken after the command as well: list --json.
    app.fallthrough();
    app.set_version_flag("-V,--version", std::string("keluflash-cli ") + KELUFLASH_VERSION, "Print the version and exit");
    CommonOptions options;
    options.signals = &signals;
    options.errorLine = &errorLine;
    // Only --simulate=NAME picks a machine: "--simulate fw.kfs" must never
    // read the file name as one.
    CLI::Option* simulate = app.add_flag("--simulate{default}", options.simulateProfile,
                                         "Use simulated drives instead of the machine's own; --simulate=NAME picks "
                                         "the machine (default: default), --simulate=replay:TRACE plays a --trace "
                                         "file back");
    app.add_option("--device", options.device, "The drive to use: its index in the list, or its device path")
        ->type_name("INDEX|PATH")
        ->check([](const std::string& value) {
            return value.empty() ? std::string("empty; name a drive by its index or its device path")
                                 : std::string();
        });
    app.add_flag("--json", options.json, "Print exactly one JSON document on standard output, also on failure");
    app.add_option("--trace", options.traceFile,
                   "Add the drive session to FILE as JSON lines: a header (keluflash_trace, the format's "
                   "version; the drives; the scan's commands), then each command (n, time_ms, device, cdb, direction, length, data, "
                   "digest, sum16, status, sense, outcome, scsi_status, ...)")
        ->type_name("FILE");
    app.add_flag("--force", options.force,
                 "Replace an existing file (dump, pack, demo-image), add to an existing --trace file");
    app.add_flag("--real-time", options.realTime,
                 "With --simulate: the drives take real time as well (a tenth of each pause, 0.4 ms a command), "
                 "as in keluflash-demo; with --simulate=replay:TRACE each command and pause takes the time "
                 "it took, up to " + std::to_string(kReplayRealTimeLimit.count()) + " s in all");
    app.footer(SimulatedProfilesHelp());
    app.parse_complete_callback([&] { options.simulate = simulate->count() > 0; });

    int exitCode = kExitOk;
    RegisterListCommand(app, options, exitCode);
    RegisterImageCommands(app, options, exitCode);
    RegisterFlashCommands(app, options, exitCode);
    RegisterMatchCommand(app, options, exitCode);

    if (const std::optional<std::string> word = CommandWord(argc, argv)) {
        if (const std::optional<std::string> error = UnknownCommand(app, *word))
            return ReportFailure(json, ErrorKind::Usage, *error);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --help-all, --version
        if (!json) return app.exit(e);
        std::ostringstream out;
        std::ostringstream err;
        app.exit(e, out, err);
        const bool version = dynamic_cast<const CLI::CallForVersion*>(&e) != nullptr;
        PrintJson(std::cout, version ? nlohmann::json{{"version", KELUFLASH_VERSION}}
                                     : nlohmann::json{{"help", out.str()}});
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        // CLI11 says "A subcommand is required"; the program calls them commands.
        if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr && app.get_subcommands().empty())
            return ReportUsageError(json, app, "no command given; the commands: " + CommandNames(app));
        return ReportUsageError(json, app, e.what());
    } catch (const std::exception& e) {
        return ReportFailure(json, ErrorKind::Failed, e.what());
    }
    // The lines of text mode that could not be written: the command's own
    // result stays on standard error.
    errno = 0;
    if (!json && (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout)) {
        std::cerr << std::string("keluflash-cli: standard output could not be written") +
                         (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) +
                         (exitCode == kExitOk ? "; the command itself succeeded\n" : "\n");
        if (exitCode == kExitOk) return kExitFailed;
    }
    return exitCode;
}

// keluflash-cli: the command-line front end for scripts, servers and support.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "app/cli/cli_options.h"
#include "drive/sim/simulated_machine.h"

namespace {

std::string SimulatedProfilesHelp() {
    std::string text = "Simulated machines (--simulate[=NAME]):\n";
    for (const keluflash::SimulatedProfile& profile : keluflash::SimulatedProfiles()) {
        text += "  " + profile.name + std::string(profile.name.size() < 22 ? 22 - profile.name.size() : 1, ' ') +
                keluflash::SimulatedPlatformName(profile.config.platform) + ": " + profile.description + "\n";
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace keluflash::cli;
    CLI::App app{"keluflash-cli: rewrite the firmware of KELU CD/DVD drives from a .kfs image"};
    app.require_subcommand(1);
    // Global options are taken after the command as well: list --json.
    app.fallthrough();
    CommonOptions options;
    CLI::Option* simulate =
        app.add_option("--simulate", options.simulateProfile,
                       "Use simulated drives instead of the machine's own; NAME picks the machine (default: default)")
            ->expected(0, 1)
            ->type_name("[=NAME]");
    app.add_option("--device", options.device, "The drive to use: its index in the list, or its device path")
        ->type_name("INDEX|PATH");
    app.add_flag("--json", options.json, "Print the result as JSON");
    app.add_option("--trace", options.traceFile,
                   "Write every drive command to FILE, one JSON line each (time_ms, cdb, direction, "
                   "length, data, digest, sum16, status, sense)")
        ->type_name("FILE");
    app.set_version_flag("--version", std::string("keluflash-cli ") + KELUFLASH_VERSION,
                         "Print the program's version and end");
    app.footer(SimulatedProfilesHelp());
    // Before any command runs: --simulate without a value names the default machine.
    app.parse_complete_callback([&] {
        options.simulate = simulate->count() > 0;
        if (options.simulate && options.simulateProfile.empty()) {
            options.simulateProfile = "default";
        }
    });

    int exitCode = kExitOk;
    RegisterListCommand(app, options, exitCode);
    RegisterImageCommands(app, options, exitCode);
    RegisterFlashCommands(app, options, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "keluflash-cli: " << e.what() << "\n";
        return kExitFailed;
    }
    return exitCode;
}

// keluflash-cli: the command-line front end for scripts, servers and support.
#include <CLI/CLI.hpp>

#include "app/cli/cli_options.h"

int main(int argc, char** argv) {
    using namespace keluflash::cli;
    CLI::App app{"keluflash-cli: rewrite the firmware of KELU CD/DVD drives from a .kfs image"};
    app.require_subcommand(1);
    CommonOptions options;
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
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return exitCode;
}

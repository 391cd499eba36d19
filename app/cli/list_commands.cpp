// keluflash-cli list: the optical drives the scan found, one per line
// (index, device, identification text, revision), and the drives it could
// not open with the reason and the fix. Drives found and none usable is a
// failure: a script must not take it for "no drive here".
#include <CLI/CLI.hpp>

#include <iostream>
#include <nlohmann/json.hpp>

#include "app/cli/ansi_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/command_output.h"
#include "app/cli/text_escape.h"
#include "app/cli/console_ui.h"
#include "app/cli/drive_setup.h"

namespace keluflash::cli {

namespace {

int RunList(const CommonOptions& options) {
    if (!options.device.empty())
        return ReportFailure(options, ErrorKind::Usage, "--device: list takes no drive, it lists them all");
    ConsoleUi ui(std::cin, std::cerr, ConsoleIsInteractive());
    SetupError error;
    const std::unique_ptr<DriveSetup> setup = DriveSetup::Create(options, ui, error);
    if (!setup) return ReportFailure(options, error.kind, error.message);
    TAtapi& atapi = setup->Atapi();

    if (options.json) {
        nlohmann::json drives = nlohmann::json::array();
        nlohmann::json unavailable = nlohmann::json::array();
        for (const SeenDrive& drive : setup->Drives()) {
            if (drive.tableIndex < 0) {
                unavailable.push_back({{"path", AnsiToUtf8(drive.path)},
                                       {"reason", AnsiToUtf8(drive.failure)},
                                       {"fix", AnsiToUtf8(drive.fix)}});
                continue;
            }
            drives.push_back(setup->DriveJson(drive.tableIndex));
        }
        // Texts come from the drive: bytes that are not UTF-8 are escaped
        // rather than failing the listing.
        nlohmann::json listing{{"drives", drives}, {"unavailable", unavailable}};
        if (const std::string lost = setup->TraceFailure(); !lost.empty())
            listing["trace_error"] = lost;
        setup->ReportReplay(true, listing);
        if (setup->NoneUsable()) return ReportFailure(options, ErrorKind::Drive, setup->NoneUsableText(), listing);
        return ReportSuccess(options, std::move(listing));
    }

    for (const SeenDrive& drive : setup->Drives()) {
        if (drive.tableIndex < 0) {
            std::cout << "-  " << PrintableText(drive.path) << "  " << PrintableText(drive.failure)
                      << (drive.fix.empty() ? "" : ": " + PrintableText(drive.fix)) << "\n";
            continue;
        }
        // The drive list's line: identification text, a blank, the revision.
        const DeviceEntry& entry = atapi.Device(drive.tableIndex);
        std::cout << drive.tableIndex << "  " << PrintableText(drive.path) << "  "
                  << PrintableText(entry.IdentificationText()) << " " << PrintableText(entry.RevisionText()) << "\n";
    }
    if (setup->Drives().empty()) {
        std::cerr << "no optical drive found\n";
    }
    if (const std::string lost = setup->TraceFailure(); !lost.empty())
        std::cerr << "keluflash-cli: " + PrintableText(lost) + "\n";
    nlohmann::json unused;
    setup->ReportReplay(false, unused);
    if (setup->NoneUsable()) {
        // The lines above name each drive with its fix already.
        return ReportFailure(options, ErrorKind::Drive, "none of the optical drives found can be used");
    }
    return ReportSuccess(options, {});
}

}  // namespace

void RegisterListCommand(CLI::App& app, CommonOptions& options, int& exitCode) {
    CLI::App* list = app.add_subcommand("list", "List the optical drives: index, device, identification, revision");
    list->footer("Exit status: 0 listed (also when no drive is found), 1 no drive found can be used or the drives\n"
                 "cannot be looked for (a --trace or replay file that cannot be used), 2 usage.");
    list->callback([&options, &exitCode] { exitCode = RunList(options); });
}

}  // namespace keluflash::cli

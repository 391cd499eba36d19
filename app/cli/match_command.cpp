// keluflash-cli match DIR: which image files of a folder fit the selected
// drive, best fits first, found with the checks Start runs before its first
// write. Nothing that writes is sent: INQUIRY only.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/ansi_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/command_output.h"
#include "app/cli/console_ui.h"
#include "app/cli/drive_setup.h"
#include "app/cli/text_escape.h"
#include "app/form1.h"
#include "app/image_match.h"
#include "app/recording_system_services.h"
#include "app/silent_view.h"

namespace keluflash::cli {
namespace {

constexpr const char* kMatchFooter = R"(Each regular file of DIR (--recursive: and of its sub-folders; symbolic
links are not followed) is validated, opened and checked against the drive
as Start checks it before its first write. Only INQUIRY is sent. One row a
file, best fits first:
  FILE  image INDEX  MODEL  REVISION  FIRMWARE-ID  VERDICT
VERDICT is "fits" with the drive's revision beside the image's, "refused"
with the check's own line, or "not a valid image" with the reason.

--json prints one object: directory, recursive, drive, fits (how many),
rows (each: file, verdict "fits"/"refused"/"invalid", line, image_index,
model, revision, firmware_id, comparison: null when no image was
identified), skipped (each: file, reason). When no file fits it also
carries "error" and "kind".

Exit status: 0 at least one file fits, 1 none does, 2 usage.
)";


std::string VerdictText(const MatchRow& row) {
    switch (row.verdict) {
        case MatchVerdict::Fits:
            return "fits" + (row.preview ? ": " + RevisionText(*row.preview) : std::string());
        case MatchVerdict::Refused: return "refused: " + row.line;
        case MatchVerdict::Invalid: break;
    }
    return "not a valid image: " + row.line;
}

nlohmann::json RowJson(const MatchRow& row) {
    const auto orNull = [&row](nlohmann::json value) { return row.identified ? std::move(value) : nlohmann::json(); };
    return {{"file", AnsiToUtf8(row.file)},
            {"verdict", MatchVerdictName(row.verdict)},
            {"line", AnsiToUtf8(row.line)},
            {"image_index", orNull(row.imageIndex)},
            {"model", orNull(row.model)},
            {"revision", orNull(row.revision)},
            {"firmware_id", orNull(FirmwareIdText(row.firmwareId))},
            {"comparison", row.preview ? nlohmann::json(RevisionChangeName(row.preview->change)) : nlohmann::json()}};
}

int RunMatch(const CommonOptions& commonOptions, const std::string& folder, bool recursive) {
    CommonOptions options = commonOptions;
    options.commandFiles.push_back(folder);
    ConsoleUi ui(std::cin, std::cerr, ConsoleIsInteractive());
    SetupError error;
    const std::unique_ptr<DriveSetup> setup = DriveSetup::Create(options, ui, error);
    if (!setup) return ReportFailure(options, error.kind, error.message);
    std::string why;
    const std::optional<int> index = setup->SelectDevice(options.device, why);
    if (!index) return ReportFailure(options, ErrorKind::Drive, why);

    // A window nobody sees does the checking: the same open and checks as Start.
    SilentView view;
    RecordingSystemServices system;
    TForm1 form(setup->Atapi(), setup->HostClock(), system, view);
    form.SelDeviceChange(*index);
    const std::string drive = setup->DriveName(*index);
    const MatchResult result = MatchFolder(form, folder, recursive);
    if (!result.error.empty()) return ReportFailure(options, ErrorKind::File, result.error);

    const size_t fits = static_cast<size_t>(std::count_if(
        result.rows.begin(), result.rows.end(), [](const MatchRow& row) { return row.verdict == MatchVerdict::Fits; }));
    nlohmann::json answer{{"directory", AnsiToUtf8(folder)},
                          {"recursive", recursive},
                          {"drive", setup->DriveJson(*index)},
                          {"fits", fits}};
    nlohmann::json rows = nlohmann::json::array();
    nlohmann::json skipped = nlohmann::json::array();
    for (const MatchRow& row : result.rows) rows.push_back(RowJson(row));
    for (const SkippedEntry& entry : result.skipped)
        skipped.push_back({{"file", AnsiToUtf8(entry.path)}, {"reason", entry.reason}});
    answer["rows"] = rows;
    answer["skipped"] = skipped;

    if (!options.json) {
        for (const MatchRow& row : result.rows) {
            std::cout << PrintableText(row.file) << "  "
                      << (row.identified ? "image " + std::to_string(row.imageIndex) + "  " +
                                               PrintableText(ModelName(row.model)) + "  " +
                                               PrintableText(row.revision.empty() ? "-" : row.revision) + "  " +
                                               FirmwareIdText(row.firmwareId)
                                         : std::string("-  -  -  -"))
                      << "  " << PrintableText(VerdictText(row)) << "\n";
        }
        for (const SkippedEntry& entry : result.skipped)
            std::cerr << "keluflash-cli: skipped " + PrintableText(entry.path) + ": " + entry.reason + "\n";
        std::cerr << "keluflash-cli: " + std::to_string(result.rows.size()) + " files checked against " +
                         PrintableText(drive) + ", " + std::to_string(fits) + (fits == 1 ? " fits\n" : " fit\n");
    }
    if (const std::string lost = setup->TraceFailure(); !lost.empty()) {
        if (options.json)
            answer["trace_error"] = lost;
        else
            std::cerr << "keluflash-cli: " + PrintableText(lost) + "\n";
    }
    const std::string stopped = setup->ReplayFailure();
    setup->ReportReplay(options.json, answer, stopped);
    if (!stopped.empty()) return ReportFailure(options, ErrorKind::Replay, stopped, answer);
    if (fits == 0)
        return ReportFailure(options, ErrorKind::Refused,
                             "no file in " + folder + " fits " + drive, answer);
    return ReportSuccess(options, std::move(answer));
}

}  // namespace

void RegisterMatchCommand(CLI::App& app, CommonOptions& options, int& exitCode) {
    struct MatchArguments {
        std::string folder;
        bool recursive = false;
    };
    const auto args = std::make_shared<MatchArguments>();
    CLI::App* match = app.add_subcommand(
        "match", "Show which image files in DIR fit the drive, best fits first; writes nothing to the drive");
    match->add_option("DIR", args->folder, "The folder of .kfs files")->required();
    match->add_flag("--recursive,-r", args->recursive, "Look into the sub-folders too (never through a symbolic link)");
    match->footer(kMatchFooter);
    match->callback([&options, &exitCode, args] { exitCode = RunMatch(options, args->folder, args->recursive); });
}

}  // namespace keluflash::cli

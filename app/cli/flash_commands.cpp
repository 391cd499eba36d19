// keluflash-cli flash, verify and dump: the window's update, read-back and the
// flash ranges, with a console view of the window.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/cli/ansi_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/command_output.h"
#include "app/cli/console_system_services.h"
#include "app/cli/console_ui.h"
#include "app/cli/console_view.h"
#include "app/cli/drive_setup.h"
#include "app/cli/file_checks.h"
#include "app/cli/safe_file.h"
#include "app/cli/signal_watch.h"
#include "app/cli/text_escape.h"
#include "app/cli/system_restart.h"
#include "app/cli/terminal_line.h"
#include "app/form1.h"
#include "app/recording_system_services.h"
#include "drive/sim/simulated_machine.h"
#include "flash/read_back.h"
#include "image/image_file.h"
#include "image/image_writer.h"

namespace keluflash::cli {
namespace {

constexpr const char* kExitCodesHelp =
    "Exit codes: 0 success, 1 refused or failed (the message lines say why), 2 usage.\n"
    "With --json: one JSON document on standard output, also on failure (\"error\", \"kind\").";

struct FlashOptions {
    std::string file;
    bool yes = false;
    bool dryRun = false;
    bool reboot = false;
    bool allowDowngrade = false;
    std::string out;
    int banks = 8;
};

// Once a replay stopped, the window's later lines answer commands that were
// never sent; they are left out.
class ReplayStopWatch final : public CommandObserver {
public:
    ReplayStopWatch(const DriveSetup& setup, ConsoleView& view) : m_setup(setup), m_view(view) {}
    void CommandExecuted(const CommandRecord&) override {
        if (m_setup.ReplayStopped()) m_view.EndLines();
    }

private:
    const DriveSetup& m_setup;
    ConsoleView& m_view;
};

// The fields of a flash's answer that say what the drive went through or
// what to do about it.
constexpr const char* kDriveVerdicts[] = {"result", "drive_state", "written", "verification",
                                          "method", "fallback",    "checks",  "summary"};

// Everything one command needs: the console, the drives, the window.
class Session {
public:
    // The steps are drawn whenever standard error is a terminal; the
    // question needs a person at the terminal's keyboard as well.
    explicit Session(const CommonOptions& options)
        : m_options(options),
          m_interactive(ConsoleIsInteractive()),
          m_ui(std::cin, std::cerr, m_interactive),
          m_view(std::cout, *options.errorLine, m_ui, ErrorIsTerminal(), options.json) {}

    // Builds the drives and the window and selects --device; false with the
    // reason kept for Fail (also when no drive was found). A command that
    // reads or writes the flash needs --device when more than one drive can
    // be used: it must never pick one for the user.
    bool Start(SystemServices& system) {
        SetupError error;
        m_setup = DriveSetup::Create(m_options, m_view, error);
        if (!m_setup) {
            m_failure = {error.kind, error.message};
            return false;
        }
        m_setup->WatchCommands(m_view);
        m_replayWatch.emplace(*m_setup, m_view);
        m_setup->WatchCommands(*m_replayWatch);
        m_view.SetClock(m_setup->HostClock());
        if (m_options.exclusive) {
            if (const std::string several = m_setup->UnnamedDriveProblem(m_options.device); !several.empty()) {
                m_failure = {ErrorKind::Usage, several};
                return false;
            }
        }
        std::string reason;
        const std::optional<int> index = m_setup->SelectDevice(m_options.device, reason);
        if (!index) {
            m_failure = {ErrorKind::Drive, reason};
            return false;
        }
        m_form.emplace(m_setup->Atapi(), m_setup->HostClock(), system, m_view);
        m_view.SetForm(*m_form);
        m_form->FormCreate();
        m_form->SelDeviceChange(*index);
        m_index = *index;
        if (m_form->SelDeviceItems().empty()) {
            m_failure = {ErrorKind::Drive, "no optical drive found"};
            return false;
        }
        // Which drive, said before anything is done to it.
        if (!m_options.json) std::cerr << "keluflash-cli: drive " + PrintableText(DriveName()) + "\n";
        return true;
    }

    // The simulated drive behind the selected entry; null for real drives.
    const SimulatedDrive* SimulatedSelection() {
        SimulatedMachine* machine = m_setup->Simulation();
        if (machine == nullptr || m_index < 0 || static_cast<size_t>(m_index) >= machine->DriveCount()) return nullptr;
        return &machine->Drive(static_cast<size_t>(m_index));
    }

    Clock& HostClock() { return m_setup->HostClock(); }
    bool Simulated() { return m_setup && m_setup->Simulation() != nullptr; }
    bool Interactive() const { return m_interactive; }
    TForm1& Form() { return *m_form; }
    ConsoleView& View() { return m_view; }
    // " (CAUSE)" to end a failure's one line with; nothing in text mode when
    // the message lines above already said it: each refusal's line once.
    std::string Because(const std::string& cause) const {
        const std::vector<std::string>& shown = m_view.Lines();
        if (cause.empty() || (!m_options.json && std::find(shown.begin(), shown.end(), cause) != shown.end()))
            return {};
        return " (" + cause + ")";
    }
    std::string DriveName() { return m_setup->DriveName(m_form->SelDeviceIndex()); }
    nlohmann::json DriveJson() { return m_setup->DriveJson(m_form->SelDeviceIndex()); }

    // The replay behind the drives stopped: the command fails as a replay.
    bool ReplayStopped() const { return m_setup && m_setup->ReplayStopped(); }

    // The end of a command that failed: Start's reason, or the one given.
    int Fail() { return Fail(m_failure.kind, m_failure.error); }
    int Fail(ErrorKind kind, const std::string& error, nlohmann::json fields = nlohmann::json::object()) {
        if (ReplayStopped()) return FailReplay(std::move(fields));
        return Report(kind, error, std::move(fields));
    }
    // The end of a command that did its work: the answer in --json, with
    // every message line. A replay that stopped fails it.
    int Succeed(nlohmann::json answer) {
        if (ReplayStopped()) return FailReplay(std::move(answer));
        if (m_setup) m_setup->ReportReplay(m_options.json, answer);
        AddTraceFailure(answer);
        if (m_options.json) answer["messages"] = m_view.Lines();
        if (m_form && !answer.contains("drive")) answer["drive"] = DriveJson();
        return ReportSuccess(m_options, std::move(answer));
    }

private:
    int Report(ErrorKind kind, const std::string& error, nlohmann::json fields) {
        if (m_options.json && m_form) fields["messages"] = m_view.Lines();
        if (m_form && !fields.contains("drive")) fields["drive"] = DriveJson();
        AddTraceFailure(fields);
        if (m_setup) m_setup->ReportReplay(m_options.json, fields, error);
        return ReportFailure(m_options, kind, error, std::move(fields));
    }

    // After the stop the program got no answer to anything it sent, and its
    // steps made what they could of that: a check failed, a block "reached
    // the drive", advice to flash again. None of it is about a drive, so the
    // answer keeps what the recording answered (the image, the drive, the
    // message lines before the stop) and says where the replay left it.
    int FailReplay(nlohmann::json fields) {
        for (const char* verdict : kDriveVerdicts) fields.erase(verdict);
        if (!m_options.json && m_view.LinesLeftOut() > 0)
            std::cerr << "keluflash-cli: " + std::to_string(m_view.LinesLeftOut()) +
                             " later message line(s) left out: they answer commands that were not sent\n";
        return Report(ErrorKind::Replay, m_setup->ReplayFailure(), std::move(fields));
    }

    // A trace that lost lines is said at the end; the command's own result
    // and exit code stay what they are.
    void AddTraceFailure(nlohmann::json& fields) {
        const std::string text = m_setup ? m_setup->TraceFailure() : std::string();
        if (text.empty()) return;
        if (m_options.json)
            fields["trace_error"] = text;
        else
            std::cerr << "keluflash-cli: " + PrintableText(text) + "\n";
    }

    struct Failure {
        ErrorKind kind = ErrorKind::Failed;
        std::string error;
    };
    const CommonOptions& m_options;
    bool m_interactive;
    ConsoleUi m_ui;
    ConsoleView m_view;
    std::optional<ReplayStopWatch> m_replayWatch;  // seen by m_setup's commands
    std::unique_ptr<DriveSetup> m_setup;
    std::optional<TForm1> m_form;
    int m_index = -1;
    Failure m_failure;
};

// The options with the command's own files, which the trace may not be.
CommonOptions WithCommandFiles(const CommonOptions& options, const std::string& file) {
    CommonOptions copy = options;
    copy.commandFiles.push_back(file);
    return copy;
}

// flash, verify and dump: the drive is this program's alone while they run.
CommonOptions ForTheFlash(const CommonOptions& options, const std::string& file) {
    CommonOptions copy = WithCommandFiles(options, file);
    copy.exclusive = true;
    return copy;
}


// How a flash ended, in one line for a person: what it means for the drive,
// from the update's own record of it.
std::string FlashSummary(const UpdateReport& report) {
    if (report.result == UpdateResult::Verified)
        return report.fallback ? "flashed with method B (WRITE BUFFER) after method A failed, and verified; "
                                 "the drive starts its new firmware at the next restart"
                               : std::string(Advice(DriveState::Verified));
    return std::string(Advice(report.state));
}

// The JSON fields every flash answer carries, from the same record.
void AddReport(nlohmann::json& answer, const UpdateReport& report) {
    answer["result"] = UpdateResultName(report.result);
    answer["drive_state"] = DriveStateName(report.state);
    answer["method"] = report.method == DownloadMethod::WriteBuffer    ? nlohmann::json("B")
                       : report.method == DownloadMethod::VendorBlocks ? nlohmann::json("A")
                                                                       : nlohmann::json();
    answer["fallback"] = report.fallback;
    answer["written"] = report.Written();
    answer["verification"] = report.result == UpdateResult::Verified       ? "passed"
                             : report.result == UpdateResult::VerifyFailed ? "failed"
                                                                           : "not-run";
    nlohmann::json checks = nlohmann::json::array();
    for (const CheckVerdict& check : report.checks)
        checks.push_back({{"check", check.name}, {"passed", check.passed}, {"line", AnsiToUtf8(check.line)}});
    answer["checks"] = checks;
    answer["revision"] = RevisionJson(report.revision);
    if (report.blockCount > 0) {
        answer["image"] = {{"size", report.size},
                           {"checksum", report.checksum},
                           {"image_index", report.imageIndex},
                           {"block_count", report.blockCount}};
    }
}

// The question before the first write, asked only after the checks passed:
// the image (file, model, revision, firmware id) and the drive (path,
// identification, revision), as the update's record has them, with what the
// flash will change. An image older than the drive's firmware, or whose
// revision cannot be ordered against it, is named in it, so one answer agrees
// to both.
std::string FlashQuestion(const std::string& file, const std::string& drive, const UpdateReport& report) {
    std::string image = PrintableText(file);
    if (report.model) {
        image += " (" + PrintableText(ModelName(*report.model));
        if (report.revision) image += ", revision " + PrintableText(report.revision->image);
        if (report.firmwareId) image += ", firmware id " + FirmwareIdText(*report.firmwareId);
        image += ")";
    }
    std::string question = "Flash " + image + " into " + PrintableText(drive) + "?";
    if (report.revision) question += " " + PrintableText(RevisionLine(*report.revision)) + ".";
    if (report.revision && report.revision->Downgrade())
        question += " Downgrade the drive?";
    else if (report.revision && report.revision->NeedsAgreement())
        question += " Flash a revision that cannot be ordered against the drive's?";
    return question + " [y/N] ";
}

// What --yes needs besides for an image the update asks about.
std::string AllowDowngradeHint(const RevisionPreview& revision) {
    return revision.Downgrade()
               ? "pass --allow-downgrade to flash an older firmware"
               : "pass --allow-downgrade to flash a firmware whose revision cannot be ordered against the drive's";
}

bool Confirm(Session& session, const CommonOptions& options, const FlashOptions& flash, const UpdateReport& report) {
    if (flash.yes) return true;
    if (!session.Interactive()) return false;
    std::cerr << FlashQuestion(flash.file, session.DriveName(), report);
    std::cerr.flush();
    std::string answer;
    // A signal while the person thinks ends the program at once: nothing
    // was written, and nothing else would notice it.
    const SignalWatch::Asking asking(options.signals);
    if (!std::getline(std::cin, answer)) {
        std::cerr << "\n";  // the prompt's line ends even when the input did
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

int RunFlash(const CommonOptions& commonOptions, const FlashOptions& flash) {
    const CommonOptions options = ForTheFlash(commonOptions, flash.file);
    // Without --reboot nothing restarts, and a simulated machine never
    // restarts the real one.
    RecordingSystemServices recording;
    MachineRestart restart;
    const bool realRestart = flash.reboot && !options.simulate;
    if (realRestart && !MachineRestart::Available())
        return ReportFailure(options, ErrorKind::Usage,
                             "--reboot: this platform has no restart here; restart the machine yourself");
    ConsoleSystemServices system(realRestart ? static_cast<SystemServices&>(restart) : recording, options.signals);
    Session session(options);
    if (!session.Start(system)) return session.Fail();
    TForm1& form = session.Form();
    ConsoleView& view = session.View();
    view.SetQuestionAnswer(flash.reboot ? kIdOk : kIdCancel);
    view.SetDowngradeAnswer(flash.allowDowngrade ? kIdYes : kIdNo);

    form.SetOpenDialogFileName(flash.file);
    form.OpenChosenFile();
    // What the flash would change, among the message lines as the window shows it.
    form.ShowRevisionPreview();
    const nlohmann::json fields{{"file", AnsiToUtf8(flash.file)}, {"drive", session.DriveJson()}};
    // Everything that writes nothing comes first: a refusal never asks.
    const bool agreed = form.CheckUpdate();
    view.FinishSteps(agreed);
    if (!agreed || flash.dryRun) {
        nlohmann::json answer = fields;
        AddReport(answer, form.LastReport());
        answer["result"] = agreed ? "dry-run-ok" : "refused";
        if (!agreed) {
            if (const std::optional<std::string> problem = ImageFileProblem(flash.file))
                return session.Fail(ErrorKind::File, *problem, answer);
            if (flash.dryRun)
                return session.Fail(ErrorKind::Refused, "refused" + session.Because(form.LastReport().cause) +
                                                            "; nothing was written to the drive",
                                    answer);
            answer["summary"] = FlashSummary(form.LastReport());
            return session.Fail(ErrorKind::Refused, FlashSummary(form.LastReport()) + session.Because(form.LastReport().cause),
                                answer);
        }
        if (!options.json && !session.ReplayStopped()) {
            std::cerr << "dry run: the image and the drive agree; nothing was written\n";
            const std::optional<RevisionPreview>& revision = form.LastReport().revision;
            if (revision && revision->NeedsAgreement() && !flash.allowDowngrade)
                std::cerr << (revision->Downgrade() ? "flashing it is a downgrade"
                                                    : "its revision cannot be ordered against the drive's")
                          << ": with --yes it needs --allow-downgrade\n";
        }
        return session.Succeed(answer);
    }
    const UpdateReport checked = form.LastReport();
    if (!Confirm(session, options, flash, checked)) {
        nlohmann::json answer = fields;
        AddReport(answer, checked);
        answer["result"] = "not-confirmed";
        return session.Fail(ErrorKind::Refused,
                            session.Interactive() ? "not confirmed: nothing was written to the drive"
                                                  : "refusing to flash without a terminal to confirm on; pass --yes",
                            answer);
    }
    // A person who agreed to the question that named the downgrade, or the
    // revision that cannot be ordered, agreed to it.
    if (!flash.yes && checked.revision && checked.revision->NeedsAgreement()) view.SetDowngradeAnswer(kIdYes);

    form.BitBtn2Click();
    const UpdateResult result = form.LastUpdateResult();
    view.FinishSteps(result == UpdateResult::Verified);
    if (result == UpdateResult::Verified && flash.reboot && !realRestart && recording.RestartRequests() > 0)
        std::cerr << "simulated drives: the restart was requested, nothing was restarted\n";

    const UpdateReport& report = form.LastReport();
    const std::string summary = FlashSummary(report);
    nlohmann::json answer = fields;
    AddReport(answer, report);
    answer["summary"] = summary;
    int exitCode = kExitOk;
    if (result == UpdateResult::Verified) {
        if (!options.json && !session.ReplayStopped()) std::cerr << summary + "\n";
        exitCode = session.Succeed(answer);
    } else if (const std::optional<std::string> problem = ImageFileProblem(flash.file);
               result == UpdateResult::Refused && !report.Written() && problem) {
        exitCode = session.Fail(ErrorKind::File, "refused, nothing written: " + *problem, answer);
    } else if (!report.checks.empty() && report.checks.back().name == "downgrade" && !report.checks.back().passed) {
        exitCode = session.Fail(ErrorKind::Refused,
                                summary + "; " + AllowDowngradeHint(report.revision.value_or(RevisionPreview{})) +
                                    session.Because(report.cause),
                                answer);
    } else {
        // A failure's one line is the summary with the line that says why.
        exitCode = session.Fail(result == UpdateResult::Refused ? ErrorKind::Refused : ErrorKind::Failed,
                                summary + session.Because(report.cause), answer);
    }
    return exitCode;
}

int RunVerify(const CommonOptions& commonOptions, const FlashOptions& flash) {
    const CommonOptions options = ForTheFlash(commonOptions, flash.file);
    RecordingSystemServices recording;
    Session session(options);
    if (!session.Start(recording)) return session.Fail();
    TForm1& form = session.Form();
    // The open reads the file and picks the image of a multi-image file; the
    // read-back compares the drive with that copy.
    form.SetOpenDialogFileName(flash.file);
    form.OpenChosenFile();
    const bool verified = form.VerifyOpenedImage();
    const bool valid = form.LastReport().result != UpdateResult::Refused;
    session.View().FinishSteps(verified);
    nlohmann::json answer{{"file", AnsiToUtf8(flash.file)}, {"result", verified ? "verified" : "verify-failed"}};
    if (verified) return session.Succeed(answer);
    if (!valid) {
        answer["result"] = "refused";
        if (const std::optional<std::string> problem = ImageFileProblem(flash.file))
            return session.Fail(ErrorKind::File, *problem, answer);
        return session.Fail(ErrorKind::Refused, "the image is not valid" + session.Because(form.LastReport().cause), answer);
    }
    return session.Fail(ErrorKind::Failed, "the drive's flash does not match " + flash.file, answer);
}

int RunDump(const CommonOptions& commonOptions, const FlashOptions& flash) {
    const CommonOptions options = ForTheFlash(commonOptions, flash.out);
    // The file is made before any drive is touched: a name that cannot be
    // written is found at once, and an existing one is never destroyed.
    std::string error;
    std::optional<SafeFileWriter> out = SafeFileWriter::Begin(flash.out, options.force, error);
    if (!out) return ReportFailure(options, ErrorKind::File, error);
    RecordingSystemServices recording;
    Session session(options);
    if (!session.Start(recording)) return session.Fail();
    TForm1& form = session.Form();
    const ImageHeader header;
    const ImageSelection selection;
    const ImageCopy image;
    UpdateReport record;
    const FlashContext context{form.Atapi(), session.HostClock(), session.View(), form, form,
                               header,       selection,              image,          record};
    uint32_t sum = 0;
    uint64_t bytes = 0;
    ReadBackFailure failure;
    session.View().StartReadBack(flash.banks);
    const bool complete = ReadFlashBanks(
        context, flash.banks,
        [&](uint8_t, uint16_t, const uint8_t* data) {
            out->Write(data, kReadBackPiece);
            for (uint32_t i = 0; i < kReadBackPiece; ++i) sum += data[i];
            bytes += kReadBackPiece;
        },
        &failure);
    session.View().FinishSteps(complete);
    if (!complete) {
        char line[96];
        std::snprintf(line, sizeof line, "reading bank %d at 0x%x failed (status %d, sense %x : %x : %x)",
                      int{failure.bank}, unsigned{failure.address}, int{failure.status}, unsigned{failure.sense.key},
                      unsigned{failure.sense.asc}, unsigned{failure.sense.ascq});
        return session.Fail(ErrorKind::Failed, std::string(line) + "; " + flash.out + " was not written");
    }
    if (!out->Commit(error)) return session.Fail(ErrorKind::File, error);
    char line[96];
    std::snprintf(line, sizeof line, "%llu bytes from %d banks, 16-bit sum 0x%04x",
                  static_cast<unsigned long long>(bytes), flash.banks, static_cast<unsigned>(sum & 0xFFFF));
    if (!options.json) std::cout << PrintableText(flash.out) << ": " << line << "\n";
    return session.Succeed({{"file", AnsiToUtf8(flash.out)}, {"banks", flash.banks}, {"bytes", bytes}, {"checksum", sum & 0xFFFF}});
}

// A demo image for a simulated drive only: an image made to fit a real drive
// from its own answers would pass every check and could brick it.
int RunDemoImage(const CommonOptions& commonOptions, const FlashOptions& flash) {
    const CommonOptions options = WithCommandFiles(commonOptions, flash.out);
    if (!options.simulate)
        return ReportFailure(options, ErrorKind::Usage,
                             "demo-image makes images for simulated drives only; pass --simulate or --simulate=NAME");
    std::string error;
    std::optional<SafeFileWriter> out = SafeFileWriter::Begin(flash.out, options.force, error);
    if (!out) return ReportFailure(options, ErrorKind::File, error);
    RecordingSystemServices recording;
    Session session(options);
    if (!session.Start(recording)) return session.Fail();
    const SimulatedDrive* drive = session.SimulatedSelection();
    if (drive == nullptr) return session.Fail(ErrorKind::Drive, "no simulated drive to make an image for");
    const SimulatedDriveConfig& identity = drive->Config();
    DemoFirmwareRecipe recipe;
    recipe.vendor = identity.vendor;
    recipe.product = identity.product;
    recipe.revision = identity.revision;
    recipe.firmwareId = identity.firmwareId;
    const ImageWriteResult built = BuildDemoFirmware(recipe);
    if (!built.ok) return session.Fail(ErrorKind::Failed, built.error);
    out->Write(built.bytes.data(), built.bytes.size());
    if (!out->Commit(error)) return session.Fail(ErrorKind::File, error);
    char line[160];
    std::snprintf(line, sizeof line, "demo firmware for %s %s %s (firmware id %02X%02X): %d blocks, checksum 0x%04x",
                  recipe.vendor.c_str(), recipe.product.c_str(), recipe.revision.c_str(), recipe.firmwareId[0],
                  recipe.firmwareId[1], built.header.BlockCount(), built.header.Checksum());
    if (!options.json) std::cout << PrintableText(flash.out) << ": " << line << "\n";
    return session.Succeed(
        {{"file", AnsiToUtf8(flash.out)}, {"block_count", built.header.BlockCount()}, {"checksum", built.header.Checksum()}});
}

}  // namespace

void RegisterFlashCommands(CLI::App& app, CommonOptions& options, int& exitCode) {
    // Held by the callbacks, which run after parsing.
    const auto flash = std::make_shared<FlashOptions>();

    CLI::App* flashCommand = app.add_subcommand(
        "flash", "Flash FILE into the drive: validation, the checks, patch area, download, verification");
    flashCommand->add_option("FILE", flash->file, "The .kfs image")->required();
    flashCommand->add_flag("--yes,-y", flash->yes, "Do not ask for confirmation (needed without a terminal)");
    flashCommand->add_flag("--dry-run", flash->dryRun,
                           "Only validate the file and run the checks against the drive; write nothing");
    flashCommand->add_flag("--reboot", flash->reboot,
                           "Restart the machine after a verified flash (never with --simulate)");
    flashCommand->add_flag("--allow-downgrade", flash->allowDowngrade,
                           "Flash an image whose revision is older than the drive's or cannot be ordered "
                           "against it, such as 1.0A (with --yes; otherwise the question asks)");
    flashCommand->footer(kExitCodesHelp);
    flashCommand->callback([&options, &exitCode, flash] { exitCode = RunFlash(options, *flash); });

    CLI::App* verify = app.add_subcommand("verify", "Read the drive's flash back and compare it with FILE's checksum");
    verify->add_option("FILE", flash->file, "The .kfs image that was flashed")->required();
    verify->footer(kExitCodesHelp);
    verify->callback([&options, &exitCode, flash] { exitCode = RunVerify(options, *flash); });

    CLI::App* dump = app.add_subcommand(
        "dump", "Write the flash ranges the verification reads (banks 1 and 2 up to 0xF000) to OUT");
    dump->add_option("OUT", flash->out, "The file to write")->required();
    dump->add_option("--banks", flash->banks, "How many banks to read, from bank 0")
        ->default_val(8)
        ->check(CLI::Range(1, 14));
    dump->footer(kExitCodesHelp);
    dump->callback([&options, &exitCode, flash] { exitCode = RunDump(options, *flash); });

    CLI::App* demoImage = app.add_subcommand(
        "demo-image", "Write a demo firmware image that fits the selected simulated drive (--simulate only)");
    demoImage->add_option("OUT", flash->out, "The .kfs file to write")->required();
    demoImage->footer(kExitCodesHelp);
    demoImage->callback([&options, &exitCode, flash] { exitCode = RunDemoImage(options, *flash); });
}

}  // namespace keluflash::cli

// keluflash-cli flash, verify and dump: the window's update, read-back and the
// flash ranges, with a console view of the window.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/cli/ansi_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/console_ui.h"
#include "app/cli/console_view.h"
#include "app/cli/drive_setup.h"
#include "app/cli/system_restart.h"
#include "app/form1.h"
#include "app/recording_system_services.h"
#include "drive/sim/simulated_machine.h"
#include "flash/read_back.h"
#include "image/image_file.h"
#include "image/image_writer.h"

namespace keluflash::cli {
namespace {

constexpr const char* kExitCodesHelp =
    "Exit codes: 0 success, 1 refused or failed (the message lines say why), 2 usage.";

struct FlashOptions {
    std::string file;
    bool yes = false;
    bool dryRun = false;
    bool reboot = false;
    std::string out;
    int banks = 8;
};

// Everything one command needs: the console, the drives, the window.
class Session {
public:
    explicit Session(const CommonOptions& options)
        : m_options(options),
          m_interactive(ConsoleIsInteractive()),
          m_ui(std::cin, std::cerr, m_interactive),
          m_view(std::cout, std::cerr, m_ui, m_interactive, options.json) {}

    // Builds the drives and the window and selects --device; false after
    // saying why on standard error (also when no drive was found).
    bool Start(SystemServices& system) {
        SetupError error;
        m_setup = DriveSetup::Create(m_options, m_view, error);
        if (!m_setup) {
            std::cerr << error.message << "\n";
            m_exitCode = error.exitCode;
            return false;
        }
        std::string reason;
        const std::optional<int> index = m_setup->SelectDevice(m_options.device, reason);
        if (!index) {
            std::cerr << reason << "\n";
            m_exitCode = kExitFailed;
            return false;
        }
        m_form.emplace(m_setup->Atapi(), m_setup->HostClock(), system, m_view);
        m_view.SetForm(*m_form);
        m_form->FormCreate();
        m_form->SelDeviceChange(*index);
        m_index = *index;
        if (m_form->SelDeviceItems().empty()) {
            std::cerr << "no optical drive found\n";
            m_exitCode = kExitFailed;
            return false;
        }
        return true;
    }

    // The simulated drive behind the selected entry; null for real drives.
    const SimulatedDrive* SimulatedSelection() {
        SimulatedMachine* machine = m_setup->Simulation();
        if (machine == nullptr || m_index < 0 || static_cast<size_t>(m_index) >= machine->DriveCount()) return nullptr;
        return &machine->Drive(static_cast<size_t>(m_index));
    }

    int ExitCode() const { return m_exitCode; }
    Clock& HostClock() { return m_setup->HostClock(); }
    bool Simulated() { return m_setup && m_setup->Simulation() != nullptr; }
    bool Interactive() const { return m_interactive; }
    TForm1& Form() { return *m_form; }
    ConsoleView& View() { return m_view; }
    std::string DriveName() {
        const int index = m_form->SelDeviceIndex();
        return m_setup->DevicePath(index) + " (" + m_form->SelDeviceItems().at(static_cast<size_t>(index)) + ")";
    }

    // The answer in --json: the result and every message line.
    void PrintJson(nlohmann::json answer) {
        answer["messages"] = m_view.Lines();
        std::cout << answer.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    }

private:
    const CommonOptions& m_options;
    bool m_interactive;
    ConsoleUi m_ui;
    ConsoleView m_view;
    std::unique_ptr<DriveSetup> m_setup;
    std::optional<TForm1> m_form;
    int m_index = -1;
    int m_exitCode = kExitOk;
};

const char* ResultName(UpdateResult result) {
    switch (result) {
        case UpdateResult::Verified: return "verified";
        case UpdateResult::VerifyFailed: return "verify-failed";
        case UpdateResult::FlashFailed: return "flash-failed";
        case UpdateResult::Refused: return "refused";
        case UpdateResult::None: break;
    }
    return "not-started";
}

bool Confirm(Session& session, const FlashOptions& flash) {
    if (flash.yes) return true;
    if (!session.Interactive()) {
        std::cerr << "refusing to flash without a terminal to confirm on; pass --yes\n";
        return false;
    }
    std::cerr << "Flash " << flash.file << " into " << session.DriveName() << "? [y/N] ";
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

int RunFlash(const CommonOptions& options, const FlashOptions& flash) {
    // Without --reboot nothing restarts, and a simulated machine never
    // restarts the real one.
    RecordingSystemServices recording;
    MachineRestart restart;
    const bool realRestart = flash.reboot && !options.simulate;
    if (realRestart && !MachineRestart::Available()) {
        std::cerr << "--reboot: this platform has no restart here; restart the machine yourself\n";
        return kExitUsage;
    }
    Session session(options);
    if (!session.Start(realRestart ? static_cast<SystemServices&>(restart) : recording)) return session.ExitCode();
    TForm1& form = session.Form();
    session.View().SetQuestionAnswer(flash.reboot ? kIdOk : kIdCancel);

    form.SetOpenDialogFileName(flash.file);
    form.OpenChosenFile();
    if (flash.dryRun) {
        const bool agreed = form.CheckUpdate();
        if (options.json) {
            session.PrintJson(
                {{"result", agreed ? "dry-run-ok" : "refused"}, {"file", AnsiToUtf8(flash.file)}});
        } else if (agreed) {
            std::cerr << "dry run: the image and the drive agree; nothing was written\n";
        }
        return agreed ? kExitOk : kExitFailed;
    }
    if (!Confirm(session, flash)) return kExitFailed;

    form.BitBtn2Click();
    session.View().FinishProgress();
    const UpdateResult result = form.LastUpdateResult();
    if (result == UpdateResult::Verified && flash.reboot && !realRestart && recording.RestartRequests() > 0)
        std::cerr << "simulated drives: the restart was requested, nothing was restarted\n";
    if (options.json) session.PrintJson({{"result", ResultName(result)}, {"file", AnsiToUtf8(flash.file)}});
    return result == UpdateResult::Verified ? kExitOk : kExitFailed;
}

int RunVerify(const CommonOptions& options, const FlashOptions& flash) {
    RecordingSystemServices recording;
    Session session(options);
    if (!session.Start(recording)) return session.ExitCode();
    TForm1& form = session.Form();
    // The open picks the image of a multi-image file; the validation reloads
    // the header and tests the file as Start does.
    form.SetOpenDialogFileName(flash.file);
    form.OpenChosenFile();
    ImageHeader header;
    bool verified = false;
    if (ValidateImageFile(flash.file, header, form)) {
        const ImageSelection selection = form.Selection();
        const FlashContext context{form.Atapi(), session.HostClock(), session.View(), form, form,
                                   header,       selection,              flash.file};
        verified = VerifyFlash(context);
        if (verified) form.AddMessage("OK:Verify ok!!");
    }
    session.View().FinishProgress();
    if (options.json)
        session.PrintJson({{"result", verified ? "verified" : "verify-failed"}, {"file", AnsiToUtf8(flash.file)}});
    return verified ? kExitOk : kExitFailed;
}

int RunDump(const CommonOptions& options, const FlashOptions& flash) {
    RecordingSystemServices recording;
    Session session(options);
    if (!session.Start(recording)) return session.ExitCode();
    TForm1& form = session.Form();
    std::ofstream out(flash.out, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::cerr << "cannot write " << flash.out << "\n";
        return kExitFailed;
    }
    const ImageHeader header;
    const ImageSelection selection;
    const FlashContext context{form.Atapi(), session.HostClock(), session.View(), form, form,
                               header,       selection,              flash.out};
    uint32_t sum = 0;
    uint64_t bytes = 0;
    ReadBackFailure failure;
    const bool complete = ReadFlashBanks(
        context, flash.banks,
        [&](uint8_t, uint16_t, const uint8_t* data) {
            out.write(reinterpret_cast<const char*>(data), kReadBackPiece);
            for (uint32_t i = 0; i < kReadBackPiece; ++i) sum += data[i];
            bytes += kReadBackPiece;
        },
        &failure);
    session.View().FinishProgress();
    out.close();
    if (!complete) {
        std::cerr << "reading bank " << int{failure.bank} << " at 0x" << std::hex << failure.address << std::dec
                  << " failed (status " << int{failure.status} << ")\n";
        return kExitFailed;
    }
    if (!out) {
        std::cerr << "cannot write " << flash.out << "\n";
        return kExitFailed;
    }
    char line[96];
    std::snprintf(line, sizeof line, "%llu bytes from %d banks, 16-bit sum 0x%04x",
                  static_cast<unsigned long long>(bytes), flash.banks, static_cast<unsigned>(sum & 0xFFFF));
    if (options.json) {
        session.PrintJson(
            {{"file", AnsiToUtf8(flash.out)}, {"banks", flash.banks}, {"bytes", bytes}, {"sum", sum & 0xFFFF}});
    } else {
        std::cout << flash.out << ": " << line << "\n";
    }
    return kExitOk;
}

// A demo image for a simulated drive only: an image made to fit a real drive
// from its own answers would pass every check and could brick it.
int RunDemoImage(const CommonOptions& options, const FlashOptions& flash) {
    if (!options.simulate) {
        std::cerr << "demo-image makes images for simulated drives only; pass --simulate[=NAME]\n";
        return kExitUsage;
    }
    RecordingSystemServices recording;
    Session session(options);
    if (!session.Start(recording)) return session.ExitCode();
    const SimulatedDrive* drive = session.SimulatedSelection();
    if (drive == nullptr) {
        std::cerr << "no simulated drive to make an image for\n";
        return kExitFailed;
    }
    const SimulatedDriveConfig& identity = drive->Config();
    DemoFirmwareRecipe recipe;
    recipe.vendor = identity.vendor;
    recipe.product = identity.product;
    recipe.revision = identity.revision;
    recipe.firmwareId = identity.firmwareId;
    const ImageWriteResult built = BuildDemoFirmware(recipe);
    std::string error;
    if (!built.ok || !SaveImageFile(flash.out, built.bytes, error)) {
        std::cerr << (built.ok ? error : built.error) << "\n";
        return kExitFailed;
    }
    char line[160];
    std::snprintf(line, sizeof line, "demo firmware for %s %s %s (firmware id %02X %02X): %d blocks, checksum 0x%04x",
                  recipe.vendor.c_str(), recipe.product.c_str(), recipe.revision.c_str(), recipe.firmwareId[0],
                  recipe.firmwareId[1], built.header.BlockCount(), built.header.Checksum());
    if (options.json) {
        session.PrintJson({{"file", AnsiToUtf8(flash.out)},
                           {"blocks", built.header.BlockCount()},
                           {"checksum", built.header.Checksum()}});
    } else {
        std::cout << flash.out << ": " << line << "\n";
    }
    return kExitOk;
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

#include "flash/update.h"

#include <array>

#include "flash/compatibility_checks.h"
#include "flash/download.h"
#include "flash/message_format.h"
#include "flash/image_preflight.h"
#include "flash/patch_sync.h"
#include "flash/read_back.h"
#include "image/image_file.h"

namespace keluflash {
namespace {

constexpr size_t kDriveTextLength = 24;
constexpr size_t kQueryModeBufferSize = 20;

}  // namespace

FirmwareUpdate::FirmwareUpdate(const UpdatePorts& ports, const OpenedImage& image, UpdateTarget target)
    : m_ports(ports),
      m_lines(ports.lines),
      m_copy(image.copy),
      m_selection(image.selection),
      m_modelText(image.modelText),
      m_target(std::move(target)) {
    m_report.file = m_copy.FileName();
    m_report.size = m_copy.FileSize();
    m_report.imageIndex = m_selection.ImageIndex;
    if (m_selection.identified) {
        m_report.model = m_modelText;
        m_report.firmwareId = m_selection.FirmwareId;
    }
    if (m_target.selected) {
        m_report.driveText = m_target.driveText;
        m_report.driveRevision = m_target.revision;
    }
    if (m_target.selected && m_selection.identified)
        m_report.revision = PreviewRevisions(m_target.revision, m_modelText);
}

FlashContext FirmwareUpdate::Context() {
    return FlashContext{m_ports.atapi, m_ports.clock, m_ports.ui, m_lines, m_ports.bar,
                        m_header,      m_selection,   m_copy,     m_report};
}

void FirmwareUpdate::Finish(UpdateResult result, const std::string& cause) {
    m_report.Fail(result, cause);
    // A failure that may have touched the drive ends with what it means for
    // the drive; a refusal's own line is its last word.
    if (result == UpdateResult::FlashFailed || result == UpdateResult::VerifyFailed)
        m_lines.AddMessage(AdviceLine(m_report.state));
}

bool FirmwareUpdate::Validate() {
    m_report.result = UpdateResult::Refused;
    // The bytes the checks pass are the bytes that are flashed: a file that
    // changed since the open is not the file that was identified.
    if (m_copy.Loaded() && !m_copy.SameAsOnDisk()) {
        m_lines.AddMessage(kMessageFileChanged);
        m_report.Fail(UpdateResult::Refused, kMessageFileChanged);
        return false;
    }
    if (!ValidateImageFile(m_copy, m_header, m_lines)) {
        m_report.Fail(UpdateResult::Refused, m_lines.Last());
        return false;
    }
    m_report.checksum = TriggerChecksum(m_header, m_selection);
    m_report.blockCount = m_header.BlockCount();
    return true;
}

void FirmwareUpdate::Begin() {
    m_ports.holds.UpdateBegins();
    m_updateHeld = true;
    m_ports.atapi.StopPlayScan();
    m_ports.atapi.StopUnit();
}

void FirmwareUpdate::EndUpdateHold() {
    m_driveHold.reset();
    if (!m_updateHeld) return;
    m_updateHeld = false;
    m_ports.holds.UpdateEnds();
}

bool FirmwareUpdate::Check(const char* name, bool passed) {
    m_report.checks.push_back(CheckVerdict{name, passed, passed ? std::string() : m_lines.Last()});
    if (!passed) m_report.Fail(UpdateResult::Refused, m_lines.Last());
    return passed;
}

bool FirmwareUpdate::RunChecks() {
    m_ports.bar.PhaseStarted(FlashPhase::Checks);
    if (!m_target.selected) {
        m_lines.AddMessage(kMessageNoDriveSelected);
        return Check("drive selected", false);
    }
    const std::string driveText = m_target.driveText.substr(0, kDriveTextLength);
    return Check("drive family", CheckDriveFamily(m_ports.atapi, m_selection.FirmwareId, m_lines)) &&
           Check("vendor", CheckVendor(driveText, m_lines)) &&
           Check("model", CheckSupportedModel(m_target.listText, m_lines)) &&
           Check("model match", CheckModelMatch(m_modelText, driveText, m_lines));
}

bool FirmwareUpdate::LastLook() { return Check("image", CheckImageBeforeWrites(Context())); }

bool FirmwareUpdate::DowngradeAgreed() {
    // No preview is no order either (the default preview cannot be ordered).
    const RevisionPreview revision = m_report.revision.value_or(RevisionPreview{});
    if (!revision.NeedsAgreement()) return true;
    // Asked once, after the checks passed and before anything is written;
    // every answer but Yes keeps the drive's firmware.
    const int answer = m_ports.ui.ShowMessage(DowngradeQuestion(revision), "Warning",
                                              kMbYesNo | kMbIconWarning | kMbDefButton2);
    const bool agreed = answer == kIdYes;
    if (!agreed) m_lines.AddMessage(DowngradeRefusedLine(revision));
    return Check("downgrade", agreed);
}

bool FirmwareUpdate::Check() {
    return Validate() && RunChecks() && LastLook();
}

void FirmwareUpdate::Run() {
    if (RunChecks() && LastLook() && DowngradeAgreed() && HoldDrive() && WriteDrive()) {
        m_lines.SetProgress(100);
        m_lines.AddMessage("Ok:Flash Complete!!");
        if (VerifyFlash(Context())) {
            m_report.Reach(DriveState::Verified);
            m_report.result = UpdateResult::Verified;
            m_lines.AddMessage("OK:Verify ok!!");
        } else {
            Finish(UpdateResult::VerifyFailed, m_lines.Last());
        }
    }
    EndUpdateHold();
}

bool FirmwareUpdate::Verify() {
    if (!Validate()) return false;
    m_report.Reach(DriveState::DriveReady);
    if (!VerifyFlash(Context())) {
        m_report.Fail(UpdateResult::VerifyFailed, m_lines.Last());
        return false;
    }
    m_report.Reach(DriveState::Verified);
    m_report.result = UpdateResult::Verified;
    m_lines.AddMessage("OK:Verify ok!!");
    return true;
}

// From the first write to the end of the update no other program may use the
// drive (on Windows NT its volume is locked, as disc-writing programs do). A
// drive another program holds is refused with nothing written; a drive with
// no disc has nothing to lock and goes on.
bool FirmwareUpdate::HoldDrive() {
    const DriveHold& hold = m_driveHold.emplace(m_ports.atapi).Hold();
    if (hold.state != DriveHold::State::Refused) return true;
    std::string line = ErrLine(hold.cause + " (" + hold.systemText + ")");
    if (!hold.fix.empty()) line += ": " + hold.fix;
    line += "!!";
    m_lines.AddMessage(line);
    m_report.Fail(UpdateResult::Refused, line);
    return false;
}

bool FirmwareUpdate::WriteDrive() {
    // From the patch area's first possible write to the end of the ready
    // wait nothing may end the program.
    m_ports.holds.DriveWriteBegins();
    m_ports.bar.PhaseStarted(FlashPhase::PatchArea);
    bool flashed = false;
    const bool synced = SyncPatchArea(Context());
    if (!synced) {
        Finish(m_report.Written() ? UpdateResult::FlashFailed : UpdateResult::Refused, m_lines.Last());
    } else {
        flashed = FlashImage();
        if (!flashed) Finish(UpdateResult::FlashFailed, m_lines.Last());
    }
    m_ports.holds.DriveWriteEnds();
    return flashed;
}

bool FirmwareUpdate::FlashImage() {
    m_lines.SetProgress(0);
    m_ports.bar.SetProgressRange(0, 100);
    m_lines.SetProgress(20);
    m_lines.AddMessage("Flashing ..");
    DownloadFailure failure = DownloadFailure::None;
    m_report.method = DownloadMethod::VendorBlocks;
    if (DownloadMethodA(Context(), &failure)) return true;
    // Only a drive that refused method A may get method B: after a trigger
    // it may be programming, and without an answer nothing more can help.
    if (failure != DownloadFailure::Refused) return false;
    if (QueryMethodBSupport() == 0) {
        const CommandResult& result = m_ports.atapi.LastResult();
        switch (result.Verdict()) {
            case CommandVerdict::Answered:
                m_lines.AddMessage("Err:The firmware is not support this device!!(7)");
                break;
            case CommandVerdict::NotSent:
                m_lines.AddMessage("Err:The mode query was not sent (" + NoAnswerCause(result) + ").");
                break;
            case CommandVerdict::NoAnswer:
            case CommandVerdict::SystemError:
            case CommandVerdict::DriveGone:
                m_lines.AddMessage("Err:The drive did not answer the mode query (" + NoAnswerCause(result) + ").");
                break;
        }
        return false;
    }
    m_report.method = DownloadMethod::WriteBuffer;
    m_report.fallback = true;
    if (DownloadMethodB(Context(), &failure)) return true;
    m_lines.AddMessage("Err:Flash Fail!!");
    return false;
}

uint8_t FirmwareUpdate::QueryMethodBSupport() {
    std::array<uint8_t, kQueryModeBufferSize> answer{};
    TAtapi& atapi = m_ports.atapi;
    if (atapi.VendorQueryMode(answer.data()) == kStatusGood) return answer[0];
    // A query that never went out is not asked again: nothing would go.
    if (atapi.LastResult().Verdict() == CommandVerdict::NotSent) return 0;
    if (atapi.VendorQueryMode(answer.data()) == kStatusGood) return answer[0];
    return 0;
}

}  // namespace keluflash

#include "app/form1.h"

#include <algorithm>

#include "app/restart_offer.h"
#include "app/unusable_drives.h"
#include "flash/compatibility_checks.h"
#include "image/image_file.h"

namespace keluflash {
namespace {

// Marks a handler as running for as long as it runs.
class HandlerScope {
public:
    explicit HandlerScope(bool& running) : m_running(running) { m_running = true; }
    ~HandlerScope() { m_running = false; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    bool& m_running;
};

}  // namespace

TForm1::TForm1(TAtapi& atapi, Clock& clock, SystemServices& system, View& view)
    : m_atapi(atapi), m_clock(clock), m_system(system), m_view(view) {
    // The drive-access object has already selected entry 0, which is item 0.
    for (int i = 0; i < m_atapi.DeviceCount(); ++i) {
        const DeviceEntry& entry = m_atapi.Device(i);
        m_selDeviceItems.push_back(entry.IdentificationText() + " " + entry.RevisionText());
    }
    if (!m_selDeviceItems.empty()) m_selDeviceIndex = 0;
    m_statusPanelText = m_selDeviceIndex >= 0 ? m_selDeviceItems[0] : std::string();
    if (m_statusPanelText.empty()) m_bitBtn2Enabled = false;
}

void TForm1::FormCreate() {
    m_caption = kWindowCaption;
    m_view.CaptionChanged();
    // A drive that was found but cannot be used is said, with the fix, rather
    // than left out of the list without a word.
    for (const std::string& line : UnusableDriveLines(m_atapi.DriveTransport())) AddMessage(line);
}

void TForm1::SelDeviceChange(int index) {
    if (m_handlerRunning || !m_selDeviceEnabled || index < 0 || index >= static_cast<int>(m_selDeviceItems.size())) return;
    m_atapi.SelectDevice(m_atapi.Device(index));
    m_selDeviceIndex = index;
    m_statusPanelText = m_selDeviceItems[static_cast<size_t>(index)];
    // Picking a drive never enables Start.
    if (m_statusPanelText.empty()) m_bitBtn2Enabled = false;
    m_view.ControlsChanged();
    ShowRevisionPreview();
}

void TForm1::BitBtn1Click() {
    if (m_handlerRunning || !m_bitBtn1Enabled || m_updating) return;
    const HandlerScope scope(m_handlerRunning);
    std::string fileName = m_openDialogFileName;
    if (!m_view.ExecuteOpenDialog(fileName)) return;
    m_openDialogFileName = fileName;
    OpenChosenFile();
    ShowRevisionPreview();
}

void TForm1::OpenChosenFile() {
    if (m_updating) return;
    m_opened.Load(m_openDialogFileName);
    OpenImageFile(
        m_opened, m_header, m_selection, m_edit1,
        [this](const std::array<uint8_t, 2>& firmwareId) { return CheckFirmwareId(firmwareId); }, *this);
    m_view.Edit1Changed();
}

std::optional<RevisionPreview> TForm1::PreviewRevision() const {
    const UpdateTarget target = Target();
    if (!target.selected || !m_selection.identified) return std::nullopt;
    return PreviewRevisions(target.revision, m_edit1);
}

// What flashing would change, said whenever the drive or the image changes.
void TForm1::ShowRevisionPreview() {
    if (const std::optional<RevisionPreview> preview = PreviewRevision()) AddMessage(RevisionLine(*preview));
}

void TForm1::BitBtn2Click() {
    // A message box or a wait inside a running handler must not start a
    // second update inside the first.
    if (m_handlerRunning || !m_bitBtn2Enabled || m_updating) return;
    const HandlerScope scope(m_handlerRunning);
    m_selDeviceEnabled = false;
    m_view.ControlsChanged();
    m_report = UpdateReport{};
    m_report.result = UpdateResult::Refused;
    // The two early ends give the drive list back: the operator can pick
    // another drive before the next Start.
    if (m_openDialogFileName.empty()) {
        AddMessage("Err:No Firmware to upgrade!!");
        m_report.cause = "Err:No Firmware to upgrade!!";
        EnableSelDevice();
        return;
    }
    PhaseStarted(FlashPhase::Checks);
    SetProgress(10);
    FirmwareUpdate update(Ports(), Opened(), Target());
    if (!update.Validate()) {
        m_report = update.Report();
        EnableSelDevice();
        return;
    }
    SetProgress(20);
    // The machine neither sleeps nor shuts down from here to the end of the
    // verification.
    update.Begin();
    // Open is disabled too: an open would replace the bytes being flashed.
    m_bitBtn1Enabled = m_bitBtn2Enabled = m_bitBtn3Enabled = false;
    m_view.ControlsChanged();
    m_updating = true;
    update.Run();
    m_report = update.Report();
    // The update has released its holds: a held shutdown lock would stand
    // in the restart's way.
    if (m_report.result == UpdateResult::Verified) OfferRestart(m_view, m_system);
    // The panel shows the drive's line again.
    m_statusPanelText = m_selDeviceIndex >= 0 ? m_selDeviceItems.at(static_cast<size_t>(m_selDeviceIndex)) : "";
    m_closeDeferralSaid = false;
    m_selDeviceEnabled = true;
    m_view.ControlsChanged();
    m_updating = false;
    m_bitBtn1Enabled = m_bitBtn2Enabled = m_bitBtn3Enabled = true;
    m_view.ControlsChanged();
}

void TForm1::EnableSelDevice() {
    m_selDeviceEnabled = true;
    m_view.ControlsChanged();
}

void TForm1::BitBtn3Click() {
    if (m_handlerRunning || !m_bitBtn3Enabled) return;
    m_view.CloseWindow();
}

void TForm1::PhaseStarted(FlashPhase phase) {
    m_view.PhaseStarted(phase);
    if (!m_updating) return;
    switch (phase) {
        case FlashPhase::Checks: return;
        case FlashPhase::PatchArea: m_statusPanelText = "Copying the drive's patch area"; break;
        case FlashPhase::DownloadMethodA: m_statusPanelText = "Writing the firmware (vendor blocks)"; break;
        case FlashPhase::DownloadMethodB: m_statusPanelText = "Writing the firmware (WRITE BUFFER)"; break;
        case FlashPhase::Programming: m_statusPanelText = "Telling the drive to program"; break;
        case FlashPhase::Verification: m_statusPanelText = "Reading the flash back"; break;
    }
    m_view.ControlsChanged();
}

void TForm1::WaitingForDrive(uint32_t elapsedSeconds, uint32_t limitSeconds) {
    if (!m_updating) return;
    m_statusPanelText = "Waiting for the drive: " + std::to_string(elapsedSeconds) + " of " +
                        std::to_string(limitSeconds) + " s";
    m_view.ControlsChanged();
}

void TForm1::CloseDeferred() {
    if (!m_updating || m_closeDeferralSaid) return;
    m_closeDeferralSaid = true;
    AddMessage("The window closes when the update has ended.");
}

void TForm1::AddMessage(std::string_view text) {
    m_messages.emplace_back(text);
    m_view.MessageAdded(m_messages.back());
}

void TForm1::SetProgress(int value) { SetProgressPosition(value); }

void TForm1::SetProgressRange(int min, int max) {
    m_progress.min = min;
    m_progress.max = std::max(min, max);
    m_progress.position = std::clamp(m_progress.position, m_progress.min, m_progress.max);
    m_view.ProgressChanged();
}

void TForm1::SetProgressPosition(int position) {
    m_progress.position = std::clamp(position, m_progress.min, m_progress.max);
    m_view.ProgressChanged();
}

UpdatePorts TForm1::Ports() { return UpdatePorts{m_atapi, m_clock, m_view, *this, *this, m_system}; }

OpenedImage TForm1::Opened() const { return OpenedImage{m_opened, m_selection, m_edit1}; }

UpdateTarget TForm1::Target() const {
    UpdateTarget target;
    target.selected = m_selDeviceIndex >= 0 && m_selDeviceIndex < m_atapi.DeviceCount();
    if (target.selected) {
        target.driveText = m_atapi.Device(m_selDeviceIndex).IdentificationText();
        target.listText = m_selDeviceItems.at(static_cast<size_t>(m_selDeviceIndex));
        target.revision = m_atapi.Device(m_selDeviceIndex).RevisionText();
    }
    return target;
}

bool TForm1::CheckUpdate() {
    m_report = UpdateReport{};
    m_report.result = UpdateResult::Refused;
    if (m_openDialogFileName.empty()) {
        AddMessage("Err:No Firmware to upgrade!!");
        m_report.cause = "Err:No Firmware to upgrade!!";
        return false;
    }
    PhaseStarted(FlashPhase::Checks);
    FirmwareUpdate update(Ports(), Opened(), Target());
    const bool agreed = update.Check();
    m_report = update.Report();
    return agreed;
}

bool TForm1::VerifyOpenedImage() {
    FirmwareUpdate update(Ports(), Opened(), Target());
    const bool verified = update.Verify();
    m_report = update.Report();
    return verified;
}

bool TForm1::DriveSelected() {
    if (m_selDeviceIndex >= 0 && m_selDeviceIndex < m_atapi.DeviceCount()) return true;
    AddMessage(kMessageNoDriveSelected);
    return false;
}

bool TForm1::CheckFirmwareId(const std::array<uint8_t, 2>& firmwareId) {
    return DriveSelected() && CheckFirmwareIdBytes(m_atapi, firmwareId, *this);
}

}  // namespace keluflash

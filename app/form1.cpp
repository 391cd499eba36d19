#include "app/form1.h"

#include <algorithm>

#include "app/restart_offer.h"
#include "app/unusable_drives.h"
#include "flash/compatibility_checks.h"
#include "flash/download.h"
#include "flash/image_preflight.h"
#include "flash/patch_sync.h"
#include "flash/read_back.h"
#include "image/image_file.h"

namespace keluflash {
namespace {

constexpr size_t kDriveTextLength = 24;
constexpr size_t kQueryModeBufferSize = 20;

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
}

void TForm1::BitBtn1Click() {
    if (m_handlerRunning || !m_bitBtn1Enabled || m_updating) return;
    const HandlerScope scope(m_handlerRunning);
    std::string fileName = m_openDialogFileName;
    if (!m_view.ExecuteOpenDialog(fileName)) return;
    m_openDialogFileName = fileName;
    OpenChosenFile();
}

void TForm1::OpenChosenFile() {
    if (m_updating) return;
    OpenImageFile(
        m_openDialogFileName, m_header, m_selection, m_edit1,
        [this](const std::array<uint8_t, 2>& firmwareId) { return CheckFirmwareId(firmwareId); }, *this);
    m_view.Edit1Changed();
}

void TForm1::BitBtn2Click() {
    // A message box or a wait inside a running handler must not start a
    // second update inside the first.
    if (m_handlerRunning || !m_bitBtn2Enabled || m_updating) return;
    const HandlerScope scope(m_handlerRunning);
    m_selDeviceEnabled = false;
    m_view.ControlsChanged();
    m_lastResult = UpdateResult::Refused;
    // The two early ends give the drive list back: the operator can pick
    // another drive before the next Start.
    if (m_openDialogFileName.empty()) {
        AddMessage("Err:No Firmware to upgrade!!");
        EnableSelDevice();
        return;
    }
    PhaseStarted(FlashPhase::Checks);
    SetProgress(10);
    // The file is read once, here; the update works from this copy.
    if (!ValidateImageFile(m_openDialogFileName, m_selection, m_header, m_runImage, *this)) {
        EnableSelDevice();
        return;
    }
    SetProgress(20);
    // The machine neither sleeps nor shuts down from here to the end of the
    // verification.
    m_system.UpdateBegins();
    m_updateHeld = true;
    m_atapi.StopPlayScan();
    m_atapi.StopUnit();
    // Open is disabled too: the update reads its file again at several steps.
    m_bitBtn1Enabled = m_bitBtn2Enabled = m_bitBtn3Enabled = false;
    m_view.ControlsChanged();
    CaptureUpdateInputs();
    m_updating = true;
    RunUpdate();
    EndUpdateHold();
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

void TForm1::CaptureUpdateInputs() {
    m_run = UpdateInputs{m_header, m_selection, m_openDialogFileName, m_edit1};
}

FlashContext TForm1::MakeFlashContext() {
    return FlashContext{m_atapi, m_clock, m_view, *this, *this, m_run.header, m_run.selection, m_runImage};
}

void TForm1::EndUpdateHold() {
    if (!m_updateHeld) return;
    m_updateHeld = false;
    m_system.UpdateEnds();
}

void TForm1::RunUpdate() {
    m_lastResult = UpdateResult::Refused;
    const FlashContext context = MakeFlashContext();
    PhaseStarted(FlashPhase::Checks);
    if (RunChecks() && CheckImageBeforeWrites(context) && WriteDrive(context)) {
        if (!m_flashed) {
            m_lastResult = UpdateResult::FlashFailed;
        } else {
            SetProgress(100);
            AddMessage("Ok:Flash Complete!!");
            if (VerifyFlash(context)) {
                AddMessage("OK:Verify ok!!");
                m_lastResult = UpdateResult::Verified;
                // A held shutdown lock would stand in the restart's way.
                EndUpdateHold();
                OfferRestart(m_view, m_system);
            } else {
                m_lastResult = UpdateResult::VerifyFailed;
            }
        }
    }
    m_selDeviceEnabled = true;
    m_view.ControlsChanged();
}

bool TForm1::WriteDrive(const FlashContext& context) {
    // From the patch area's first possible write to the end of the ready
    // wait nothing may end the program.
    m_system.DriveWriteBegins();
    m_flashed = false;
    m_downloadFailure = DownloadFailure::None;
    PhaseStarted(FlashPhase::PatchArea);
    const bool synced = SyncPatchArea(context);
    if (synced) m_flashed = FlashImage();
    m_system.DriveWriteEnds();
    return synced;
}

bool TForm1::FlashImage() {
    SetProgress(0);
    SetProgressRange(0, 100);
    SetProgress(20);
    AddMessage("Flashing ..");
    const FlashContext context = MakeFlashContext();
    DownloadFailure& failure = m_downloadFailure;
    failure = DownloadFailure::None;
    if (DownloadMethodA(context, &failure)) return true;
    // Only a drive that refused method A may get method B: after a trigger
    // it may be programming, and without an answer nothing more can help.
    if (failure != DownloadFailure::Refused) return false;
    if (QueryMethodBSupport() == 0) {
        if (NoAnswerToQuery()) {
            failure = DownloadFailure::NoAnswer;
            return false;
        }
        AddMessage("Err:The firmware is not support this device!!(7)");
        return false;
    }
    if (DownloadMethodB(context, &failure)) return true;
    AddMessage("Err:Flash Fail!!");
    return false;
}

uint8_t TForm1::QueryMethodBSupport() {
    std::array<uint8_t, kQueryModeBufferSize> answer{};
    if (m_atapi.VendorQueryMode(answer.data()) == kStatusGood) return answer[0];
    if (m_atapi.VendorQueryMode(answer.data()) == kStatusGood) return answer[0];
    return 0;
}

bool TForm1::NoAnswerToQuery() {
    const CommandResult& result = m_atapi.LastResult();
    if (result.outcome != CommandOutcome::OsError && result.outcome != CommandOutcome::HostFailure) return false;
    AddMessage("Err:The drive did not answer the mode query (" + NoAnswerCause(result) +
               "): nothing was programmed, the drive keeps its firmware.");
    return true;
}

bool TForm1::CheckUpdate() {
    m_lastResult = UpdateResult::Refused;
    if (m_openDialogFileName.empty()) {
        AddMessage("Err:No Firmware to upgrade!!");
        return false;
    }
    PhaseStarted(FlashPhase::Checks);
    if (!ValidateImageFile(m_openDialogFileName, m_selection, m_header, m_runImage, *this)) return false;
    CaptureUpdateInputs();
    return RunChecks() && CheckImageBeforeWrites(MakeFlashContext());
}

bool TForm1::RunChecks() {
    return CheckDriveFamily() && CheckVendor() && CheckSupportedModel() && CheckModelMatch();
}

bool TForm1::DriveSelected() {
    if (m_selDeviceIndex >= 0 && m_selDeviceIndex < m_atapi.DeviceCount()) return true;
    AddMessage(kMessageNoDriveSelected);
    return false;
}

bool TForm1::CheckFirmwareId(const std::array<uint8_t, 2>& firmwareId) {
    return DriveSelected() && keluflash::CheckFirmwareIdBytes(m_atapi, firmwareId, *this);
}

bool TForm1::CheckDriveFamily() {
    return DriveSelected() && keluflash::CheckDriveFamily(m_atapi, m_run.selection.FirmwareId, *this);
}

bool TForm1::CheckFirmwareIdBytes() { return CheckFirmwareId(m_run.selection.FirmwareId); }

bool TForm1::CheckVendor() { return DriveSelected() && keluflash::CheckVendor(SelectedDriveText(), *this); }

bool TForm1::CheckSupportedModel() {
    return DriveSelected() && keluflash::CheckSupportedModel(SelectedListText(), *this);
}

bool TForm1::CheckModelMatch() {
    return DriveSelected() && keluflash::CheckModelMatch(m_run.modelText, SelectedDriveText(), *this);
}

std::string TForm1::SelectedDriveText() const {
    return m_atapi.Device(m_selDeviceIndex).IdentificationText().substr(0, kDriveTextLength);
}

std::string TForm1::SelectedListText() const { return m_selDeviceItems.at(static_cast<size_t>(m_selDeviceIndex)); }

}  // namespace keluflash

#include "app/form1.h"

#include <algorithm>

#include "app/restart_offer.h"
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
}

void TForm1::SelDeviceChange(int index) {
    if (!m_selDeviceEnabled || index < 0 || index >= static_cast<int>(m_selDeviceItems.size())) return;
    m_atapi.SelectDevice(m_atapi.Device(index));
    m_selDeviceIndex = index;
    m_statusPanelText = m_selDeviceItems[static_cast<size_t>(index)];
    // Picking a drive never enables Start.
    if (m_statusPanelText.empty()) m_bitBtn2Enabled = false;
    m_view.ControlsChanged();
}

void TForm1::BitBtn1Click() {
    if (!m_bitBtn1Enabled || m_updating) return;
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
    if (!m_bitBtn2Enabled || m_updating) return;
    m_selDeviceEnabled = false;
    m_view.ControlsChanged();
    m_lastResult = UpdateResult::Refused;
    // The two early ends leave the drive list disabled until a later Start
    // reaches the update.
    if (m_openDialogFileName.empty()) {
        AddMessage("Err:No Firmware to upgrade!!");
        return;
    }
    SetProgress(10);
    if (!ValidateImageFile(m_openDialogFileName, m_header, *this)) return;
    SetProgress(20);
    m_atapi.StopPlayScan();
    m_atapi.StopUnit();
    // Open is disabled too: the update reads its file again at several steps.
    m_bitBtn1Enabled = m_bitBtn2Enabled = m_bitBtn3Enabled = false;
    m_view.ControlsChanged();
    CaptureUpdateInputs();
    m_updating = true;
    RunUpdate();
    m_updating = false;
    m_bitBtn1Enabled = m_bitBtn2Enabled = m_bitBtn3Enabled = true;
    m_view.ControlsChanged();
}

void TForm1::BitBtn3Click() {
    if (!m_bitBtn3Enabled) return;
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
    return FlashContext{m_atapi, m_clock, m_view, *this, *this, m_run.header, m_run.selection, m_run.fileName};
}

void TForm1::RunUpdate() {
    m_lastResult = UpdateResult::Refused;
    const FlashContext context = MakeFlashContext();
    if (RunChecks() && CheckImageBeforeWrites(context) && SyncPatchArea(context)) {
        if (!FlashImage()) {
            m_lastResult = UpdateResult::FlashFailed;
        } else {
            SetProgress(100);
            AddMessage("Ok:Flash Complete!!");
            if (VerifyFlash(context)) {
                AddMessage("OK:Verify ok!!");
                m_lastResult = UpdateResult::Verified;
                OfferRestart(m_view, m_system);
            } else {
                m_lastResult = UpdateResult::VerifyFailed;
            }
        }
    }
    m_selDeviceEnabled = true;
    m_view.ControlsChanged();
}

bool TForm1::FlashImage() {
    SetProgress(0);
    SetProgressRange(0, 100);
    SetProgress(20);
    AddMessage("Flashing ..");
    const FlashContext context = MakeFlashContext();
    if (DownloadMethodA(context)) return true;
    if (QueryMethodBSupport() == 0) {
        AddMessage("Err:The firmware is not support this device!!(7)");
        return false;
    }
    if (DownloadMethodB(context)) return true;
    AddMessage("Err:Flash Fail!!");
    return false;
}

uint8_t TForm1::QueryMethodBSupport() {
    std::array<uint8_t, kQueryModeBufferSize> answer{};
    if (m_atapi.VendorQueryMode(answer.data()) == kStatusGood) return answer[0];
    if (m_atapi.VendorQueryMode(answer.data()) == kStatusGood) return answer[0];
    return 0;
}

bool TForm1::CheckUpdate() {
    m_lastResult = UpdateResult::Refused;
    if (m_openDialogFileName.empty()) {
        AddMessage("Err:No Firmware to upgrade!!");
        return false;
    }
    if (!ValidateImageFile(m_openDialogFileName, m_header, *this)) return false;
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

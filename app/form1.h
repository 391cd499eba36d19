#pragma once
// TForm1: the main window's logic without a toolkit. It holds the state the
// window shows (drive list, enabled flags, Edit1, message lines, progress,
// the open dialog's file name, the image header) and runs the handlers; a
// View draws it. The Qt and Win32 windows, the CLI and the tests are views.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/system_services.h"
#include "drive/atapi.h"
#include "drive/host_ports.h"
#include "flash/progress_bar.h"
#include "flash/revision_preview.h"
#include "flash/update.h"
#include "flash/update_report.h"
#include "image/image_copy.h"
#include "image/image_header.h"
#include "image/operator_report.h"

namespace keluflash {

inline constexpr const char* kWindowCaption = "KELU Flash V1.0B6 Trial 0.4";
inline constexpr const char* kOpenDialogFilter = "KFS file(*.kfs)|*.kfs|All File (*.*)|*.*";

// What a front end must draw and answer. The UserInterface part (message
// queue, message boxes) is the same host service the drive layer uses.
class View : public UserInterface {
public:
    virtual void ControlsChanged() = 0;            // enabled states, selection, panel 0
    virtual void MessageAdded(const std::string& line) = 0;  // repaint the list now, newest selected
    virtual void ProgressChanged() = 0;            // range or position; repaint the bar now
    virtual void Edit1Changed() = 0;
    virtual void CaptionChanged() = 0;
    // The file-open dialog; false when cancelled. `fileName` holds the last
    // confirmed name on entry.
    virtual bool ExecuteOpenDialog(std::string& fileName) = 0;
    virtual void CloseWindow() = 0;                // Exit
    // The update reached the next step; the window shows nothing of it.
    virtual void PhaseStarted(FlashPhase) {}
};

struct ProgressState {
    int min = 0;
    int max = 100;
    int position = 0;
};

class TForm1 final : public OperatorReport, public ProgressBar {
public:
    // Builds the window's state from the device table (items "%s %s", item 0
    // selected, panel 0, Start disabled when the list is empty).
    TForm1(TAtapi& atapi, Clock& clock, SystemServices& system, View& view);
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;
    void FormCreate();

    // Handlers. A handler of a disabled control does nothing, and no handler
    // runs inside another (a message box or a wait of a running one), so a
    // view that delivers a click in the middle of an update cannot start a
    // second one.
    void SelDeviceChange(int index);
    void BitBtn1Click();   // Open
    void BitBtn2Click();   // Start
    void BitBtn3Click();   // Exit

    // Reporting.
    void AddMessage(std::string_view text) override;
    void SetProgress(int value) override;
    void SetProgressRange(int min, int max) override;        // the bar's range, set directly
    void SetProgressPosition(int position) override;          // the bar's position, set directly and repainted
    // The status bar's panel names the step while an update runs, and counts
    // the seconds of the ready wait, when the bar stands still.
    void PhaseStarted(FlashPhase phase) override;
    void WaitingForDrive(uint32_t elapsedSeconds, uint32_t limitSeconds) override;

    // The window was asked to close while an update runs: it closes when the
    // update has ended, and says so once.
    void CloseDeferred();

    // The window's state, for views and tests.
    const std::string& Caption() const { return m_caption; }
    const std::vector<std::string>& SelDeviceItems() const { return m_selDeviceItems; }
    int SelDeviceIndex() const { return m_selDeviceIndex; }   // -1: nothing selected
    const std::string& StatusPanelText() const { return m_statusPanelText; }
    bool SelDeviceEnabled() const { return m_selDeviceEnabled; }
    bool BitBtn1Enabled() const { return m_bitBtn1Enabled; }
    bool BitBtn2Enabled() const { return m_bitBtn2Enabled; }
    bool BitBtn3Enabled() const { return m_bitBtn3Enabled; }
    const std::string& Edit1Text() const { return m_edit1; }
    const std::vector<std::string>& Messages() const { return m_messages; }
    int ListBoxItemIndex() const { return static_cast<int>(m_messages.size()) - 1; }
    const ProgressState& Progress() const { return m_progress; }
    const std::string& OpenDialogFileName() const { return m_openDialogFileName; }
    bool Updating() const { return m_updating; }
    // What the last Start (or CheckUpdate, or VerifyOpenedImage) did, the
    // drive's state among it: the front ends' summary and exit code.
    const UpdateReport& LastReport() const { return m_report; }
    UpdateResult LastUpdateResult() const { return m_report.result; }
    const ImageHeader& Header() const { return m_header; }
    const ImageSelection& Selection() const { return m_selection; }
    // The selected drive's revision beside the opened image's, as the
    // update's report will carry it; nothing without a selected drive or an
    // identified image.
    std::optional<RevisionPreview> PreviewRevision() const;
    // Adds that as a message line ("Revision: drive 1.00, image 1.05
    // (newer)"), when there is one. Open and picking a drive do it; a front
    // end that opens without the dialog does it where it shows what it is
    // about to flash.
    void ShowRevisionPreview();
    TAtapi& Atapi() { return m_atapi; }

    // Sets the open dialog's answer without a dialog.
    void SetOpenDialogFileName(const std::string& fileName) { m_openDialogFileName = fileName; }
    // The open with the dialog's file already chosen (BitBtn1Click after the
    // dialog): the file is read here, once. Does nothing while an update runs.
    void OpenChosenFile();

    // Everything Start does before the first command that writes, and nothing
    // after: the validation, the four checks and the last look at the image.
    // No command is sent but INQUIRY.
    bool CheckUpdate();
    // The read-back of the selected drive against the opened image, as the
    // end of an update does it.
    bool VerifyOpenedImage();

private:
    UpdatePorts Ports();
    OpenedImage Opened() const;
    UpdateTarget Target() const;
    void EnableSelDevice();
    bool DriveSelected();
    bool CheckFirmwareId(const std::array<uint8_t, 2>& firmwareId);

    TAtapi& m_atapi;
    Clock& m_clock;
    SystemServices& m_system;
    View& m_view;
    std::string m_caption;
    std::vector<std::string> m_selDeviceItems;
    int m_selDeviceIndex = -1;
    std::string m_statusPanelText;
    bool m_selDeviceEnabled = true;
    bool m_bitBtn1Enabled = true;
    bool m_bitBtn2Enabled = true;
    bool m_bitBtn3Enabled = true;
    std::string m_edit1;
    std::vector<std::string> m_messages;
    ProgressState m_progress;
    std::string m_openDialogFileName;
    bool m_updating = false;
    bool m_handlerRunning = false;
    bool m_closeDeferralSaid = false;
    ImageHeader m_header;
    ImageSelection m_selection;
    ImageCopy m_opened;     // the file as the open read it, once
    UpdateReport m_report;
};

}  // namespace keluflash

#pragma once
// The update: one object that runs Start's sequence over the file as the open
// read it: the file unchanged on disk, its validation, the checks that tie it
// to the selected drive, the last look at the image, the patch area, method A,
// the fallback to method B, the trigger, the ready wait and the read-back. It
// keeps an UpdateReport as it goes; the window and the command line show
// that report and nothing else.
#include <cstdint>
#include <optional>
#include <string>

#include "drive/atapi.h"
#include "drive/host_ports.h"
#include "flash/flash_context.h"
#include "flash/progress_bar.h"
#include "flash/update_holds.h"
#include "flash/update_report.h"
#include "image/image_copy.h"
#include "image/image_header.h"
#include "image/operator_report.h"

namespace keluflash {

inline constexpr const char* kMessageFileChanged = "Err:The firmware file changed after it was opened: open it again!!";
// A check asked for the selected drive while the list selects none.
inline constexpr const char* kMessageNoDriveSelected = "Err:No drive selected!!";

// The ports an update runs over.
struct UpdatePorts {
    TAtapi& atapi;
    Clock& clock;
    UserInterface& ui;        // ProcessMessages in the waits; the downgrade question (Yes/No)
    OperatorReport& lines;    // the message lines and the progress position
    ProgressBar& bar;         // the bar's range, and the step reached
    UpdateHolds& holds;
};

// The drive as the window selected it.
struct UpdateTarget {
    bool selected = false;     // the drive list selects a drive
    std::string driveText;     // its identification (the first 24 characters count)
    std::string listText;      // its list line, "identification revision"
    std::string revision;      // its revision text (INQUIRY bytes 32-35)
};

// The image as the open recorded it.
struct OpenedImage {
    const ImageCopy& copy;
    ImageSelection selection;
    std::string modelText;     // Edit1's text
};

class FirmwareUpdate {
public:
    FirmwareUpdate(const UpdatePorts& ports, const OpenedImage& image, UpdateTarget target);
    FirmwareUpdate(const FirmwareUpdate&) = delete;
    FirmwareUpdate& operator=(const FirmwareUpdate&) = delete;

    // The file is still the one the open read, and it is a valid image. No
    // command is sent.
    bool Validate();
    // The machine held awake from here to the end of the verification, and
    // the drive stopped (STOP PLAY/SCAN, STOP UNIT).
    void Begin();
    // The checks, the last look at the image, the downgrade question (a
    // Yes/No box, only when the image's revision is older than the drive's),
    // the writes, the trigger, the ready wait and the read-back; the holds
    // are released when it returns.
    void Run();
    // Everything before the first command that writes, and nothing after:
    // Validate, the checks and the last look. No command is sent but INQUIRY.
    bool Check();
    // Validate, then the read-back of what the drive holds against the image.
    bool Verify();

    const UpdateReport& Report() const { return m_report; }
    const ImageHeader& Header() const { return m_header; }

private:
    bool RunChecks();
    bool Check(const char* name, bool passed);
    bool LastLook();
    // The Yes/No question before the first write of an image older than the
    // drive's firmware or whose revision cannot be ordered against it.
    bool DowngradeAgreed();
    bool WriteDrive();
    bool FlashImage();
    uint8_t QueryMethodBSupport();
    void Finish(UpdateResult result, const std::string& cause);
    void EndUpdateHold();
    FlashContext Context();

    // Remembers the last line a step added, for the report's cause.
    class Lines final : public OperatorReport {
    public:
        explicit Lines(OperatorReport& to) : m_to(to) {}
        void AddMessage(std::string_view text) override {
            m_last = text;
            m_to.AddMessage(text);
        }
        void SetProgress(int value) override { m_to.SetProgress(value); }
        const std::string& Last() const { return m_last; }

    private:
        OperatorReport& m_to;
        std::string m_last;
    };

    UpdatePorts m_ports;
    Lines m_lines;
    const ImageCopy& m_copy;
    ImageSelection m_selection;
    std::string m_modelText;
    UpdateTarget m_target;
    ImageHeader m_header;
    UpdateReport m_report;
    bool m_updateHeld = false;
};

}  // namespace keluflash

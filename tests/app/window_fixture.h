#pragma once
// The main window over a simulated machine, with a view that records what it
// is told and can act in the middle of an update.
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "tests/flash/flash_fixture.h"
#include "tests/support/recording_view.h"

namespace keluflash::test {

struct ControlsState {
    bool selDevice;
    bool open;
    bool start;
    bool exit;
    bool operator==(const ControlsState&) const = default;
};

// The Windows tests' name for the view, until they use RecordingView.
using TestView = RecordingView;

// A machine, the drive-access object, the window and its view.
class WindowBench {
public:
    explicit WindowBench(SimulatedMachineConfig config = {});
    explicit WindowBench(SimulatedDriveConfig drive, bool ntFamily = true);

    // Open (through the dialog) and Start.
    void Open(const std::string& path);
    void Start() {
        m_linesBeforeStart = form.Messages().size();
        form.BitBtn2Click();
    }
    // The message lines the last Start added (the open's revision line is
    // before them).
    std::vector<std::string> StartLines() const {
        return {form.Messages().begin() + static_cast<std::ptrdiff_t>(m_linesBeforeStart), form.Messages().end()};
    }
    ControlsState Controls() const {
        return {form.SelDeviceEnabled(), form.BitBtn1Enabled(), form.BitBtn2Enabled(), form.BitBtn3Enabled()};
    }
    SimulatedDrive& Drive(size_t index = 0) { return bench.Drive(index); }

    SimulatedBench bench;
    RecordingView view;
    RecordingSystemServices system;
    TForm1 form;

private:
    size_t m_linesBeforeStart = 0;
};

}  // namespace keluflash::test

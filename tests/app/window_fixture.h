#pragma once
// The main window over a simulated machine, with a view that records what it
// is told and can act in the middle of an update.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "tests/flash/flash_fixture.h"

namespace keluflash::test {

struct ControlsState {
    bool selDevice;
    bool open;
    bool start;
    bool exit;
    bool operator==(const ControlsState&) const = default;
};

class TestView final : public View {
public:
    void PumpMessage() override {}
    void ProcessMessages() override {
        ++processed;
        if (onProcessMessages) onProcessMessages();
    }
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        return answer;
    }
    void ControlsChanged() override { ++controlsChanged; }
    void MessageAdded(const std::string& line) override { shown.push_back(line); }
    void ProgressChanged() override { if (form) bar.push_back(form->Progress()); }
    void Edit1Changed() override { ++edit1Changed; }
    void CaptionChanged() override { ++captionChanged; }
    bool ExecuteOpenDialog(std::string& fileName) override {
        ++dialogs;
        if (!dialogAnswer) return false;
        fileName = *dialogAnswer;
        return true;
    }
    void CloseWindow() override { closed = true; }

    TForm1* form = nullptr;
    std::function<void()> onProcessMessages;
    std::optional<std::string> dialogAnswer;
    int answer = kIdCancel;
    std::vector<MessageBoxCall> boxes;
    std::vector<std::string> shown;
    std::vector<ProgressState> bar;
    int processed = 0;
    int controlsChanged = 0;
    int edit1Changed = 0;
    int captionChanged = 0;
    int dialogs = 0;
    bool closed = false;
};

// A machine, the drive-access object, the window and its view.
class WindowBench {
public:
    explicit WindowBench(SimulatedMachineConfig config = {});
    explicit WindowBench(SimulatedDriveConfig drive, bool ntFamily = true);

    // Open (through the dialog) and Start.
    void Open(const std::string& path);
    void Start() { form.BitBtn2Click(); }
    ControlsState Controls() const {
        return {form.SelDeviceEnabled(), form.BitBtn1Enabled(), form.BitBtn2Enabled(), form.BitBtn3Enabled()};
    }
    SimulatedDrive& Drive(size_t index = 0) { return bench.Drive(index); }

    SimulatedBench bench;
    TestView view;
    RecordingSystemServices system;
    TForm1 form;
};

}  // namespace keluflash::test

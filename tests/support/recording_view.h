#pragma once
// The tests' view of the main window: the recording user interface, and
// everything TForm1 tells its view, in order.
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "tests/support/recording_ui.h"

namespace keluflash::test {

class RecordingView final : public RecordingUiOf<View> {
public:
    void ControlsChanged() override {
        ++controlsChanged;
        if (form != nullptr && (panel.empty() || panel.back() != form->StatusPanelText()))
            panel.push_back(form->StatusPanelText());
    }
    void MessageAdded(const std::string& line) override { shown.push_back(line); }
    void ProgressChanged() override {
        if (form != nullptr) bar.push_back(form->Progress());
    }
    void Edit1Changed() override { ++edit1Changed; }
    void CaptionChanged() override { ++captionChanged; }
    // Answers with `dialogAnswer`; cancelled when it holds nothing.
    bool ExecuteOpenDialog(std::string& fileName) override {
        ++dialogs;
        if (!dialogAnswer) return false;
        fileName = *dialogAnswer;
        return true;
    }
    void CloseWindow() override { closed = true; }

    TForm1* form = nullptr;  // the window whose bar ProgressChanged reads
    std::optional<std::string> dialogAnswer;
    std::vector<std::string> shown;
    std::vector<ProgressState> bar;
    std::vector<std::string> panel;  // the status panel's texts, each change once
    int controlsChanged = 0;
    int edit1Changed = 0;
    int captionChanged = 0;
    int dialogs = 0;
    bool closed = false;
};

}  // namespace keluflash::test

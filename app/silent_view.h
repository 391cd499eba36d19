#pragma once
// A window nobody looks at, for programs that run the update without one
// (benchmarks, fuzz targets): it draws nothing, and its boxes answer Cancel,
// so the restart question is never accepted.
#include <string>

#include "app/form1.h"

namespace keluflash {

class SilentView final : public View {
public:
    void PumpMessage() override {}
    void ProcessMessages() override {}
    int ShowMessage(const std::string&, const std::string&, unsigned) override { return kIdCancel; }
    void ControlsChanged() override {}
    void MessageAdded(const std::string&) override {}
    void ProgressChanged() override {}
    void Edit1Changed() override {}
    void CaptionChanged() override {}
    bool ExecuteOpenDialog(std::string&) override { return false; }
    void CloseWindow() override {}
};

}  // namespace keluflash

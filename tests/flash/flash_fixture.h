#pragma once
// What the flash and window tests share: a simulated machine with TAtapi over
// it, a user interface that can act in the middle of a wait, a report that
// records every line and bar change, and image files in a temporary folder.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/atapi.h"
#include "drive/sim/simulated_windows_machine.h"
#include "flash/flash_context.h"
#include "image/image_header.h"
#include "image/image_writer.h"
#include "image/operator_report.h"

namespace keluflash::test {

// A folder of its own for one test, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

struct MessageBoxCall {
    std::string text;
    std::string caption;
    unsigned flags;
};

// The message queue and message boxes: processing messages runs whatever the
// test has put into `onProcessMessages`; a box answers `answer`.
class ScriptedUi : public UserInterface {
public:
    void PumpMessage() override { ++pumps; }
    void ProcessMessages() override {
        ++processed;
        if (onProcessMessages) onProcessMessages();
    }
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        return answer;
    }
    std::function<void()> onProcessMessages;
    int answer = kIdCancel;
    int pumps = 0;
    int processed = 0;
    std::vector<MessageBoxCall> boxes;
};

// Every line and every change of the bar, in order.
class RecordingReport : public OperatorReport, public ProgressBar {
public:
    void AddMessage(std::string_view text) override { messages.emplace_back(text); }
    void SetProgress(int value) override { progress.push_back(value); }
    void SetProgressRange(int min, int max) override { ranges.push_back({min, max}); }
    void SetProgressPosition(int position) override { positions.push_back(position); }
    std::vector<std::string> messages;
    std::vector<int> progress;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
};

// One simulated machine (one drive by default) on the pass-through path or
// the ASPI path, and the drive-access object over it. The drives' command
// records start empty after the start-up scan.
class SimulatedBench {
public:
    explicit SimulatedBench(SimulatedDriveConfig drive = {}, bool ntFamily = true);
    explicit SimulatedBench(SimulatedMachineConfig config);
    ScriptedUi ui;
    SimulatedWindowsMachine machine;
    TAtapi atapi;
    SimulatedDrive& Drive(size_t index = 0) { return machine.Drive(index); }
    VirtualClock& Clock() { return machine.Clock(); }
};

// An image file written to disk, with what the open would record for it.
struct ImageOnDisk {
    std::string path;
    ImageHeader header;
    ImageSelection selection;
};
// Writes a built file; fails the test when the writer refused.
ImageOnDisk SaveImage(const TempDir& dir, const std::string& name, const ImageWriteResult& built,
                      int32_t imageIndex = 0);
// The demo firmware for the default simulated drive (8 blocks).
ImageOnDisk SaveDemoImage(const TempDir& dir, const std::string& name = "demo.kfs",
                          const DemoFirmwareRecipe& recipe = {}, const ImageWriteOptions& options = {});

FlashContext MakeContext(SimulatedBench& bench, RecordingReport& report, const ImageOnDisk& image);

// The commands that change what the drive holds or will program: a block
// write with data, a trigger, WRITE BUFFER and a memory write.
bool IsWritingCommand(const RecordedCommand& command);
bool IsBlockWrite(const RecordedCommand& command);   // A0 with data
bool IsTrigger(const RecordedCommand& command);      // A0 without data
std::vector<RecordedCommand> CommandsWhere(const SimulatedDrive& drive,
                                           const std::function<bool(const RecordedCommand&)>& keep);
// "5a 00 38 ..." for a failure message.
std::string CdbText(const RecordedCommand& command);

}  // namespace keluflash::test

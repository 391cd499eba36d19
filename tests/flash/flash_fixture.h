#pragma once
// What the flash and window tests share: a simulated machine with TAtapi over
// it and the recording doubles, and image files in a temporary folder.
#include <cstdint>
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
#include "tests/support/recording_progress_bar.h"
#include "tests/support/recording_report.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_dir.h"

namespace keluflash::test {

// One simulated machine (one drive by default) on the pass-through path or
// the ASPI path, and the drive-access object over it, with the user interface
// and the progress bar every step is given. The drives' command records start
// empty after the start-up scan.
class SimulatedBench {
public:
    explicit SimulatedBench(SimulatedDriveConfig drive = {}, bool ntFamily = true);
    explicit SimulatedBench(SimulatedMachineConfig config);
    RecordingUi ui;
    RecordingProgressBar bar;
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

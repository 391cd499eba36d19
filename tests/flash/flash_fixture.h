#pragma once
// What the flash and window tests share: a simulated machine with TAtapi over
// it and the recording doubles, and image files in a temporary folder.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/atapi.h"
#include <memory>

#include "drive/sim/simulated_machine.h"
#include "flash/flash_context.h"
#include "image/image_header.h"
#include "image/image_writer.h"
#include "image/operator_report.h"
#include "tests/support/recording_progress_bar.h"
#include "tests/support/recording_report.h"
#include "tests/support/recording_ui.h"
#include "tests/support/stopping_transport.h"
#include "tests/support/temp_dir.h"

namespace keluflash::test {

// One simulated machine (one drive by default): Linux with its SG_IO
// transport, Windows NT with pass-through or Windows 98 with ASPI, and the
// drive-access object over it, with the user interface and the progress bar
// every step is given. The drives' command records start empty after the
// start-up scan.
class SimulatedBench {
public:
    explicit SimulatedBench(SimulatedDriveConfig drive = {}, bool ntFamily = true);
    SimulatedBench(SimulatedDriveConfig drive, SimulatedPlatform platform);
    explicit SimulatedBench(SimulatedMachineConfig config);
    RecordingUi ui;
    RecordingProgressBar bar;
private:
    std::unique_ptr<SimulatedMachine> m_machine;
public:
    SimulatedMachine& machine;
    StoppingTransport sending;  // sends everything until a test stops it
    TAtapi atapi;
    SimulatedDrive& Drive(size_t index = 0) { return machine.Drive(index); }
    VirtualClock& Clock() { return machine.Clock(); }
};

// An image file written to disk, with what the open would record for it.
struct ImageOnDisk {
    std::string path;
    ImageHeader header;
    ImageSelection selection;
    // The file as each MakeContext read it (a test may change the file
    // between contexts; earlier contexts keep their copy), and what each
    // context's steps did to the drive.
    mutable std::deque<ImageCopy> copies;
    mutable std::deque<UpdateReport> records;
};
// Writes a built file; fails the test when the writer refused.
ImageOnDisk SaveImage(const TempDir& dir, const std::string& name, const ImageWriteResult& built,
                      int32_t imageIndex = 0);
// The demo firmware for the default simulated drive (8 blocks).
ImageOnDisk SaveDemoImage(const TempDir& dir, const std::string& name = "demo.kfs",
                          const DemoFirmwareRecipe& recipe = {}, const ImageWriteOptions& options = {});

FlashContext MakeContext(SimulatedBench& bench, RecordingReport& report, const ImageOnDisk& image);

// The machines every fault test runs over: Linux (SG_IO), NT (pass-through)
// and Windows 98 (ASPI).
inline constexpr SimulatedPlatform kEveryPlatform[] = {SimulatedPlatform::Host, SimulatedPlatform::WindowsNt,
                                                       SimulatedPlatform::Windows9x};
std::string PlatformTestName(SimulatedPlatform platform);

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

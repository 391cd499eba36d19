#include "tests/flash/flash_fixture.h"

#include <cstdio>

#include <gtest/gtest.h>

namespace keluflash::test {
namespace {

SimulatedMachineConfig OneDrive(SimulatedDriveConfig drive, SimulatedPlatform platform) {
    SimulatedMachineConfig config;
    config.platform = platform;
    config.drives = {std::move(drive)};
    return config;
}

}  // namespace

SimulatedBench::SimulatedBench(SimulatedDriveConfig drive, bool ntFamily)
    : SimulatedBench(OneDrive(std::move(drive), ntFamily ? SimulatedPlatform::WindowsNt : SimulatedPlatform::Windows9x)) {}

SimulatedBench::SimulatedBench(SimulatedDriveConfig drive, SimulatedPlatform platform)
    : SimulatedBench(OneDrive(std::move(drive), platform)) {}

SimulatedBench::SimulatedBench(SimulatedMachineConfig config)
    : m_machine(MakeSimulatedMachine(std::move(config), ui)),
      machine(*m_machine),
      sending(machine.DriveTransport()),
      atapi(sending, machine.Ui()) {
    // The tests look at what follows the start-up scan.
    for (size_t i = 0; i < machine.DriveCount(); ++i) machine.Drive(i).ClearCommands();
}

ImageOnDisk SaveImage(const TempDir& dir, const std::string& name, const ImageWriteResult& built, int32_t imageIndex) {
    EXPECT_TRUE(built.ok) << built.error;
    ImageOnDisk image;
    image.path = dir.File(name);
    std::string error;
    EXPECT_TRUE(SaveImageFile(image.path, built.bytes, error)) << error;
    image.header = built.header;
    image.selection.ImageIndex = imageIndex;
    if (built.header.IsMultiImage()) image.selection.ImageStride = built.header.StrideFromSlots();
    image.selection.identified = true;
    return image;
}

ImageOnDisk SaveDemoImage(const TempDir& dir, const std::string& name, const DemoFirmwareRecipe& recipe,
                          const ImageWriteOptions& options) {
    ImageOnDisk image = SaveImage(dir, name, BuildDemoFirmware(recipe, options));
    image.selection.FirmwareId = recipe.firmwareId;
    return image;
}

FlashContext MakeContext(SimulatedBench& bench, RecordingReport& report, const ImageOnDisk& image) {
    ImageCopy& copy = image.copies.emplace_back();
    copy.Load(image.path);
    UpdateReport& record = image.records.emplace_back();
    return FlashContext{bench.atapi, bench.Clock(), bench.ui, report, bench.bar, image.header, image.selection, copy,
                        record};
}

std::string PlatformTestName(SimulatedPlatform platform) {
    switch (platform) {
        case SimulatedPlatform::Host: return "Linux";
        case SimulatedPlatform::WindowsNt: return "NT";
        case SimulatedPlatform::Windows9x: return "ASPI";
    }
    return "";
}

bool IsBlockWrite(const RecordedCommand& command) {
    return command.IsVendor(0xA0) && (command.cdb[8] != 0 || command.cdb[9] != 0);
}

bool IsTrigger(const RecordedCommand& command) {
    return command.IsVendor(0xA0) && command.cdb[8] == 0 && command.cdb[9] == 0;
}

bool IsWritingCommand(const RecordedCommand& command) {
    return command.IsVendor(0xA0) || command.Opcode() == 0x3B || command.IsVendor(0xA2);
}

std::vector<RecordedCommand> CommandsWhere(const SimulatedDrive& drive,
                                           const std::function<bool(const RecordedCommand&)>& keep) {
    std::vector<RecordedCommand> kept;
    for (const RecordedCommand& command : drive.Commands())
        if (keep(command)) kept.push_back(command);
    return kept;
}

std::string CdbText(const RecordedCommand& command) {
    std::string text;
    char byte[4];
    for (uint8_t b : command.cdb) {
        std::snprintf(byte, sizeof byte, "%02x ", b);
        text += byte;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace keluflash::test

// Whole updates from the Start click, end to end against the simulated drive
// with the virtual clock: the walk-through, every way an update ends, the
// never-brick rule and a view that acts in the middle of an update.
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "drive/sim/simulated_windows_machine.h"
#include "flash/download.h"
#include "tests/app/window_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// One name per command, 5A commands by their sub-code, consecutive repeats
// of the ready wait's polls and the read-back's reads folded into one "xN".
std::vector<std::string> CommandNames(const SimulatedDrive& drive) {
    std::vector<std::pair<std::string, int>> runs;
    for (const RecordedCommand& c : drive.Commands()) {
        std::string name;
        switch (c.Opcode()) {
            case 0x00: name = "TUR"; break;
            case 0x03: name = "REQUEST SENSE"; break;
            case 0x12: name = "INQUIRY"; break;
            case 0x1B: name = "STOP UNIT"; break;
            case 0x3B: name = "WRITE BUFFER"; break;
            case 0x4E: name = "STOP PLAY/SCAN"; break;
            case 0x5A: {
                char sub[8];
                std::snprintf(sub, sizeof sub, "5A/%02X", c.cdb[5]);
                name = sub;
                if (IsTrigger(c)) name = "trigger";
                break;
            }
            default: name = CdbText(c);
        }
        if (!runs.empty() && runs.back().first == name) ++runs.back().second;
        else runs.push_back({name, 1});
    }
    std::vector<std::string> names;
    for (const auto& [name, count] : runs) names.push_back(count == 1 ? name : name + " x" + std::to_string(count));
    return names;
}

class UpdateTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(UpdateTest, WalkThroughOfASuccessfulUpdate) {
    WindowBench window;
    const ImageOnDisk image = SaveDemoImage(dir);
    window.Open(image.path);
    EXPECT_EQ(window.form.Edit1Text(), "KELU    ZXR-0131K       1.00");
    window.Drive().ClearCommands();
    window.view.bar.clear();
    window.view.answer = kIdOk;

    window.Start();

    EXPECT_THAT(window.StartLines(), ElementsAre("Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"));
    EXPECT_EQ(window.form.LastUpdateResult(), UpdateResult::Verified);
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
    // The restart question, answered OK.
    ASSERT_EQ(window.view.boxes.size(), 1u);
    EXPECT_EQ(window.view.boxes[0].text, "Reboot this computer right now ?");
    EXPECT_EQ(window.view.boxes[0].caption, "Warning");
    EXPECT_EQ(window.view.boxes[0].flags, 0x1031u);
    EXPECT_EQ(window.system.RestartRequests(), 1);

    const std::vector<std::string> names = CommandNames(window.Drive());
    ASSERT_EQ(names.size(), 8u);
    EXPECT_THAT(std::vector<std::string>(names.begin(), names.begin() + 6),
                ElementsAre("STOP PLAY/SCAN", "STOP UNIT", "INQUIRY x2", "5A/A3", "5A/A0 x8", "trigger"));
    EXPECT_EQ(names[6].rfind("TUR x", 0), 0u) << names[6];
    EXPECT_THAT(std::vector<std::string>(names.begin() + 7, names.end()), ElementsAre("5A/11 x2016"));

    // The bar: 10 and 20 at Start, 0 and the range in FlashImage, 20, the
    // blocks, 70, 80, 100; then the read-back on its own range.
    std::vector<int> positions;
    for (const ProgressState& bar : window.view.bar) {
        if (bar.max == 65536) break;
        positions.push_back(bar.position);
    }
    EXPECT_THAT(positions, ElementsAre(10, 20, 0, 0, 20, 10, 20, 30, 40, 50, 60, 70, 80, 70, 80, 100));
    EXPECT_EQ(window.view.bar.back().position, 0xFF00);
    EXPECT_EQ(window.view.bar.back().max, 65536);

    // The drive now holds the image.
    const PlainImage plain = BuildDemoImageBlocks({});
    for (size_t k = 0; k < plain.size(); ++k)
        EXPECT_TRUE(std::equal(plain[k].begin(), plain[k].end(), window.Drive().Bank(static_cast<int>(k)).begin()))
            << "bank " << k;

    // A second Start begins on the read-back's range.
    window.view.bar.clear();
    window.view.answer = kIdCancel;
    window.Start();
    ASSERT_FALSE(window.view.bar.empty());
    EXPECT_EQ(window.view.bar[0].max, 65536);
    EXPECT_EQ(window.view.bar[0].position, 10);
    EXPECT_EQ(window.system.RestartRequests(), 1) << "Cancel restarts nothing";
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
}

// Which controls are enabled, at each moment the window's rules name.
TEST_F(UpdateTest, EnabledStateAtEveryMoment) {
    const ImageOnDisk good = SaveDemoImage(dir);
    const ImageOnDisk bad = [&] {
        ImageOnDisk image = SaveDemoImage(dir, "bad.kfs");
        std::fstream file(image.path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(32);
        file.put('\x01');  // the checksum no longer matches
        return image;
    }();
    WindowBench window;
    std::vector<ControlsState> duringWait;
    window.view.onProcessMessages = [&] {
        if (window.form.Updating()) duringWait.push_back(window.Controls());
    };

    // After construction, with a drive listed.
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
    // Start without a file: the list is usable again at once, so another
    // drive can be picked.
    window.Start();
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
    EXPECT_THAT(window.form.Messages(), ElementsAre("Err:No Firmware to upgrade!!"));
    // Start with a file that fails validation: the same.
    window.Open(bad.path);
    window.Start();
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
    EXPECT_EQ(window.form.Messages().back(), "Err:File check sum error!!");
    // An update: everything but the bar is disabled while it runs (Open too),
    // and everything is enabled again when it ends.
    window.Open(good.path);
    window.Start();
    ASSERT_FALSE(duringWait.empty());
    for (const ControlsState& state : duringWait) EXPECT_EQ(state, (ControlsState{false, false, false, false}));
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
    // An update that a check ends enables them again too.
    window.Drive().MutableConfig().firmwareId = {0x11, 0x22};
    window.Start();
    EXPECT_EQ(window.form.Messages().back(), "Err:The firmware is not support this device!!(4)");
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
}

// Every refusal: the right line, and not one command that writes reaches
// the drive (no block write, no trigger, no WRITE BUFFER, no memory write);
// only method B's refusal of a block it cannot carry comes after method A's
// refused attempt, and then no command of method B is sent.
// The bytes the checks passed are the bytes that are flashed: a file that
// changed on disk between Open and Start is refused before any command, in
// whatever way it changed.
TEST_F(UpdateTest, AFileChangedAfterTheOpenIsRefusedBeforeAnyCommand) {
    const ImageOnDisk image = SaveDemoImage(dir);
    DemoFirmwareRecipe otherModel;
    otherModel.product = "ZXR-0150K";
    otherModel.firmwareId = {'K', '5'};
    const ImageOnDisk other = SaveDemoImage(dir, "other.kfs", otherModel);
    const auto rewriteKeepingTime = [&](const std::function<void(std::vector<char>&)>& change) {
        const auto time = std::filesystem::last_write_time(image.path);
        std::ifstream in(image.path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        change(bytes);
        std::ofstream(image.path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::filesystem::last_write_time(image.path, time);
    };
    struct Row {
        const char* name;
        std::function<void()> change;
    };
    const Row rows[] = {
        {"replaced by an image for another drive", [&] {
             // mingw's copy_file refuses to overwrite; a replacement is a new file anyway
             std::filesystem::remove(image.path);
             std::filesystem::copy_file(other.path, image.path);
         }},
        {"cut short", [&] { std::filesystem::resize_file(image.path, 64 + 0x10000); }},
        {"removed", [&] { std::filesystem::remove(image.path); }},
        {"one byte changed, size and time kept", [&] { rewriteKeepingTime([](std::vector<char>& b) { b[0x2000] ^= 1; }); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SaveDemoImage(dir);
        WindowBench window;
        window.Open(image.path);
        ASSERT_THAT(window.form.Messages(), ElementsAre(StartsWith("Revision: ")));
        row.change();
        window.Start();
        EXPECT_THAT(window.StartLines(), ElementsAre(kMessageFileChanged));
        EXPECT_THAT(window.Drive().Commands(), IsEmpty()) << "not even STOP UNIT";
        EXPECT_EQ(window.form.LastUpdateResult(), UpdateResult::Refused);
        EXPECT_EQ(window.form.LastReport().state, DriveState::Untouched);
        EXPECT_TRUE(window.form.SelDeviceEnabled());
    }
}

TEST_F(UpdateTest, NoRefusalWritesAnythingToTheDrive) {
    struct Row {
        const char* name;
        std::function<std::string(const TempDir&)> image;      // the file to open; "" for none
        std::function<void(SimulatedDriveConfig&)> drive;
        std::vector<std::string> messages;
        bool drivesStopped;  // STOP PLAY/SCAN and STOP UNIT were sent
        std::function<bool(const RecordedCommand&)> allowedWrite = [](const RecordedCommand&) { return false; };
    };
    const auto demo = [](const DemoFirmwareRecipe& recipe) {
        return [recipe](const TempDir& d) { return SaveDemoImage(d, "row.kfs", recipe).path; };
    };
    const auto patchedAt = [](std::vector<std::pair<size_t, uint8_t>> bytes, const DemoFirmwareRecipe& recipe = {}) {
        return [=](const TempDir& d) {
            const std::string path = SaveDemoImage(d, "row.kfs", recipe).path;
            std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
            for (const auto& [offset, value] : bytes) {
                file.seekp(static_cast<std::streamoff>(offset));
                file.put(static_cast<char>(value));
            }
            return path;
        };
    };
    const auto patched = [&](size_t offset, uint8_t value) { return patchedAt({{offset, value}}); };
    const auto unchanged = [](SimulatedDriveConfig&) {};
    DemoFirmwareRecipe otherModel;
    otherModel.product = "ZXR-0140K";
    DemoFirmwareRecipe unsupported;
    unsupported.product = "ZXR-0999K";
    DemoFirmwareRecipe lowerVendor;
    lowerVendor.vendor = "kelu";
    DemoFirmwareRecipe longBlock1;
    longBlock1.blockSizes = {0x8000, 0xF100, 0x8000};
    DemoFirmwareRecipe w0Family;
    w0Family.product = "ZXR-0151K";
    w0Family.firmwareId = {'W', '0'};
    // Block 3 is 0xFFFF bytes, its last one 00: method A sends it whole in
    // its 0xFFFE bytes, WRITE BUFFER cannot carry it behind its length.
    const auto blockForMethodAOnly = [](const TempDir& d) {
        DemoFirmwareRecipe recipe;
        recipe.blockSizes = {0x1000, 0x1000, 0x1000, 0xFFFF};
        PlainImage blocks = BuildDemoImageBlocks(recipe);
        blocks[3].back() = 0;
        return SaveImage(d, "row.kfs", BuildSingleImageFile(blocks)).path;
    };
    const auto cutShort = [](const TempDir& d) {
        const std::string path = SaveDemoImage(d, "row.kfs").path;
        std::filesystem::resize_file(path, 64 + 0xFFFE + 0xF000 + 100);  // inside block 2
        return path;
    };
    const auto isMethodA = [](const RecordedCommand& c) { return c.IsVendor(0xA0); };
    const auto withPatchArea = [](SimulatedDriveConfig& d) {
        d.patchArea = SimulatedDriveConfig::PatchArea{0, 0x100, 0x20};
    };

    std::vector<Row> rows = {
        {"no file", [](const TempDir&) { return std::string(); }, unchanged, {"Err:No Firmware to upgrade!!"}, false},
        {"missing file", [](const TempDir& d) { return d.File("none.kfs"); }, unchanged,
         {"Err:Open Firmware file Error!!"}, false},
        {"a directory", [](const TempDir& d) {
             std::filesystem::create_directory(d.File("folder.kfs"));
             return d.File("folder.kfs");
         },
         unchanged, {"Err:The firmware file is a directory, not a file!!"}, false},
        {"wrong magic", patched(3, 'X'), unchanged, {"Err:Not KELU File system!!"}, false},
        {"wrong checksum", patched(33, 0x99), unchanged, {"Err:File check sum error!!"}, false},
        {"a block cut short", cutShort, unchanged, {"Err:Block 2 of the firmware file is short: 100 of 61440 bytes!!"},
         false},
        {"a block of length 0", patchedAt({{38, 0}, {39, 0}}), unchanged,
         {"Err:Block 1 of the firmware file has length 0!!"}, false},
        {"W0 family drive not in the family list", demo(w0Family),
         [](SimulatedDriveConfig& d) {
             d.product = "ZXR-0151K";
             d.firmwareId = {'W', '0'};
         },
         {"Err: Cannot update this device use this update file!!"}, true},
        {"firmware id differs", demo({}), [](SimulatedDriveConfig& d) { d.firmwareId = {0x4B, 0x32}; },
         {"Err:The firmware is not support this device!!(4)"}, true},
        {"vendor", demo(lowerVendor), [](SimulatedDriveConfig& d) { d.vendor = "kelu"; },
         {"The Firmware isn't support this device !!(6)"}, true},
        {"product not supported", demo(unsupported), [](SimulatedDriveConfig& d) { d.product = "ZXR-0999K"; },
         {"The Firmware isn't support this device !!(2)"}, true},
        {"model text differs", demo(otherModel), unchanged, {"The Firmware isn't support this device !!(3)"}, true},
        {"no block (the checksum 0 passes the validation)", patchedAt({{32, 0}, {33, 0}, {34, 0}, {35, 0}}),
         unchanged, {"Err:No block in the firmware file!!"}, true},
        {"block 1 longer than the drive takes", demo(longBlock1), unchanged,
         {"Err:Block 1 is 61696 bytes, more than the 61440 bytes the drive takes!!"}, true},
        {"unknown scramble flag with a patch area", patched(25, 2), withPatchArea,
         {"Err:Unknown scramble flag 2 in the firmware file!!"}, true},
        {"patch area outside its block", demo({}),
         [](SimulatedDriveConfig& d) { d.patchArea = SimulatedDriveConfig::PatchArea{0, 0xFFF0, 0x20}; },
         {"Err:Patch area fff0+20 is outside block 0 of the firmware!!"}, true},
        {"a block method B cannot carry, once method A is refused", blockForMethodAOnly,
         [](SimulatedDriveConfig& d) {
             d.acceptedTriggers = {};
             d.takesWriteBuffer = true;
         },
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.",
          "Err:Block 3 too long for WRITE BUFFER (65535 bytes)!!", "Err:Flash Fail!!",
          AdviceLine(DriveState::TriggerRefused)},
         true, isMethodA},
    };
#if !defined(_WIN32)
    rows.push_back({"a FIFO, which would never end", [](const TempDir& d) {
                        const std::string path = d.File("fifo.kfs");
                        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
                        return path;
                    },
                    unchanged, {"Err:The firmware file is a FIFO, not a file!!"}, false});
    rows.push_back({"a device", [](const TempDir&) { return std::string("/dev/null"); }, unchanged,
                    {"Err:The firmware file is a device, not a file!!"}, false});
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimulatedDriveConfig drive;
        row.drive(drive);
        WindowBench window(drive);
        const std::string path = row.image(dir);
        if (!path.empty()) window.Open(path);
        const size_t before = window.form.Messages().size();
        window.Start();

        const std::vector<std::string> lines(window.form.Messages().begin() + static_cast<std::ptrdiff_t>(before),
                                             window.form.Messages().end());
        EXPECT_THAT(lines, ElementsAreArray(row.messages));
        EXPECT_NE(window.form.LastUpdateResult(), UpdateResult::Verified);
        for (const RecordedCommand& command : window.Drive().Commands())
            EXPECT_TRUE(!IsWritingCommand(command) || row.allowedWrite(command)) << CdbText(command);
        const auto stops = CommandsWhere(window.Drive(), [](const auto& c) {
            return c.Opcode() == 0x4E || c.Opcode() == 0x1B;
        });
        EXPECT_EQ(stops.size(), row.drivesStopped ? 2u : 0u);
        EXPECT_THAT(window.view.boxes, IsEmpty());
        EXPECT_TRUE(window.form.SelDeviceEnabled()) << "the drive list is usable after every refusal";
    }
}

// A scramble flag other than 0, 1 and 0x20 reads as plain in the downloads;
// without a patch area, where it would be read as scrambled, the file
// flashes as any plain file.
TEST_F(UpdateTest, AnUnknownScrambleFlagFlashesAsPlainWithoutAPatchArea) {
    const ImageOnDisk image = SaveDemoImage(dir);
    {
        std::fstream file(image.path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(25);
        file.put('\x02');
    }
    WindowBench window;
    window.Open(image.path);
    window.Start();
    EXPECT_THAT(window.StartLines(), ElementsAre("Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"));
}

// How an update ends once the download has begun, on every machine: the
// window's lines (as the NT machine gives them), what the report says the
// drive went through, and the last line, which says what that means.
TEST_F(UpdateTest, EveryWayTheDownloadAndVerificationEnd) {
    struct Row {
        const char* name;
        std::function<void(SimulatedDriveConfig&)> drive;
        std::vector<std::string> messages;  // on the NT machine
        UpdateResult result;
        DriveState state;
        size_t systemErrorBoxes = 0;  // the drive layer's boxes of a drive that is gone (NT)
        std::vector<MachineFault> machineFaults = {};
        // Where ASPI ends elsewhere: its layer cannot tell a drive that is gone
        // from one that restarts, so the wait goes on to its end.
        std::optional<DriveState> aspiState = std::nullopt;
        bool blockUnanswered = false;  // no trigger may follow
        // From the first command this picks on, nothing is sent (an
        // interrupted command line, a replay that stopped).
        std::function<bool(const uint8_t* cdb)> stopSendingAt = nullptr;
        std::optional<SimulatedPlatform> onlyOn = std::nullopt;
    };
    const auto trigger = [](const uint8_t* cdb) {
        return cdb[0] == 0x5A && cdb[5] == 0xA0 && cdb[8] == 0 && cdb[9] == 0;
    };
    const auto nthBlockWrite = [](int n) {
        return [n, seen = 0](const uint8_t* cdb) mutable {
            return cdb[0] == 0x5A && cdb[5] == 0xA0 && (cdb[8] != 0 || cdb[9] != 0) && ++seen == n;
        };
    };
    const auto opcode = [](uint8_t op, std::optional<uint8_t> sub = std::nullopt) {
        return [op, sub](const uint8_t* cdb) { return cdb[0] == op && (!sub || cdb[5] == *sub); };
    };
    const auto noTrigger = [](SimulatedDriveConfig& d) { d.acceptedTriggers = {}; };
    const std::string gone = "The device is not connected.";
    constexpr uint32_t kBusyError = 16;  // EBUSY on Linux; any refusal of the call elsewhere
    const std::vector<Row> rows = {
        {"method A fails, the drive does not take method B", noTrigger,
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.",
          "Err:The firmware is not support this device!!(7)", AdviceLine(DriveState::TriggerRefused)},
         UpdateResult::FlashFailed, DriveState::TriggerRefused},
        {"the mode query fails twice",
         [](SimulatedDriveConfig& d) {
             d.acceptedTriggers = {};
             d.takesWriteBuffer = true;
             d.faults = {{.opcode = 0x5A, .vendorSubCode = 0xC0, .times = 2}};
         },
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.",
          "Err:The firmware is not support this device!!(7)", AdviceLine(DriveState::TriggerRefused)},
         UpdateResult::FlashFailed, DriveState::TriggerRefused},
        {"both methods fail",
         [](SimulatedDriveConfig& d) {
             d.acceptedTriggers = {};
             d.takesWriteBuffer = true;
         },
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.", "Status:2;SenseCode:5 : 24 : 0;",
          "Err:Flash Fail.", "Err:Flash Fail!!", AdviceLine(DriveState::TriggerRefused)},
         UpdateResult::FlashFailed, DriveState::TriggerRefused},
        {"method B after a failed method A",
         [](SimulatedDriveConfig& d) {
             d.acceptedTriggers = {{5, 0xF0}};
             d.takesWriteBuffer = true;
         },
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.", "Ok:Flash Complete!!",
          "OK:Verify ok!!"},
         UpdateResult::Verified, DriveState::Verified},
        // The drive took the trigger: no method B (the drive takes it), no "(7)".
        {"the drive never comes back",
         [](SimulatedDriveConfig& d) {
             d.neverReady = true;
             d.takesWriteBuffer = true;
         },
         {"Flashing ..", "Time Out Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;", "Err:Flash error,time out 120 Sec",
          AdviceLine(DriveState::NeverReady)},
         UpdateResult::FlashFailed, DriveState::NeverReady},
        {"the drive is lost at the 4th block write",
         [](SimulatedDriveConfig& d) { d.takesWriteBuffer = true; },
         {"Flashing ..", "Status:0x0 ; Err:Flash command(W) has problems.",
          "Err:Block 3 got no answer (" + gone + ").", AdviceLine(DriveState::BlocksSent)},
         UpdateResult::FlashFailed, DriveState::BlocksSent, 1,
         {{.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 4, .kind = MachineFaultKind::DriveGone}}},
        // A trigger with no answer may have been taken: the wait and the
        // read-back decide, and method B never follows.
        {"the drive is gone at the trigger",
         [](SimulatedDriveConfig& d) { d.takesWriteBuffer = true; },
         {"Flashing ..", "Err:The trigger got no answer (" + gone + "): waiting for the drive.",
          "Err:The drive took the firmware and is no longer reachable (" + gone + ").",
          AdviceLine(DriveState::DriveGone)},
         UpdateResult::FlashFailed, DriveState::DriveGone, 2,
         {{.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 9, .kind = MachineFaultKind::DriveGone}},
         DriveState::NeverReady},
        {"the trigger's answer times out, then the drive is ready",
         [](SimulatedDriveConfig& d) { d.takesWriteBuffer = true; },
         {"Flashing ..", "Err:The trigger got no answer (timed out): waiting for the drive.", "Ok:Flash Complete!!",
          "OK:Verify ok!!"},
         UpdateResult::Verified, DriveState::Verified, 0,
         {{.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 9, .kind = MachineFaultKind::HostTimeOut, .executes = true}}},
        {"the first polls after the trigger time out",
         [](SimulatedDriveConfig&) {},
         {"Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"},
         UpdateResult::Verified, DriveState::Verified, 0,
         {{.opcode = 0x00, .times = 3, .kind = MachineFaultKind::HostTimeOut}}},
        // No block write is taken as sent without an answer: the update stops
        // before the trigger, and no "(7)".
        {"a block write times out",
         [](SimulatedDriveConfig& d) { d.takesWriteBuffer = true; },
         {"Flashing ..", "Status:0x0 ; Err:Flash command(W) has problems.", "Err:Block 2 got no answer (timed out).",
          AdviceLine(DriveState::BlocksSent)},
         UpdateResult::FlashFailed, DriveState::BlocksSent, 0,
         {{.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 3, .kind = MachineFaultKind::HostTimeOut}},
         std::nullopt, true},
        {"the drive is lost in the ready wait",
         [](SimulatedDriveConfig& d) { d.takesWriteBuffer = true; },
         {"Flashing ..", "Err:The drive took the firmware and is no longer reachable (" + gone + ").",
          AdviceLine(DriveState::DriveGone)},
         UpdateResult::FlashFailed, DriveState::DriveGone, 1,
         {{.opcode = 0x00, .nth = 3, .kind = MachineFaultKind::DriveGone}}, DriveState::NeverReady},
        {"the mode query meets no drive",
         noTrigger,
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.",
          "Err:The drive did not answer the mode query (" + gone + ").", AdviceLine(DriveState::TriggerRefused)},
         UpdateResult::FlashFailed, DriveState::TriggerRefused, 2,
         {{.opcode = 0x5A, .vendorSubCode = 0xC0, .kind = MachineFaultKind::DriveGone}}},
        {"a read-back read fails",
         [](SimulatedDriveConfig& d) {
             d.faults = {{.opcode = 0x5A, .vendorSubCode = 0x11, .nth = 5}};
         },
         {"Flashing ..", "Ok:Flash Complete!!", "Status:2;SenseCode:4 : 44 : 0; Read bank 0 at 400 failed.",
          "Err:Verify NG !!", AdviceLine(DriveState::VerificationFailed)},
         UpdateResult::VerifyFailed, DriveState::VerificationFailed},
        // Wine drops SG_IO's host status: a block write that timed out reads
        // as written. The drive finds the trigger's sum wrong and refuses it
        // (with its own sense, 5/26/00, which means nothing more to the
        // update than any refusal): it programmed nothing, so the image goes
        // again by method B, whole, and verifies.
        {"a block write times out and the pass-through calls it done",
         [](SimulatedDriveConfig& d) {
             d.acceptedTriggers = {{4, 0xE0}, {5, 0xF0}};
             d.takesWriteBuffer = true;
         },
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.", "Ok:Flash Complete!!",
          "OK:Verify ok!!"},
         UpdateResult::Verified, DriveState::Verified, 0,
         {{.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 4, .kind = MachineFaultKind::TimeOutReportedAsGood}},
         std::nullopt, false, nullptr, SimulatedPlatform::WindowsNt},
        // 5/26/00 on the first trigger is a refusal like any other: the retry
        // follows, and method B after it.
        {"the first trigger is refused with 5/26/00",
         [](SimulatedDriveConfig& d) {
             d.acceptedTriggers = {{5, 0xF0}};
             d.triggerRejections = {{{4, 0xE0}, {5, 0x26, 0}}};
             d.takesWriteBuffer = true;
         },
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.", "Ok:Flash Complete!!",
          "OK:Verify ok!!"},
         UpdateResult::Verified, DriveState::Verified},
        // A poll whose host gave up as the drive answered NOT READY: the
        // status byte is lost, the sense stays. The drive is programming,
        // never ready.
        {"polls time out with the drive's NOT READY in their sense",
         [](SimulatedDriveConfig& d) { d.programmingMilliseconds = 90000; },
         {"Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"},
         UpdateResult::Verified, DriveState::Verified, 0,
         {{.opcode = 0x00, .times = 3, .kind = MachineFaultKind::HostTimeOutWithSense, .executes = true}}},
        // A command that was never sent is nothing sent: it is neither a
        // block that may have arrived, nor a trigger that may have been
        // taken, nor a drive that does not take method B.
        {"a block write is not sent",
         [](SimulatedDriveConfig& d) { d.takesWriteBuffer = true; },
         {"Flashing ..", "Err:Block 2 was not sent (not sent: the transport sends no more commands).",
          AdviceLine(DriveState::BlocksSent)},
         UpdateResult::FlashFailed, DriveState::BlocksSent, 0, {}, std::nullopt, true, nthBlockWrite(3)},
        {"the first block write is not sent", [](SimulatedDriveConfig&) {},
         {"Flashing ..", "Err:Block 0 was not sent (not sent: the transport sends no more commands).",
          AdviceLine(DriveState::Untouched)},
         UpdateResult::FlashFailed, DriveState::Untouched, 0, {}, std::nullopt, true, nthBlockWrite(1)},
        {"the trigger is not sent",
         [](SimulatedDriveConfig& d) { d.takesWriteBuffer = true; },
         {"Flashing ..", "Err:The trigger was not sent (not sent: the transport sends no more commands).",
          AdviceLine(DriveState::BlocksSent)},
         UpdateResult::FlashFailed, DriveState::BlocksSent, 0, {}, std::nullopt, false, trigger},
        {"the mode query is not sent", noTrigger,
         {"Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.",
          "Err:The mode query was not sent (not sent: the transport sends no more commands).",
          AdviceLine(DriveState::TriggerRefused)},
         UpdateResult::FlashFailed, DriveState::TriggerRefused, 0, {}, std::nullopt, false, opcode(0x5A, 0xC0)},
        // The drive took the trigger: it may be programming, whatever the
        // program can no longer send.
        {"the ready wait's polls are not sent", [](SimulatedDriveConfig&) {},
         {"Flashing ..",
          "Err:The wait for the drive ended after 0 s: not sent: the transport sends no more commands.",
          AdviceLine(DriveState::TriggerTaken)},
         UpdateResult::FlashFailed, DriveState::TriggerTaken, 0, {}, std::nullopt, false, opcode(0x00)},
        {"the read-back is not sent", [](SimulatedDriveConfig&) {},
         {"Flashing ..", "Ok:Flash Complete!!",
          "Status:0;SenseCode:0 : 0 : 0; Read bank 0 at 0 failed: not sent: the transport sends no more commands.",
          "Err:The flash was not read back: the drive is not verified.", AdviceLine(DriveState::DriveReady)},
         UpdateResult::VerifyFailed, DriveState::DriveReady, 0, {}, std::nullopt, false, opcode(0x5A, 0x11)},
        // Any system error in the wait means not ready yet: the drive is still
        // there, busy, and comes back.
        {"the first polls after the trigger meet a busy system",
         [](SimulatedDriveConfig&) {},
         {"Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"},
         UpdateResult::Verified, DriveState::Verified, 0,
         {{.opcode = 0x00, .times = 3, .kind = MachineFaultKind::OsError, .osError = kBusyError}}},
    };
    const ImageOnDisk image = SaveDemoImage(dir);
    for (const SimulatedPlatform platform : kEveryPlatform) {
        for (const Row& row : rows) {
            if (row.onlyOn && *row.onlyOn != platform) continue;
            SCOPED_TRACE(PlatformTestName(platform) + ": " + row.name);
            SimulatedMachineConfig config;
            config.platform = platform;
            config.drives = {SimulatedDriveConfig{}};
            row.drive(config.drives[0]);
            config.faults = row.machineFaults;
            WindowBench window(config);
            window.Open(image.path);
            window.view.answer = kIdOk;
            if (row.stopSendingAt) window.bench.sending.StopWhen(row.stopSendingAt);
            window.Start();
            const UpdateReport& report = window.form.LastReport();
            if (platform == SimulatedPlatform::WindowsNt) {
                EXPECT_THAT(window.StartLines(), ElementsAreArray(row.messages));
                if (row.machineFaults.empty() || row.machineFaults[0].kind != MachineFaultKind::OsError) {
                    EXPECT_EQ(window.bench.ui.boxes.size(), row.systemErrorBoxes);
                }
            }
            const DriveState state =
                platform == SimulatedPlatform::Windows9x && row.aspiState ? *row.aspiState : row.state;
            EXPECT_EQ(window.form.LastUpdateResult(), row.result);
            EXPECT_EQ(report.state, state);
            EXPECT_EQ(window.form.Messages().back(), row.result == UpdateResult::Verified
                                                         ? std::string("OK:Verify ok!!")
                                                         : AdviceLine(state));
            if (row.blockUnanswered) {
                EXPECT_THAT(CommandsWhere(window.Drive(), IsTrigger), IsEmpty());
            }
            EXPECT_EQ(window.view.boxes.size(), row.result == UpdateResult::Verified ? 1u : 0u);
            EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
            // Method B is not even asked for unless the drive refused method A.
            const auto said = [&](const std::string& line) {
                return std::find(row.messages.begin(), row.messages.end(), line) != row.messages.end();
            };
            if (!said("Err:Flash Fail.")) {
                EXPECT_THAT(CommandsWhere(window.Drive(),
                                          [](const auto& c) { return c.IsVendor(0xC0) || c.Opcode() == 0x3B; }),
                            IsEmpty());
            }
        }
    }
}

// Two drives of one model behind ASPI; the selected one's INQUIRY fails after
// the scan. The check must see no identity at all, never the answer the
// layer last gave for the other drive: an image for the other drive is
// refused and nothing is written.
TEST_F(UpdateTest, AFailedInquiryOnAspiNeverLendsTheOtherDrivesIdentity) {
    SimulatedMachineConfig config = FindSimulatedProfile("aspi-inquiry-fails")->config;
    DemoFirmwareRecipe forSecond;
    forSecond.firmwareId = config.drives[1].firmwareId;
    const ImageOnDisk image = SaveDemoImage(dir, "second.kfs", forSecond);
    WindowBench window(config);
    window.Open(image.path);
    window.Start();
    EXPECT_THAT(window.StartLines(), ElementsAre("Err:The firmware is not support this device!!(4)"));
    for (const RecordedCommand& command : window.Drive(0).Commands())
        EXPECT_FALSE(IsWritingCommand(command)) << CdbText(command);
    EXPECT_EQ(window.form.LastReport().state, DriveState::Untouched);
}

// Wine drops SG_IO's host status: an INQUIRY that timed out at the scan
// comes back GOOD with nothing in it, and the drive is listed with empty
// texts. Nothing that follows may take it for a KELU drive.
TEST_F(UpdateTest, AnIdentificationThatTimedOutAsGoodNeverPassesTheChecks) {
    SimulatedMachineConfig config;
    config.platform = SimulatedPlatform::WindowsNt;
    config.drives = {SimulatedDriveConfig{}};
    config.faults = {{.opcode = 0x12, .kind = MachineFaultKind::TimeOutReportedAsGood}};
    WindowBench window(config);
    const ImageOnDisk image = SaveDemoImage(dir);
    window.Open(image.path);
    window.view.answer = kIdOk;
    window.Start();
    EXPECT_THAT(window.StartLines(), ElementsAre("Err:The firmware is not support this device!!(4)"));
    EXPECT_NE(window.form.LastUpdateResult(), UpdateResult::Verified);
    EXPECT_THAT(CommandsWhere(window.Drive(), [](const auto& c) { return c.Opcode() == 0x5A || c.Opcode() == 0x3B; }),
                IsEmpty());
}

TEST_F(UpdateTest, AVerificationThatDoesNotMatchOffersNoRestart) {
    WindowBench window;
    const ImageOnDisk image = SaveDemoImage(dir);
    window.Open(image.path);
    window.view.answer = kIdOk;
    // Something changes the flash while it is read back.
    bool changed = false;
    window.view.onProcessMessages = [&] {
        if (!changed && window.form.Progress().max == 65536) {
            window.Drive().MutableBank(5)[0x100] ^= 0x01;
            changed = true;
        }
    };
    window.Start();
    EXPECT_THAT(window.StartLines(), ElementsAre("Flashing ..", "Ok:Flash Complete!!", "Err:Verify NG !!",
                                                    AdviceLine(DriveState::VerificationFailed)));
    EXPECT_EQ(window.form.LastUpdateResult(), UpdateResult::VerifyFailed);
    EXPECT_THAT(window.view.boxes, IsEmpty());
    EXPECT_EQ(window.system.RestartRequests(), 0);
}

TEST_F(UpdateTest, FlashesAndVerifiesImageTwoOfAMultiImageFile) {
    std::vector<DemoFirmwareRecipe> recipes(3);
    for (size_t k = 0; k < recipes.size(); ++k) recipes[k].seed = 10 + k;
    const ImageWriteResult built = BuildDemoMultiFirmware(recipes);
    ASSERT_TRUE(built.ok) << built.error;
    const ImageOnDisk image = SaveImage(dir, "multi.kfs", built, 2);
    const uint16_t stride = built.header.StrideFromSlots();

    WindowBench window;
    window.Open(image.path);
    ASSERT_EQ(window.form.Selection().ImageIndex, 2);
    window.Drive().ClearCommands();
    window.Start();

    EXPECT_THAT(window.StartLines(), ElementsAre("Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"));
    // The blocks come from 64 + 2 x stride; the trigger carries image 2's checksum.
    const auto writes = CommandsWhere(window.Drive(), IsBlockWrite);
    ASSERT_EQ(writes.size(), 8u);
    for (size_t i = 0; i < writes.size(); ++i) {
        const size_t at = 64 + 2u * stride + 0x1000 * i;
        EXPECT_TRUE(std::equal(built.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               built.bytes.begin() + static_cast<std::ptrdiff_t>(at + 0x1000), writes[i].dataOut.begin()))
            << "block " << i;
    }
    const RecordedCommand trigger = CommandsWhere(window.Drive(), IsTrigger).front();
    EXPECT_EQ(trigger.cdb[10] << 8 | trigger.cdb[11], built.header.ImageChecksum(2));
    EXPECT_NE(built.header.ImageChecksum(2), built.header.Checksum());
    EXPECT_EQ(window.form.LastUpdateResult(), UpdateResult::Verified);
}

// The view acts while the update waits for the drive: Open, Start, Exit and
// the drive list are all disabled then, and the update goes on with the file
// it started with.
// While the bar stands still in the ready wait the status panel counts the
// seconds, and names each step before it; afterwards it shows the drive's
// line again. A close asked for meanwhile is said once.
TEST_F(UpdateTest, TheStatusPanelNamesTheStepAndCountsTheWait) {
    SimulatedDriveConfig drive;
    drive.programmingMilliseconds = 3500;
    WindowBench window(drive);
    const ImageOnDisk image = SaveDemoImage(dir);
    window.Open(image.path);
    window.view.onProcessMessages = [&] {
        if (window.form.Updating()) window.form.CloseDeferred();
    };
    const std::string driveLine = window.form.StatusPanelText();
    window.Start();
    ASSERT_EQ(window.form.LastUpdateResult(), UpdateResult::Verified);
    EXPECT_THAT(window.view.panel, ElementsAre(driveLine, "Copying the drive's patch area", "Writing the firmware (vendor blocks)",
                                               "Telling the drive to program", "Waiting for the drive: 0 of 120 s",
                                               "Waiting for the drive: 1 of 120 s", "Waiting for the drive: 2 of 120 s",
                                               "Waiting for the drive: 3 of 120 s", "Reading the flash back", driveLine));
    EXPECT_EQ(std::count(window.form.Messages().begin(), window.form.Messages().end(),
                         "The window closes when the update has ended."),
              1);
    // Outside an update a close is no news.
    window.form.CloseDeferred();
    EXPECT_EQ(window.form.Messages().back(), "OK:Verify ok!!");
}

TEST_F(UpdateTest, AViewThatActsInTheMiddleOfAnUpdateChangesNothing) {
    SimulatedMachineConfig config;
    config.drives = {SimulatedDriveConfig{}, SimulatedDriveConfig{}};
    WindowBench window(config);
    const ImageOnDisk first = SaveDemoImage(dir, "first.kfs");
    DemoFirmwareRecipe other;
    other.seed = 99;
    const ImageOnDisk second = SaveDemoImage(dir, "second.kfs", other);
    window.Open(first.path);
    const ImageHeader header = window.form.Header();
    int acted = 0;
    window.view.onProcessMessages = [&] {
        if (!window.form.Updating() || acted++ > 0) return;
        window.view.dialogAnswer = second.path;
        window.form.BitBtn1Click();
        window.form.OpenChosenFile();
        window.form.BitBtn2Click();
        window.form.SelDeviceChange(1);
        window.form.BitBtn3Click();
    };
    const int dialogsBefore = window.view.dialogs;
    window.Start();

    EXPECT_GT(acted, 0);
    EXPECT_EQ(window.view.dialogs, dialogsBefore) << "no dialog while the update runs";
    EXPECT_FALSE(window.view.closed);
    EXPECT_EQ(window.form.SelDeviceIndex(), 0);
    EXPECT_EQ(window.form.OpenDialogFileName(), first.path);
    EXPECT_EQ(window.form.Header().bytes, header.bytes);
    EXPECT_THAT(window.StartLines(), ElementsAre("Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"));
    EXPECT_THAT(window.Drive(1).Commands(), IsEmpty());
    EXPECT_EQ(window.Drive(0).TriggersAccepted(), 1);
    EXPECT_EQ(window.Drive(1).TriggersAccepted(), 0);
    const PlainImage plain = BuildDemoImageBlocks({});
    EXPECT_TRUE(std::equal(plain[0].begin(), plain[0].end(), window.Drive(0).Bank(0).begin()));
}

// On Windows NT no other program may use the drive from before the first
// write to the end of the update: its volume is locked after the checks, a
// disc dismounted only under the lock, and the unlock comes after the last
// command. A drive another program holds is refused with nothing written; an
// empty drive has nothing to lock. ASPI has no such lock.
TEST_F(UpdateTest, OtherProgramsAreKeptOffTheDriveForTheUpdate) {
    const std::vector<std::string> verified{"Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"};
    const std::vector<uint32_t> lockOnly{kFsctlLockVolume};
    struct Row {
        const char* name;
        SimulatedPlatform platform;
        std::optional<uint32_t> lockError;
        bool imageForTheDrive;
        std::vector<std::string> lines;
        std::vector<uint32_t> volumeControls;
    };
    const std::vector<Row> rows{
        {"a drive no other program uses", SimulatedPlatform::WindowsNt, std::nullopt, true, verified,
         {kFsctlLockVolume, kFsctlDismountVolume, kFsctlUnlockVolume}},
        {"files open on its disc", SimulatedPlatform::WindowsNt, 32, true,
         {"Err:Another program is using the drive (The process cannot access the file because it is being used by "
          "another process.): close it and start again!!"},
         lockOnly},
        {"another program's lock", SimulatedPlatform::WindowsNt, 5, true,
         {"Err:Another program is using the drive (Access is denied.): close it and start again!!"}, lockOnly},
        {"no disc", SimulatedPlatform::WindowsNt, 21, true, verified, lockOnly},
        {"a check refuses first", SimulatedPlatform::WindowsNt, 32, false,
         {"Err:The firmware is not support this device!!(4)"}, {}},
        {"ASPI", SimulatedPlatform::Windows9x, 32, true, verified, {}},
    };
    const ImageOnDisk forTheDrive = SaveDemoImage(dir);
    DemoFirmwareRecipe otherDrive;
    otherDrive.firmwareId = {0x4B, 0x39};
    const ImageOnDisk forAnother = SaveDemoImage(dir, "other.kfs", otherDrive);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimulatedMachineConfig config;
        config.platform = row.platform;
        config.windows.mountedVolumes = {0};
        if (row.lockError) config.windows.volumeLockErrors = {{0, *row.lockError}};
        WindowBench window(config);
        const auto& machine = dynamic_cast<const SimulatedWindowsMachine&>(window.bench.machine);
        window.Open(row.imageForTheDrive ? forTheDrive.path : forAnother.path);
        size_t callsByTheRestartQuestion = 0;
        window.view.onShowMessage = [&](const auto&) {
            callsByTheRestartQuestion = machine.Counters().volumeControls.size();
        };
        window.Start();

        EXPECT_THAT(window.StartLines(), ElementsAreArray(row.lines));
        const std::vector<SimulatedWindowsCounters::VolumeControlCall>& calls = machine.Counters().volumeControls;
        std::vector<uint32_t> codes;
        for (const auto& call : calls) codes.push_back(call.code);
        EXPECT_THAT(codes, ElementsAreArray(row.volumeControls));
        const std::vector<RecordedCommand>& commands = window.Drive().Commands();
        const auto firstWrite = std::find_if(commands.begin(), commands.end(), IsWritingCommand);
        if (row.lines != verified) {
            EXPECT_EQ(firstWrite, commands.end()) << "nothing is written after a refusal";
            EXPECT_EQ(window.form.LastUpdateResult(), UpdateResult::Refused);
            EXPECT_EQ(window.form.LastReport().state, DriveState::Untouched);
            EXPECT_EQ(window.form.LastReport().cause, row.lines.back());
            EXPECT_TRUE(machine.VolumeMounted(0)) << "a disc another program may use stays mounted";
        } else {
            EXPECT_EQ(window.form.LastUpdateResult(), UpdateResult::Verified);
            EXPECT_EQ(callsByTheRestartQuestion, row.volumeControls.size()) << "released before the restart question";
        }
        if (row.volumeControls.size() == 3 && calls.size() == 3) {
            EXPECT_LE(calls[0].commandsBefore, static_cast<size_t>(firstWrite - commands.begin()))
                << "the lock comes before the first write";
            EXPECT_EQ(calls[2].commandsBefore, commands.size()) << "the unlock comes after the last command";
            EXPECT_FALSE(machine.VolumeMounted(0));
        }
        EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
    }
}

}  // namespace
}  // namespace keluflash::test

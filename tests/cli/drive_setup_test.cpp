#include "app/cli/drive_setup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/cli/console_ui.h"
#include "drive/sim/simulated_windows_machine.h"
#include "drive/transfer_digest.h"
#include "image/descramble.h"

namespace keluflash::cli {
namespace {

class DriveSetupTest : public testing::Test {
protected:
    std::istringstream in;
    std::ostringstream out;
    ConsoleUi ui{in, out, false};
    CommonOptions options;
    SetupError error;
};

// The host's own platform: a Linux machine names its drives by their nodes,
// a Windows one by drive letter.
#if defined(_WIN32)
const char* const kFakeFirstDrivePath = "\\\\.\\D:";
const char* const kFakeFirstDriveOtherName = "D:";
#else
const char* const kFakeFirstDrivePath = "/dev/sg0";
const char* const kFakeFirstDriveOtherName = "/dev/sr0";
#endif

TEST_F(DriveSetupTest, SimulatedDefaultMachineAndDeviceSelection) {
    options.simulate = true;
    const auto setup = DriveSetup::Create(options, ui, error);
    ASSERT_NE(setup, nullptr) << error.message;
    ASSERT_EQ(setup->Atapi().DeviceCount(), 1);
    EXPECT_EQ(setup->Atapi().Device(0).IdentificationText(), "KELU    ZXR-0131K       ");
    EXPECT_EQ(setup->DevicePath(0), kFakeFirstDrivePath);
    ASSERT_NE(setup->Simulation(), nullptr);

    std::string why;
    for (const char* device : {"", "0", kFakeFirstDrivePath, kFakeFirstDriveOtherName}) {
        EXPECT_EQ(setup->SelectDevice(device, why), 0) << device;
    }
    EXPECT_EQ(setup->SelectDevice("1", why), std::nullopt);
    EXPECT_EQ(why, "no drive at index 1 (1 found)");
    EXPECT_EQ(setup->SelectDevice("/dev/sg9", why), std::nullopt);
    EXPECT_EQ(why, "no optical drive at /dev/sg9");
    EXPECT_EQ(setup->SelectDevice("-1", why), std::nullopt);
}

TEST_F(DriveSetupTest, TheNtProfileNamesItsDriveByLetter) {
    options.simulate = true;
    options.simulateProfile = "nt";
    const auto setup = DriveSetup::Create(options, ui, error);
    ASSERT_NE(setup, nullptr) << error.message;
    EXPECT_EQ(setup->DevicePath(0), "\\\\.\\D:");
    std::string why;
    for (const char* device : {"D:", "\\\\.\\D:"}) {
        EXPECT_EQ(setup->SelectDevice(device, why), 0) << device;
    }
}

TEST_F(DriveSetupTest, UnknownProfileIsAUsageErrorNamingTheProfiles) {
    options.simulate = true;
    options.simulateProfile = "no-such-machine";
    EXPECT_EQ(DriveSetup::Create(options, ui, error), nullptr);
    EXPECT_EQ(error.exitCode, kExitUsage);
    EXPECT_NE(error.message.find("\"no-such-machine\""), std::string::npos);
    for (const SimulatedProfile& profile : SimulatedProfiles()) {
        EXPECT_NE(error.message.find(profile.name), std::string::npos) << profile.name;
    }
}

TEST_F(DriveSetupTest, DrivesOutsideTheTableAreNamedWithTheReason) {
    // Six drives at D, E, G, H, I, J and a CD-ROM letter F that cannot be
    // opened: the table lists the first four that opened.
    SimulatedMachineConfig config;
    config.platform = SimulatedPlatform::WindowsNt;
    config.drives.assign(6, SimulatedDriveConfig{});
    config.windows.driveLetters = {'D', 'E', 'G', 'H', 'I', 'J'};
    config.windows.unopenableCdromLetters = {'F'};
    const auto setup = DriveSetup::CreateSimulated(config, options, ui, error);
    ASSERT_NE(setup, nullptr);
    TAtapi& atapi = setup->Atapi();
    ASSERT_EQ(atapi.DeviceCount(), 4);

    const std::vector<SeenDrive>& drives = setup->Drives();
    ASSERT_EQ(drives.size(), 7u);
    const char* paths[] = {"\\\\.\\D:", "\\\\.\\E:", "\\\\.\\G:", "\\\\.\\H:"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(drives[static_cast<size_t>(i)].tableIndex, i);
        EXPECT_EQ(drives[static_cast<size_t>(i)].path, paths[i]);
        EXPECT_EQ(drives[static_cast<size_t>(i)].failure, "");
    }
    EXPECT_EQ(drives[4].path, "\\\\.\\F:");
    EXPECT_EQ(drives[4].failure, "Access is denied.");
    EXPECT_EQ(drives[5].path, "\\\\.\\I:");
    EXPECT_EQ(drives[5].failure, "only the first four CD-ROM drive letters are listed");
    EXPECT_EQ(drives[5].tableIndex, -1);

    std::string why;
    EXPECT_EQ(setup->SelectDevice("F:", why), std::nullopt);
    EXPECT_EQ(why, "cannot use \\\\.\\F: (Access is denied.): run keluflash as administrator");
    ASSERT_EQ(setup->SelectDevice("H:", why), 3);
    EXPECT_EQ(atapi.SelectedHandle(), atapi.Device(3).handle);
    ASSERT_EQ(setup->SelectDevice("1", why), 1);
    EXPECT_EQ(atapi.SelectedHandle(), atapi.Device(1).handle);
}

TEST_F(DriveSetupTest, NoDriveToSelect) {
    SimulatedMachineConfig config;
    config.platform = SimulatedPlatform::WindowsNt;
    config.drives.clear();
    config.windows.unopenableCdromLetters = {'D'};
    const auto setup = DriveSetup::CreateSimulated(config, options, ui, error);
    ASSERT_NE(setup, nullptr);
    std::string why;
    EXPECT_EQ(setup->SelectDevice("", why), std::nullopt);
    EXPECT_EQ(why, "found 1 optical drive, but none can be used: \\\\.\\D: (Access is denied.): run keluflash as "
                   "administrator");
}

#if defined(__linux__)
// flash, verify and dump ask for the drive alone: a disc mounted in it, or a
// block node another program holds, refuses the drive with that cause before
// any command reaches it. list and info only look, and see every drive.
TEST_F(DriveSetupTest, AnExclusiveSetUpRefusesADriveWhoseBlockNodeIsTaken) {
    SimulatedMachineConfig config;
    config.drives.assign(3, SimulatedDriveConfig{});
    config.linuxAccess.mounted = {{1, "/media/user/KELU DISC"}};
    config.linuxAccess.blockNodeHeld = {2};
    options.exclusive = true;
    const auto setup = DriveSetup::CreateSimulated(config, options, ui, error);
    ASSERT_NE(setup, nullptr) << error.message;
    EXPECT_EQ(setup->Atapi().DeviceCount(), 1);
    std::string why;
    EXPECT_EQ(setup->SelectDevice("/dev/sg1", why), std::nullopt);
    EXPECT_EQ(why, "cannot use /dev/sg1 (the disc in /dev/sr1 is mounted at /media/user/KELU DISC: unmount it first)");
    EXPECT_EQ(setup->SelectDevice("/dev/sr2", why), std::nullopt);
    EXPECT_EQ(why, "cannot use /dev/sg2 (device busy: /dev/sr2 is held by another program, or mounted where this "
                   "program cannot see it): close the program that uses it");
    for (size_t drive : {1u, 2u}) EXPECT_TRUE(setup->Simulation()->Drive(drive).Commands().empty()) << drive;
    EXPECT_EQ(setup->SelectDevice("", why), 0);

    options.exclusive = false;
    const auto looking = DriveSetup::CreateSimulated(config, options, ui, error);
    ASSERT_NE(looking, nullptr) << error.message;
    EXPECT_EQ(looking->Atapi().DeviceCount(), 3);
}
#endif

TEST_F(DriveSetupTest, AspiDrivesAreNamedByTheirAddress) {
    const SimulatedProfile* aspi = FindSimulatedProfile("aspi");
    ASSERT_NE(aspi, nullptr);
    const auto setup = DriveSetup::CreateSimulated(aspi->config, options, ui, error);
    ASSERT_NE(setup, nullptr);
    ASSERT_GE(setup->Atapi().DeviceCount(), 1);
    const DeviceEntry& entry = setup->Atapi().Device(0);
    const std::string address = "ASPI " + std::to_string(entry.hostAdapter) + ":" + std::to_string(entry.target) +
                                ":" + std::to_string(entry.lun);
    EXPECT_EQ(setup->DevicePath(0), address);
    std::string why;
    EXPECT_EQ(setup->SelectDevice(address, why), 0);
}

TEST_F(DriveSetupTest, TraceWritesEveryCommandAsAJsonLine) {
    const std::string path = testing::TempDir() + "keluflash-trace-" +
                             testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
    options.traceFile = path;
    std::error_code leftOver;
    std::filesystem::remove(path, leftOver);  // by a run that stopped at a failed assertion
    const auto setup = DriveSetup::CreateSimulated(SimulatedMachineConfig{}, options, ui, error);
    ASSERT_NE(setup, nullptr) << error.message;
    TAtapi& atapi = setup->Atapi();
    EXPECT_EQ(atapi.TestUnitReady(), kStatusGood);
    uint8_t reply[50] = {};
    EXPECT_EQ(atapi.Inquiry(reply), kStatusGood);

    std::vector<nlohmann::json> lines;
    {
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            lines.push_back(nlohmann::json::parse(line));
        }
    }
    // The header, then the commands; the scan ran before the trace was attached.
    ASSERT_EQ(lines.size(), 3u);
    const nlohmann::json& header = lines[0];
    EXPECT_EQ(header["keluflash_trace"], 2);
    EXPECT_EQ(header["pass_through"], true);
    ASSERT_EQ(header["drives"].size(), 1u);
    EXPECT_EQ(header["drives"][0]["device"], setup->DevicePath(0));
    EXPECT_EQ(header["drives"][0]["identification"], "KELU    ZXR-0131K       ");
    EXPECT_EQ(header["drives"][0]["identification_hex"], "4b454c55202020205a58522d303133314b20202020202020");
    EXPECT_EQ(header["drives"][0]["revision"], "1.00");
    EXPECT_TRUE(header["unavailable"].empty());

    const nlohmann::json& ready = lines[1];
    EXPECT_EQ(ready["n"], 1);
    EXPECT_EQ(ready["device"], 0);
    EXPECT_EQ(ready["cdb"], "000000000000000000000000");
    EXPECT_EQ(ready["direction"], "none");
    EXPECT_EQ(ready["status"], 1);
    EXPECT_EQ(ready["outcome"], "answered");
    EXPECT_FALSE(ready.contains("data"));
    const nlohmann::json& inquiry = lines[2];
    EXPECT_EQ(inquiry["n"], 2);
    EXPECT_EQ(inquiry["cdb"], "120000003200000000000000");
    EXPECT_EQ(inquiry["direction"], "in");
    EXPECT_EQ(inquiry["length"], 50);
    // Every byte that came in, whole.
    EXPECT_EQ(inquiry["data"].get<std::string>().size(), 100u);
    EXPECT_EQ(inquiry["data"].get<std::string>().substr(16, 8), "4b454c55");  // "KELU"
    EXPECT_EQ(inquiry["sense"], nlohmann::json::array({0, 0, 0}));
    // The digest and the 16-bit sum cover the whole data phase.
    EXPECT_EQ(inquiry["digest"].get<std::string>().size(), 8u);
    EXPECT_EQ(inquiry["sum16"], AddToChecksum(0, reply, sizeof reply));
    EXPECT_TRUE(inquiry.contains("time_ms"));
    std::error_code ignored;
    std::filesystem::remove(path, ignored);  // Windows keeps a file that is still open
}

// A replay gives back what came in, so every byte of it is kept, also of
// the 64 KiB patch information; of what went out, the first 512 bytes and a
// digest of all of it.
TEST_F(DriveSetupTest, TraceKeepsEveryByteThatCameIn) {
    const std::string path = testing::TempDir() + "keluflash-trace-" +
                             testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
    options.traceFile = path;
    std::error_code leftOver;
    std::filesystem::remove(path, leftOver);
    const auto setup = DriveSetup::CreateSimulated(SimulatedMachineConfig{}, options, ui, error);
    ASSERT_NE(setup, nullptr) << error.message;
    std::vector<uint8_t> patchInfo(65536);
    setup->Atapi().VendorReadPatchInfo(patchInfo.data());
    std::vector<uint8_t> block(0xF000, 0x5A);
    setup->Atapi().VendorWriteBlock(block.data(), 4, 1, 0xF000, 0);

    std::vector<nlohmann::json> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1]["data"].get<std::string>().size(), 2u * 65536u);
    EXPECT_EQ(lines[2]["direction"], "out");
    EXPECT_EQ(lines[2]["data"].get<std::string>().size(), 2u * 512u);
    char digest[9];
    std::snprintf(digest, sizeof digest, "%08x", TransferDigest(block.data(), block.size()));
    EXPECT_EQ(lines[2]["digest"], digest);
    file.close();
    std::filesystem::remove(path, leftOver);
}

TEST_F(DriveSetupTest, UnwritableTraceFileFails) {
    options.simulate = true;
    options.traceFile = "/nonexistent-folder/trace.jsonl";
    EXPECT_EQ(DriveSetup::Create(options, ui, error), nullptr);
    EXPECT_EQ(error.exitCode, kExitFailed);
    EXPECT_EQ(error.message,
              "cannot write the trace to /nonexistent-folder/trace.jsonl: No such file or directory");
    EXPECT_EQ(error.kind, ErrorKind::File);
}

}  // namespace
}  // namespace keluflash::cli

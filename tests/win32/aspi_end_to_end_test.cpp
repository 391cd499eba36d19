// The ASPI path end to end under Wine: TAtapi over the real Windows ports
// (GetVersionExA, GetSystemDirectoryA, LoadLibraryA, SendASPI32Command,
// CreateEventA and WaitForSingleObject) and our simulated WNASPI32.DLL in the
// system directory. The test prefix shows this program Windows 98, so the
// platform choice itself picks the ASPI path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include <array>
#include <string>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "drive/atapi.h"
#include "drive/win32/win32_drive_ports.h"
#include "drive/win32/windows_api.h"
#include "drive/windows/aspi_transport.h"
#include "drive/windows/windows_transport.h"
#include "tests/app/window_fixture.h"
#include "tests/drive/fake_drive_ports.h"
#include "tests/flash/flash_fixture.h"
#include "tests/win32/wnaspi32/simulated_aspi_statistics.h"

namespace keluflash {
namespace {

using test::RecordingUi;

SimulatedAspiStatistics Statistics() {
    SimulatedAspiStatistics statistics;
    const HMODULE library = GetModuleHandleA("wnaspi32.dll");
    const auto entry = reinterpret_cast<GetSimulatedAspiStatisticsEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, kGetSimulatedAspiStatistics)));
    if (entry != nullptr) entry(&statistics);
    return statistics;
}

class AspiEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The simulated set-up: the drive at adapter 0, target 1, a disk at
        // target 0. Read by the library when it is first used.
        SetEnvironmentVariableA("KELUFLASH_SIMULATE", "aspi");
        SetEnvironmentVariableA("KELUFLASH_SIM_PROGRAMMING_MS", "300");
    }
    void SetUp() override { SetEnvironmentVariableA("KELUFLASH_ASPI_COMPLETION", "pending"); }

    RecordingUi ui;
    Win32DrivePorts ports;
};

TEST_F(AspiEndToEnd, StartUpLoadsTheLibraryFromTheSystemDirectoryAndFindsTheDrive) {
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);

    EXPECT_FALSE(atapi.NtFlag());
    ASSERT_FALSE(atapi.NtFlag());
    ASSERT_TRUE(dynamic_cast<AspiTransport&>(*transport).Loaded());
    EXPECT_THAT(ui.boxes, ::testing::IsEmpty());
    char loaded[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("wnaspi32.dll"), loaded, MAX_PATH);
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(lstrcmpiA(loaded, (std::string(system) + "\\WNASPI32.DLL").c_str()), 0) << loaded;

    // The disk at target 0 is probed and passed over.
    ASSERT_EQ(atapi.DeviceCount(), 1);
    const DeviceEntry& drive = atapi.Device(0);
    EXPECT_EQ(drive.handle, 0u);
    EXPECT_EQ(drive.hostAdapter, 0);
    EXPECT_EQ(drive.target, 1);
    EXPECT_EQ(drive.lun, 0);
    EXPECT_EQ(drive.IdentificationText(), "KELU    ZXR-0131K       ");
    EXPECT_EQ(drive.RevisionText(), "1.00");
    EXPECT_EQ(atapi.SelectedDevice().target, 1);
}

// The platform choice reads a failed GetVersionExA as "not NT" too, so the
// ASPI path alone does not show that the system said Windows 98: the report
// itself is checked, the 9x platform at version 4.10.
TEST_F(AspiEndToEnd, TheSystemReportsWindows98) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    EXPECT_EQ(version.dwMajorVersion, 4u);
    EXPECT_EQ(version.dwMinorVersion, 10u);
}

TEST_F(AspiEndToEnd, CommandsCompleteThroughTheirEventOrAtOnce) {
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);
    ASSERT_EQ(atapi.DeviceCount(), 1);

    const SimulatedAspiStatistics before = Statistics();
    std::array<uint8_t, 50> inquiry{};
    EXPECT_EQ(atapi.Inquiry(inquiry.data()), kStatusGood);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&inquiry[8]), 4), "KELU");
    EXPECT_EQ(atapi.TestUnitReady(), kStatusGood);
    const SimulatedAspiStatistics pending = Statistics();
    EXPECT_EQ(pending.completedByEvent - before.completedByEvent, 2u);

    SetEnvironmentVariableA("KELUFLASH_ASPI_COMPLETION", "immediate");
    EXPECT_EQ(atapi.TestUnitReady(), kStatusGood);
    const SimulatedAspiStatistics atOnce = Statistics();
    EXPECT_EQ(atOnce.completedAtOnce - pending.completedAtOnce, 1u);
    EXPECT_EQ(atOnce.completedByEvent, pending.completedByEvent);
    EXPECT_EQ(atOnce.aborts, 0u);
}

TEST_F(AspiEndToEnd, CheckConditionComesBackWithItsSenseAndTargetStatus) {
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);
    ASSERT_EQ(atapi.DeviceCount(), 1);
    const uint8_t unknownOpcode[12] = {0xFF};
    EXPECT_EQ(atapi.ExecuteCommand(unknownOpcode, nullptr, 0, kDirectionNone), kSsErr);
    EXPECT_EQ(atapi.LastResult().sense, (SenseTriple{5, 0x20, 0}));
    EXPECT_EQ(atapi.AspiTargetStatus(), 2);
    EXPECT_EQ(atapi.TestUnitReady(), kStatusGood);
    EXPECT_EQ(atapi.AspiTargetStatus(), 0);
}

TEST_F(AspiEndToEnd, A64KiBTransferTravelsWhole) {
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);
    ASSERT_EQ(atapi.DeviceCount(), 1);
    std::vector<uint8_t> patchInfo(65536, 0xEE);
    EXPECT_EQ(atapi.VendorReadPatchInfo(patchInfo.data()), kStatusGood);
    EXPECT_EQ(Statistics().lastBufLen, 65536u);
}

// The whole update from the Start click: TForm1 and a test view over TAtapi
// on the real ASPI port, the drive programming for real milliseconds while
// the ready wait polls with the real clock.
TEST_F(AspiEndToEnd, AWholeUpdateFlashesAndVerifies) {
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);
    ASSERT_EQ(atapi.DeviceCount(), 1);
    test::TempDir dir;
    const test::ImageOnDisk image = test::SaveDemoImage(dir);
    test::TestView view;
    RecordingSystemServices system;
    TForm1 form(atapi, ports.clock, system, view);
    view.form = &form;
    form.FormCreate();
    view.dialogAnswer = image.path;
    form.BitBtn1Click();
    ASSERT_EQ(form.Edit1Text(), "KELU    ZXR-0131K       1.00");

    const SimulatedAspiStatistics before = Statistics();
    view.answer = kIdCancel;  // the restart question
    form.BitBtn2Click();

    // The open's revision line, then the update's own.
    EXPECT_THAT(form.Messages(),
                ::testing::ElementsAre("Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)",
                                       "Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"));
    EXPECT_EQ(form.LastUpdateResult(), UpdateResult::Verified);
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].text, "Reboot this computer right now ?");
    EXPECT_EQ(system.RestartRequests(), 0);
    EXPECT_TRUE(form.BitBtn2Enabled());
    EXPECT_TRUE(form.SelDeviceEnabled());
    // 2016 reads of the read-back alone, every one through its event.
    const SimulatedAspiStatistics after = Statistics();
    EXPECT_GT(after.completedByEvent - before.completedByEvent, 2016u);
    EXPECT_EQ(after.aborts, before.aborts);
    EXPECT_EQ(after.neverCompleted, before.neverCompleted);
}

}  // namespace
}  // namespace keluflash

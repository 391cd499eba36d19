// The Windows drive ports over the real Win32 calls, under Wine.
#include <gtest/gtest.h>

#include <memory>

#include <cstdlib>
#include <string>

#include "drive/atapi.h"
#include "drive/win32/win32_aspi_port.h"
#include "drive/win32/win32_clock.h"
#include "drive/win32/win32_drive_letter_port.h"
#include "drive/win32/win32_drive_ports.h"
#include "drive/win32/win32_pass_through_port.h"
#include "drive/win32/win32_platform_port.h"
#include "drive/win32/win32_system_error_text.h"
#include "drive/win32/windows_api.h"
#include "drive/windows/aspi_transport.h"
#include "drive/windows/windows_transport.h"
#include "tests/drive/fake_drive_ports.h"

namespace keluflash {
namespace {

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path);
    return directory.substr(0, directory.find_last_of('\\'));
}

std::string FullSystemDirectory() {
    char path[MAX_PATH] = {};
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

TEST(Win32PlatformPort, WineDefaultsToTheNtFamily) {
    // This program is not one the test prefix presents Windows 98 to.
    EXPECT_TRUE(Win32PlatformPort{}.IsNtFamily());
}

TEST(Win32AspiPort, SystemDirectoryMustFitWithItsTerminatingZero) {
    Win32AspiPort port;
    const std::string full = FullSystemDirectory();
    ASSERT_LT(full.size(), 50u);
    EXPECT_EQ(port.SystemDirectory(50), full);
    EXPECT_EQ(port.SystemDirectory(full.size() + 1), full);
    EXPECT_EQ(port.SystemDirectory(full.size()), std::nullopt);
    EXPECT_EQ(port.SystemDirectory(4), std::nullopt);
}

TEST(Win32AspiPort, OnlyALibraryWithBothEntryPointsIsLoaded) {
    Win32AspiPort port;
    EXPECT_EQ(port.LoadAspiLibrary(FullSystemDirectory() + "\\NOSUCH32.DLL"), nullptr);
    EXPECT_EQ(port.LoadAspiLibrary(FullSystemDirectory() + "\\KERNEL32.DLL"), nullptr);
    const std::string half = ProgramDirectory() + "\\" KELUFLASH_HALF_ASPI_DLL;
    ASSERT_NE(GetFileAttributesA(half.c_str()), INVALID_FILE_ATTRIBUTES) << half;
    EXPECT_EQ(port.LoadAspiLibrary(half), nullptr);
    // A refused library is released again.
    EXPECT_EQ(GetModuleHandleA(KELUFLASH_HALF_ASPI_DLL), nullptr);
}

TEST(Win32AspiPort, EventStartsUnsignalledAndStaysSignalledOnceSet) {
    Win32AspiPort port;
    auto event = port.CreateCompletionEvent();
    ASSERT_NE(event, nullptr);
    ASSERT_NE(event->PostProc(), nullptr);
    EXPECT_EQ(event->Wait(10), AspiEvent::WaitResult::TimedOut);
    ASSERT_TRUE(SetEvent(event->PostProc()));
    EXPECT_EQ(event->Wait(0), AspiEvent::WaitResult::Signalled);
    EXPECT_EQ(event->Wait(0), AspiEvent::WaitResult::Signalled);  // manual reset
}

TEST(Win32SystemErrorText, TextMustFitTheBuffer) {
    Win32SystemErrorText text;
    uint32_t formatError = 0;
    const auto denied = text.SystemMessage(ERROR_ACCESS_DENIED, 80, formatError);
    ASSERT_TRUE(denied);
    EXPECT_FALSE(denied->empty());
    EXPECT_EQ(denied->back(), '\n');
    EXPECT_EQ(denied->find('\0'), std::string::npos);

    EXPECT_EQ(text.SystemMessage(ERROR_ACCESS_DENIED, denied->size(), formatError), std::nullopt);
    EXPECT_EQ(formatError, static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(text.SystemMessage(0x2FFFFFF, 80, formatError), std::nullopt);
    EXPECT_EQ(formatError, static_cast<uint32_t>(ERROR_MR_MID_NOT_FOUND));
}

// A system text with an insert ("%1") is shown as it stands: the transport
// passes no arguments to fill it with.
TEST(Win32SystemErrorText, TextWithAnInsertComesAsItStands) {
    DWORD withInsert = 0;
    for (DWORD error = 1; error < 16000 && withInsert == 0; ++error) {
        char probe[512] = {};
        if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, probe,
                           sizeof(probe), nullptr) != 0 &&
            std::string(probe).find("%1") != std::string::npos) {
            withInsert = error;
        }
    }
    ASSERT_NE(withInsert, 0u) << "the system has no error text with an insert";
    uint32_t formatError = 0;
    const auto text = Win32SystemErrorText{}.SystemMessage(withInsert, 512, formatError);
    ASSERT_TRUE(text) << "error " << withInsert << ", formatting failed with " << formatError;
    EXPECT_NE(text->find("%1"), std::string::npos) << *text;
}

TEST(Win32Clock, TickCountMovesWithAPause) {
    Win32Clock clock;
    const uint32_t before = clock.TickCount();
    clock.Sleep(100);
    const uint32_t elapsed = clock.TickCount() - before;
    EXPECT_GE(elapsed, 100u - 2 * 16);  // the counter moves in steps of about 16 ms
    EXPECT_LT(elapsed, 5000u);
}

// The test prefix makes D: and E: CD-ROM drives (tools/wine/prepare_prefix.sh).
class Win32DriveLetters : public ::testing::Test {
protected:
    void SetUp() override {
        if (Win32DriveLetterPort{}.DriveType('D') != kDriveCdrom) {
            GTEST_SKIP() << "no CD-ROM drive letter D: in this prefix";
        }
    }
};

TEST_F(Win32DriveLetters, TypesOpenAndClose) {
    Win32DriveLetterPort port;
    EXPECT_EQ(port.DriveType('C'), 3u);  // DRIVE_FIXED
    EXPECT_EQ(port.DriveType('E'), kDriveCdrom);
    EXPECT_EQ(port.DriveType('Q'), 1u);  // DRIVE_NO_ROOT_DIR
    EXPECT_EQ(port.DevicePath('D'), "\\\\.\\D:");

    const DeviceHandle d = port.Open('D');
    const DeviceHandle e = port.Open('E');
    ASSERT_NE(d, kInvalidHandle);
    ASSERT_NE(e, kInvalidHandle);
    EXPECT_NE(d, e);
    EXPECT_EQ(port.OpenFailure('D'), "");

    EXPECT_EQ(port.Open('Q'), kInvalidHandle);
    EXPECT_NE(port.OpenFailure('Q'), "");

    port.Close(d);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(reinterpret_cast<HANDLE>(d), &flags));  // closed
    EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(e), &flags));   // still owned
}

TEST_F(Win32DriveLetters, PassThroughReachesTheDeviceAndReportsItsError) {
    Win32DriveLetterPort letters;
    const DeviceHandle d = letters.Open('D');
    ASSERT_NE(d, kInvalidHandle);
    PassThroughBuffer buffer{};
    buffer.spt.Length = sizeof(ScsiPassThroughDirect);
    buffer.spt.CdbLength = 12;
    buffer.spt.DataIn = kScsiIoctlDataUnspecified;
    uint32_t lastError = 0;
    // Wine's CD-ROM driver does not take SCSI pass-through requests.
    EXPECT_FALSE(Win32PassThroughPort{}.DeviceIoControl(d, buffer, lastError));
    EXPECT_EQ(lastError, static_cast<uint32_t>(ERROR_NOT_SUPPORTED));

    EXPECT_FALSE(Win32PassThroughPort{}.DeviceIoControl(kInvalidHandle, buffer, lastError));
    EXPECT_EQ(lastError, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
}

// The volume's control codes as Wine answers them on a CD-ROM letter (its
// source: ntdll's NtFsControlFile answers the lock and the unlock itself,
// with success on any handle; the dismount goes on to the mount manager's
// CD-ROM device, which supports no such request). A drive another program
// holds cannot be made here: Wine has no volume lock to refuse.
TEST_F(Win32DriveLetters, VolumeControlsAsWineAnswersThem) {
    Win32DriveLetterPort letters;
    const DeviceHandle d = letters.Open('D');
    ASSERT_NE(d, kInvalidHandle);
    Win32PassThroughPort port;
    uint32_t lastError = 0;
    EXPECT_TRUE(port.VolumeControl(d, kFsctlLockVolume, lastError));
    EXPECT_FALSE(port.VolumeControl(d, kFsctlDismountVolume, lastError));
    EXPECT_EQ(lastError, static_cast<uint32_t>(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(port.VolumeControl(d, kFsctlUnlockVolume, lastError));
    letters.Close(d);
    EXPECT_FALSE(port.VolumeControl(d, kFsctlDismountVolume, lastError));
    EXPECT_EQ(lastError, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
}

// An update's hold over the real ports: the lock is taken and the disc
// stays mounted (Wine dismounts nothing), which does not stop the update.
TEST_F(Win32DriveLetters, AnUpdatesHoldOverTheRealPorts) {
    test::RecordingUi ui;
    Win32DrivePorts ports;
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);
    ASSERT_EQ(atapi.DeviceCount(), 2);
    const DriveHold hold = atapi.HoldSelectedDrive();
    EXPECT_EQ(hold.state, DriveHold::State::Held);
    EXPECT_EQ(hold.dismountError, static_cast<uint32_t>(ERROR_NOT_SUPPORTED));
    atapi.ReleaseSelectedDrive();
}

// TAtapi over every real port on the NT family: the scan opens both CD-ROM
// letters, and each INQUIRY meets Wine's refusal of SCSI pass-through, which
// the operator sees as the system's own text.
TEST_F(Win32DriveLetters, PassThroughPathOverTheRealPorts) {
    test::RecordingUi ui;
    Win32DrivePorts ports;
    const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports.Ports(ui));
    TAtapi atapi(*transport, ui);

    EXPECT_TRUE(atapi.NtFlag());
    EXPECT_TRUE(atapi.NtFlag()) << "the pass-through path never loads ASPI";
    ASSERT_EQ(atapi.DeviceCount(), 2);
    EXPECT_NE(atapi.Device(0).handle, atapi.Device(1).handle);
    EXPECT_EQ(atapi.SelectedHandle(), atapi.Device(0).handle);

    uint32_t formatError = 0;
    const std::string text = Win32SystemErrorText{}.SystemMessage(ERROR_NOT_SUPPORTED, 80, formatError).value();
    ASSERT_EQ(ui.boxes.size(), 2u);
    for (const auto& box : ui.boxes) EXPECT_EQ(box.text, text + "\n");

    ui.boxes.clear();
    EXPECT_EQ(atapi.TestUnitReady(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, text + "\n");
}

}  // namespace
}  // namespace keluflash

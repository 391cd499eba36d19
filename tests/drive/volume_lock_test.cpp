// Keeping other programs off a drive for an update, over the simulated
// machines: on Windows NT the drive letter's volume is locked, a disc is
// dismounted only under the lock, and the release unlocks it; what the lock
// fails with decides between a refusal and a drive with nothing to lock.
// Linux and ASPI have nothing to hold here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/sim/simulated_windows_machine.h"
#include "tests/support/recording_ui.h"

namespace keluflash {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Call = SimulatedWindowsCounters::VolumeControlCall;

SimulatedMachineConfig NtMachine(size_t drives = 1) {
    SimulatedMachineConfig config;
    config.platform = SimulatedPlatform::WindowsNt;
    config.drives.resize(drives);
    config.windows.mountedVolumes = {0};
    return config;
}

TEST(VolumeLock, NtLocksThenDismountsAndTheReleaseUnlocks) {
    test::RecordingUi ui;
    SimulatedWindowsMachine machine(NtMachine(), ui);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    const size_t commands = machine.Drive(0).Commands().size();
    ASSERT_TRUE(machine.VolumeMounted(0));

    const DriveHold hold = atapi.HoldSelectedDrive();
    EXPECT_EQ(hold.state, DriveHold::State::Held);
    EXPECT_EQ(hold.dismountError, 0u);
    EXPECT_FALSE(machine.VolumeMounted(0));
    EXPECT_THAT(machine.Counters().volumeControls,
                ElementsAre(Call{'D', kFsctlLockVolume, 0, commands}, Call{'D', kFsctlDismountVolume, 0, commands}));

    atapi.ReleaseSelectedDrive();
    atapi.ReleaseSelectedDrive();  // released once
    EXPECT_THAT(machine.Counters().volumeControls,
                ElementsAre(Call{'D', kFsctlLockVolume, 0, commands}, Call{'D', kFsctlDismountVolume, 0, commands},
                            Call{'D', kFsctlUnlockVolume, 0, commands}));
    EXPECT_EQ(machine.Drive(0).Commands().size(), commands) << "the lock is no drive command";
}

// A lock that fails is never followed by a dismount (that would take the
// disc from the program using it) nor by an unlock.
TEST(VolumeLock, WhatTheLockFailsWithDecides) {
    struct Row {
        uint32_t error;
        DriveHold::State state;
        std::string text;
        std::string cause;
        std::string fix;
    };
    const std::string inUse = "another program is using the drive";
    const std::string closeIt = "close it and start again";
    const std::vector<Row> rows{
        {5, DriveHold::State::Refused, "Access is denied.", inUse, closeIt},
        {32, DriveHold::State::Refused,
         "The process cannot access the file because it is being used by another process.", inUse, closeIt},
        {21, DriveHold::State::NothingToHold, "The device is not ready.", "no disc in the drive", ""},
        {1112, DriveHold::State::NothingToHold, "No media in drive.", "no disc in the drive", ""},
        // A refusal the program does not know is still a refusal.
        {1, DriveHold::State::Refused, "Incorrect function.", "the drive could not be locked against other programs",
         ""},
        {4242, DriveHold::State::Refused, "error 4242", "the drive could not be locked against other programs", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        test::RecordingUi ui;
        SimulatedMachineConfig config = NtMachine();
        config.windows.volumeLockErrors = {{0, row.error}};
        SimulatedWindowsMachine machine(config, ui);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());

        const DriveHold hold = atapi.HoldSelectedDrive();
        atapi.ReleaseSelectedDrive();
        EXPECT_EQ(hold.state, row.state);
        EXPECT_EQ(hold.systemError, row.error);
        EXPECT_EQ(hold.systemText, row.text);
        EXPECT_EQ(hold.cause, row.cause);
        EXPECT_EQ(hold.fix, row.fix);
        ASSERT_EQ(machine.Counters().volumeControls.size(), 1u);
        EXPECT_EQ(machine.Counters().volumeControls[0].code, kFsctlLockVolume);
        EXPECT_TRUE(machine.VolumeMounted(0));
        EXPECT_THAT(ui.boxes, IsEmpty()) << "the update says why, in its own line";
    }
}

// The release ends the hold on the drive that was held, wherever the
// selection has moved since.
TEST(VolumeLock, TheReleaseGoesToTheDriveThatWasHeld) {
    test::RecordingUi ui;
    SimulatedWindowsMachine machine(NtMachine(2), ui);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    ASSERT_EQ(atapi.HoldSelectedDrive().state, DriveHold::State::Held);
    atapi.SelectDevice(atapi.Device(1));
    atapi.ReleaseSelectedDrive();
    const std::vector<Call>& calls = machine.Counters().volumeControls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].letter, 'D');
    EXPECT_EQ(calls[2].code, kFsctlUnlockVolume);
}

// ASPI on Windows 98 has no volume lock: nothing is asked, whatever holds
// the drive. Linux opened the drive exclusively at the scan.
TEST(VolumeLock, AspiAndLinuxHaveNothingToHold) {
    test::RecordingUi ui;
    SimulatedMachineConfig config = NtMachine();
    config.platform = SimulatedPlatform::Windows9x;
    config.windows.volumeLockErrors = {{0, 32}};
    SimulatedWindowsMachine aspi(config, ui);
    TAtapi overAspi(aspi.DriveTransport(), aspi.Ui());
    const DriveHold hold = overAspi.HoldSelectedDrive();
    EXPECT_EQ(hold.state, DriveHold::State::NothingToHold);
    EXPECT_EQ(hold.cause, "");
    overAspi.ReleaseSelectedDrive();
    EXPECT_THAT(aspi.Counters().volumeControls, IsEmpty());
    EXPECT_EQ(aspi.Counters().passThroughCalls, 0u);

#if defined(__linux__)
    const std::unique_ptr<SimulatedMachine> sgIo = MakeSimulatedMachine(SimulatedMachineConfig{}, ui);
    TAtapi overSgIo(sgIo->DriveTransport(), sgIo->Ui());
    EXPECT_EQ(overSgIo.HoldSelectedDrive().state, DriveHold::State::NothingToHold);
    overSgIo.ReleaseSelectedDrive();
#endif
}

}  // namespace
}  // namespace keluflash

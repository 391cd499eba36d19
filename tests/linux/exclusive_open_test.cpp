// The drive held for one program over the simulated Linux machine: the block
// node held with O_EXCL for as long as the program's transport lives, and a
// mounted disc or a node held elsewhere refusing the drive before any command.
#include "drive/sim/linux/simulated_linux_machine.h"

#include <gtest/gtest.h>

#include <cstring>

#include "drive/atapi.h"
#include "tests/support/recording_ui.h"

namespace keluflash {
namespace {

using test::RecordingUi;

// What the transport's scan sends: one INQUIRY per drive it opened.
uint8_t Inquire(Transport& transport, const DeviceEntry& entry, uint8_t* inquiry) {
    const std::array<uint8_t, 12> cdb{0x12, 0, 0, 0, 0x32};
    CommandResult result;
    transport.Execute(entry, cdb.data(), inquiry, 50, kDirectionIn, result);
    return result.outcome == CommandOutcome::Answered ? kStatusGood : 0;
}

int ScanCount(SgIoTransport& transport) {
    DeviceTable table{};
    return transport.Scan(table, [&](const DeviceEntry& entry, uint8_t* inquiry) {
        return Inquire(transport, entry, inquiry);
    });
}

TEST(ExclusiveOpen, TheDriveIsOneProgramsUntilItsTransportEnds) {
    RecordingUi ui;
    SimulatedLinuxMachine machine(SimulatedMachineConfig{}, ui);
    const std::string busy =
        "device busy: /dev/sr0 is held by another program, or mounted where this program cannot see it";
    {
        SgIoTransport first(machine.Kernel(), "/dev", true);
        ASSERT_EQ(ScanCount(first), 1);
        // A second program that wants the drive alone meets the held block node.
        SgIoTransport second(machine.Kernel(), "/dev", true);
        EXPECT_EQ(ScanCount(second), 0);
        ASSERT_EQ(second.Unlisted().size(), 1u);
        EXPECT_EQ(second.Unlisted()[0].path, "/dev/sg0");
        EXPECT_EQ(second.Unlisted()[0].reason, busy);
        // Looking without taking the drive is not kept off.
        SgIoTransport looking(machine.Kernel());
        EXPECT_EQ(ScanCount(looking), 1);
    }
    SgIoTransport later(machine.Kernel(), "/dev", true);
    EXPECT_EQ(ScanCount(later), 1) << "the block node is let go with the transport that held it";
}

TEST(ExclusiveOpen, AMountedDiscOrAHeldNodeRefusesTheDriveBeforeAnyCommand) {
    RecordingUi ui;
    SimulatedMachineConfig config;
    config.drives.assign(4, SimulatedDriveConfig{});
    config.linuxAccess.mounted = {{1, "/media/user/KELU DISC"}};
    config.linuxAccess.blockNodeHeld = {2};
    // Without its sg node the drive is reached at its block node: the same refusal.
    config.linuxAccess.withoutSgAccess = {3};
    config.linuxAccess.mounted[3] = "/mnt";
    SimulatedLinuxMachine machine(config, ui);
    SgIoTransport& transport = static_cast<SgIoTransport&>(machine.ExclusiveDriveTransport());
    EXPECT_EQ(ScanCount(transport), 1);
    const std::vector<UnlistedDrive> unlisted = transport.Unlisted();
    ASSERT_EQ(unlisted.size(), 3u);
    EXPECT_EQ(unlisted[0].reason, "the disc in /dev/sr1 is mounted at /media/user/KELU DISC: unmount it first");
    EXPECT_EQ(unlisted[1].reason,
              "device busy: /dev/sr2 is held by another program, or mounted where this program cannot see it");
    EXPECT_EQ(unlisted[2].reason, "the disc in /dev/sr3 is mounted at /mnt: unmount it first");
    for (size_t drive = 1; drive < 4; ++drive) EXPECT_TRUE(machine.Drive(drive).Commands().empty()) << drive;
    EXPECT_EQ(machine.Drive(0).Commands().size(), 1u);

    // The program that only looks lists every drive.
    DeviceTable table{};
    EXPECT_EQ(machine.DriveTransport().Scan(table, [](const DeviceEntry&, uint8_t*) { return kStatusGood; }), 4);
}

}  // namespace
}  // namespace keluflash

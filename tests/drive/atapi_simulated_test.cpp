// TAtapi end to end over a simulated machine, on both paths: what the drive
// says about itself, a refused command with its sense, and the sense after a
// good command.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "drive/atapi.h"
#include "drive/sim/simulated_windows_machine.h"
#include "fake_drive_ports.h"

namespace keluflash {
namespace {

struct Path {
    const char* name;
    bool nt;
    uint8_t checkCondition;  // how each path reports a CHECK CONDITION
};
const std::array<Path, 2> kPaths{Path{"pass-through", true, 2}, Path{"ASPI", false, kSsErr}};

SimulatedMachineConfig OneDrive(bool nt) {
    SimulatedMachineConfig config;
    config.platform = nt ? SimulatedPlatform::WindowsNt : SimulatedPlatform::Windows9x;
    return config;
}

TEST(AtapiOverSimulatedMachine, FindsTheDriveAndReadsItsIdentity) {
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.name);
        test::RecordingUi ui;
        SimulatedWindowsMachine machine(OneDrive(path.nt), ui);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        EXPECT_EQ(atapi.NtFlag(), path.nt);
        ASSERT_EQ(atapi.DeviceCount(), 1);
        EXPECT_EQ(atapi.Device(0).IdentificationText(), "KELU    ZXR-0131K       ");
        EXPECT_EQ(atapi.Device(0).RevisionText(), "1.00");

        std::array<uint8_t, 50> inquiry{};
        EXPECT_EQ(atapi.Inquiry(inquiry.data()), kStatusGood);
        EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 12), "KELU");
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST(AtapiOverSimulatedMachine, CheckConditionCarriesItsSenseAndAGoodCommandClearsIt) {
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.name);
        test::RecordingUi ui;
        SimulatedMachineConfig config = OneDrive(path.nt);
        CommandFault fault;
        fault.opcode = 0x5A;
        fault.vendorSubCode = 0xC0;  // the mode query
        fault.times = 1;
        fault.sense = SenseTriple{0x05, 0x24, 0x00};
        config.drives[0].faults.push_back(fault);
        SimulatedWindowsMachine machine(config, ui);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());

        std::array<uint8_t, 10> mode{};
        EXPECT_EQ(atapi.VendorQueryMode(mode.data()), path.checkCondition);
        EXPECT_EQ(atapi.LastResult().sense, (SenseTriple{0x05, 0x24, 0x00}));
        if (!path.nt) {
            EXPECT_EQ(atapi.AspiTargetStatus(), 2);
        }

        EXPECT_EQ(atapi.TestUnitReady(), kStatusGood);
        EXPECT_EQ(atapi.LastResult().sense, (SenseTriple{0, 0, 0}));
        EXPECT_EQ(machine.Drive(0).Commands().back().cdb[0], 0x00);
    }
}

// A command the drive never finishes costs its wait and nothing more; the
// next command runs normally.
TEST(AtapiOverSimulatedMachine, ACommandThatNeverCompletesFailsAndTheNextOneRuns) {
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.name);
        test::RecordingUi ui;
        SimulatedMachineConfig config = OneDrive(path.nt);
        config.faults = {{.opcode = 0x00, .times = 1, .kind = MachineFaultKind::NeverCompletes}};
        SimulatedWindowsMachine machine(config, ui);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());

        // ASPI: the 30 s wait runs out and the request is aborted; pass-through:
        // the device time-out is no answer, and no "done" either.
        EXPECT_EQ(atapi.TestUnitReady(), path.nt ? 0 : kSsErr);
        EXPECT_EQ(atapi.LastResult().Verdict(), CommandVerdict::NoAnswer);
        EXPECT_EQ(atapi.TestUnitReady(), kStatusGood);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

// An ASPI layer that never answers a device probe does not hold start-up.
TEST(AtapiOverSimulatedMachine, StuckAspiProbeEndsTheScanInBoundedTime) {
    test::RecordingUi ui;
    SimulatedMachineConfig config = OneDrive(false);
    config.windows.aspiProbesNeverComplete = true;
    SimulatedWindowsMachine machine(config, ui);
    const uint64_t start = machine.Clock().Now();
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    EXPECT_EQ(atapi.DeviceCount(), 0);
    EXPECT_LE(machine.Clock().Now() - start, uint64_t{kAspiProbeWaitMilliseconds} + 100);
    EXPECT_GT(ui.pumps, 0);
}

TEST(AtapiOverSimulatedMachine, MissingAspiLibraryLeavesNoDrive) {
    test::RecordingUi ui;
    SimulatedMachineConfig config = OneDrive(false);
    config.windows.aspiInstalled = false;
    SimulatedWindowsMachine machine(config, ui);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    EXPECT_EQ(atapi.DeviceCount(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "WNASPI32.DLL not found");
    EXPECT_EQ(atapi.TestUnitReady(), kStatusNoTransport);
    EXPECT_TRUE(machine.Drive(0).Commands().empty());
}

}  // namespace
}  // namespace keluflash

// Finding the drives at start-up on both paths: which are listed, in what
// order, what their entries hold and which one is selected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/atapi.h"
#include "fake_drive_ports.h"

namespace keluflash {
namespace {

using test::AspiDeviceSlot;
using test::Completion;
using test::DeviceAnswer;
using test::FakeDriveLetters;
using test::FakeMachine;
using test::InquiryAnswer;
using test::InquiryDevice;

test::Device Named(const std::string& product) { return InquiryDevice(InquiryAnswer("KELU", product, "1.00")); }

std::vector<std::string> Identifications(const TAtapi& atapi) {
    std::vector<std::string> texts;
    for (int i = 0; i < atapi.DeviceCount(); ++i) texts.push_back(atapi.Device(i).IdentificationText());
    return texts;
}

// ---- Pass-through: the drive letters -------------------------------------------

TEST(PassThroughDiscovery, WalksLettersAToYInOrder) {
    FakeMachine machine;
    machine.AddLetterDrive('E', Named("EEE"));
    machine.AddLetterDrive('D', Named("DDD"));
    machine.AddLetterDrive('Z', Named("ZZZ"));
    TAtapi atapi(machine.DriveTransport(), machine.Ui());

    ASSERT_EQ(atapi.DeviceCount(), 2);
    EXPECT_EQ(Identifications(atapi), (std::vector<std::string>{"KELU    DDD             ", "KELU    EEE             "}));
    EXPECT_EQ(atapi.Device(0).handle, FakeDriveLetters::HandleOf('D'));
    EXPECT_EQ(atapi.Device(1).handle, FakeDriveLetters::HandleOf('E'));
    EXPECT_EQ(std::string(machine.letters.asked.begin(), machine.letters.asked.end()), "ABCDEFGHIJKLMNOPQRSTUVWXY");
    EXPECT_EQ(machine.letters.opened, (std::vector<char>{'D', 'E'}));
    // Entry 0 is the selected device; the address fields are the other path's.
    EXPECT_EQ(atapi.SelectedHandle(), FakeDriveLetters::HandleOf('D'));
    EXPECT_EQ(atapi.Device(1).hostAdapter + atapi.Device(1).target + atapi.Device(1).lun, 0);
}

TEST(PassThroughDiscovery, ListsTheFirstFourDrivesButAsksEveryOne) {
    FakeMachine machine;
    for (char letter : std::string("DEFGHI")) machine.AddLetterDrive(letter, Named(std::string(3, letter)));
    {
        const std::unique_ptr<Transport> transport = MakeWindowsTransport(machine.Ports());
        TAtapi atapi(*transport, machine.Ui());
        EXPECT_EQ(atapi.DeviceCount(), 4);
        EXPECT_EQ(Identifications(atapi).back(), "KELU    GGG             ");
        EXPECT_EQ(atapi.SelectedHandle(), FakeDriveLetters::HandleOf('D'));
        EXPECT_EQ(machine.letters.opened.size(), 6u);
        EXPECT_EQ(machine.passThrough.handles.back(), FakeDriveLetters::HandleOf('I')) << "I was queried too";
        EXPECT_TRUE(machine.letters.closed.empty());
    }
    // Destruction closes the handle the walk opened last.
    EXPECT_EQ(machine.letters.closed, std::vector<DeviceHandle>{FakeDriveLetters::HandleOf('I')});
}

TEST(PassThroughDiscovery, SkipsALetterThatDoesNotOpen) {
    FakeMachine machine;
    machine.AddLetterDrive('D', Named("DDD"));
    machine.AddLetterDrive('E', Named("EEE"));
    machine.AddLetterDrive('F', Named("FFF"));
    machine.letters.unopenable = {'D', 'F'};
    {
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        EXPECT_EQ(Identifications(atapi), std::vector<std::string>{"KELU    EEE             "});
        EXPECT_EQ(atapi.SelectedHandle(), FakeDriveLetters::HandleOf('E'));
        EXPECT_TRUE(machine.ui.boxes.empty());
    }
    // F's failed open was the last: no handle to close.
    EXPECT_TRUE(machine.letters.closed.empty());
}

TEST(PassThroughDiscovery, NoDriveLeavesAnEmptyTableAndNothingSelected) {
    FakeMachine machine;
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    EXPECT_EQ(atapi.DeviceCount(), 0);
    EXPECT_EQ(atapi.SelectedHandle(), 0u);
    EXPECT_TRUE(machine.passThrough.requests.empty());
    EXPECT_TRUE(machine.ui.boxes.empty());
}

// ---- ASPI: adapters, targets, LUNs ----------------------------------------------

TEST(AspiDiscovery, ProbesEveryAddressAndKeepsOnlyCdromDevices) {
    FakeMachine machine;
    machine.aspiDevices[{0, 0, 0}] = AspiDeviceSlot{0, Named("DISK")};   // a disk
    machine.aspiDevices[{0, 2, 0}] = AspiDeviceSlot{7, Named("MO")};     // optical memory
    machine.aspiDevices[{1, 0, 0}] = AspiDeviceSlot{5, Named("CDROM")};
    machine.UseAspi(2);
    machine.tune = [](test::FakeAspiLibrary& library) { library.supportInfo = 0xAB02; };  // status byte ignored
    TAtapi atapi(machine.DriveTransport(), machine.Ui());

    ASSERT_EQ(atapi.DeviceCount(), 1);
    const DeviceEntry& entry = atapi.Device(0);
    EXPECT_EQ(entry.handle, 0u);
    EXPECT_EQ((std::array<int, 3>{entry.hostAdapter, entry.target, entry.lun}), (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(entry.IdentificationText(), "KELU    CDROM           ");

    const auto& probes = machine.aspi.library->probes;
    ASSERT_EQ(probes.size(), 128u);
    for (size_t i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(probes[i].SRB_Cmd, kScGetDevType);
        EXPECT_EQ(probes[i].SRB_HaId, i / 64);
        EXPECT_EQ(probes[i].SRB_Target, (i / 8) % 8);
        EXPECT_EQ(probes[i].SRB_Lun, i % 8);
        EXPECT_EQ(probes[i].SRB_Flags + probes[i].SRB_Hdr_Rsvd + probes[i].SRB_Rsvd1, 0u);
    }
    // The INQUIRY went to the device just found.
    const auto& inquiry = machine.aspi.library->commands.at(0);
    EXPECT_EQ(inquiry.CDBByte[0], 0x12);
    EXPECT_EQ((std::array<int, 3>{inquiry.SRB_HaId, inquiry.SRB_Target, inquiry.SRB_Lun}),
              (std::array<int, 3>{1, 0, 0}));
}

TEST(AspiDiscovery, NoAdapterMeansNoProbe) {
    FakeMachine machine;
    machine.UseAspi(0);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    EXPECT_EQ(atapi.DeviceCount(), 0);
    EXPECT_TRUE(machine.aspi.library->probes.empty());
    EXPECT_TRUE(machine.ui.boxes.empty());
}

TEST(AspiDiscovery, SelectsEntryZeroAfterTheScan) {
    FakeMachine machine;
    machine.aspiDevices[{0, 2, 0}] = AspiDeviceSlot{5, Named("FIRST")};
    machine.aspiDevices[{0, 3, 1}] = AspiDeviceSlot{5, Named("SECOND")};
    machine.UseAspi(1);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    ASSERT_EQ(atapi.DeviceCount(), 2);
    EXPECT_EQ((std::array<int, 3>{atapi.SelectedDevice().hostAdapter, atapi.SelectedDevice().target, atapi.SelectedDevice().lun}),
              (std::array<int, 3>{0, 2, 0}));
    atapi.TestUnitReady();
    EXPECT_EQ(machine.aspi.library->commands.back().SRB_Target, 2);
    atapi.SelectDevice(atapi.Device(1));
    atapi.TestUnitReady();
    EXPECT_EQ(machine.aspi.library->commands.back().SRB_Target, 3);
    EXPECT_EQ(machine.aspi.library->commands.back().SRB_Lun, 1);
}

TEST(AspiDiscovery, StopsRecordingAtTwentyEntries) {
    FakeMachine machine;
    for (uint8_t target = 0; target < 3; ++target)
        for (uint8_t lun = 0; lun < 8; ++lun) machine.aspiDevices[{0, target, lun}] = AspiDeviceSlot{5, Named("X")};
    machine.UseAspi(1);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    EXPECT_EQ(atapi.DeviceCount(), 20);
    EXPECT_EQ(atapi.Device(19).target, 2);
    EXPECT_EQ(atapi.Device(19).lun, 3);
}

TEST(AspiDiscovery, WaitsForAPendingProbeWhilePumpingMessages) {
    FakeMachine machine;
    machine.aspiDevices[{0, 0, 1}] = AspiDeviceSlot{5, Named("LATE")};
    machine.UseAspi(1);
    machine.tune = [](test::FakeAspiLibrary& library) {
        library.probeCompletion = Completion::OnWait;
        library.probePumpsToComplete = 3;
    };
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    EXPECT_EQ(Identifications(atapi), std::vector<std::string>{"KELU    LATE            "});
    EXPECT_EQ(machine.ui.pumps, 3 * 64);
    EXPECT_TRUE(machine.aspi.library->aborts.empty());
}

// A probe the layer never answers must not hang start-up: the scan gives up
// on that adapter after a bounded wait, aborts the probe, keeps what it found
// and goes on with the next adapter.
TEST(AspiDiscovery, AProbeThatNeverCompletesSkipsTheRestOfItsAdapterOnly) {
    FakeMachine machine;
    machine.aspiDevices[{0, 0, 0}] = AspiDeviceSlot{5, Named("FOUND")};
    machine.aspiDevices[{0, 5, 0}] = AspiDeviceSlot{5, Named("AFTER")};
    machine.aspiDevices[{1, 2, 0}] = AspiDeviceSlot{5, Named("NEXT")};
    machine.UseAspi(2);
    machine.tune = [](test::FakeAspiLibrary& library) {
        library.probeMode = [](const SrbGDEVBlock& probe) {
            return probe.SRB_HaId == 0 && probe.SRB_Target == 1 && probe.SRB_Lun == 2 ? Completion::Never
                                                                                     : Completion::AtOnce;
        };
    };
    const uint32_t start = machine.clock.TickCount();
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    const uint32_t waited = machine.clock.TickCount() - start;
    EXPECT_GE(waited, kAspiProbeWaitMilliseconds);
    EXPECT_LE(waited, kAspiProbeWaitMilliseconds + 10);

    EXPECT_EQ(Identifications(atapi),
              (std::vector<std::string>{"KELU    FOUND           ", "KELU    NEXT            "}));
    EXPECT_EQ(machine.aspi.library->probes.size(), 8u + 3u + 64u);
    // The probe block given up on is never handed to the layer again.
    EXPECT_NE(machine.aspi.library->aborts[0].SRB_ToAbort, nullptr);
    ASSERT_EQ(machine.aspi.library->aborts.size(), 1u);
    EXPECT_EQ(machine.aspi.library->aborts[0].SRB_Cmd, kScAbortSrb);
    EXPECT_EQ(machine.aspi.library->aborts[0].SRB_HaId, 0);
    EXPECT_NE(machine.aspi.library->aborts[0].SRB_ToAbort, nullptr);
    EXPECT_EQ(atapi.SelectedDevice().target, 0);
}

// ---- Entry texts, both paths ------------------------------------------------------

TEST(Discovery, EntryTextsOnBothPaths) {
    struct Case {
        const char* name;
        std::vector<uint8_t> inquiry;
        uint8_t scsiStatus;
        std::string identification;
        std::string revision;
    };
    std::vector<uint8_t> zeroInRevision = InquiryAnswer("KELU", "ZXR-0131K", "1.0");
    zeroInRevision[35] = 0;
    zeroInRevision[34] = 0;
    zeroInRevision[33] = 'Q';  // "1Q" then zeros
    const std::vector<Case> cases{
        {"full fields", InquiryAnswer("KELU", "ZXR-0131K-ABCDEF", "1.05"), 0, "KELU    ZXR-0131K-ABCDEF", "1.05"},
        {"short revision", zeroInRevision, 0, "KELU    ZXR-0131K       ", "1Q"},
        {"failed INQUIRY", {}, 2, "", ""},
    };
    for (bool nt : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(nt ? "pass-through: " : "ASPI: ") + c.name);
            FakeMachine machine;
            const std::vector<uint8_t> inquiry = c.inquiry;
            const uint8_t scsiStatus = c.scsiStatus;
            auto device = [inquiry, scsiStatus](const uint8_t*) {
                return DeviceAnswer{scsiStatus, {}, inquiry};
            };
            if (nt) {
                machine.AddLetterDrive('D', device);
            } else {
                machine.aspiDevices[{0, 0, 0}] = AspiDeviceSlot{5, device};
                machine.UseAspi(1);
            }
            TAtapi atapi(machine.DriveTransport(), machine.Ui());
            ASSERT_EQ(atapi.DeviceCount(), 1);
            EXPECT_EQ(atapi.Device(0).IdentificationText(), c.identification);
            EXPECT_EQ(atapi.Device(0).RevisionText(), c.revision);
            EXPECT_EQ(atapi.Device(0).identification[24], 0);
            EXPECT_EQ(atapi.Device(0).revision[4], 0);
        }
    }
}

}  // namespace
}  // namespace keluflash

// The simulated machine's ports: pass-through, ASPI, drive letters, error
// texts and the named profiles, and TAtapi running over them.
#include "drive/sim/simulated_windows_machine.h"
#include "drive/windows/nt_pass_through_transport.h"
#include "tests/support/recording_ui.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "drive/atapi.h"
#include "drive/windows/aspi_request.h"
#include "image/image_writer.h"

namespace keluflash {
namespace {

using test::RecordingUi;

constexpr std::array<uint8_t, 12> kInquiry{0x12, 0, 0, 0, 0x32, 0, 0, 0, 0, 0, 0, 0};
constexpr std::array<uint8_t, 12> kTestUnitReady{};
constexpr std::array<uint8_t, 12> kUnknown{0x28};

class PassThroughTest : public ::testing::Test {
protected:
    PassThroughBuffer Request(const std::array<uint8_t, 12>& cdb, uint8_t* data, uint32_t length, uint8_t dataIn) {
        return MakePassThroughRequest(cdb.data(), data, length, dataIn);
    }
    RecordingUi ui;
};

TEST_F(PassThroughTest, RunsTheRequestOnTheDriveBehindTheHandle) {
    SimulatedMachineConfig config;
    config.drives = {SimulatedDriveConfig{}, SimulatedDriveConfig{}};
    config.drives[1].product = "ZXR-0150K";
    SimulatedWindowsMachine machine(config, ui);
    WindowsPorts ports = machine.Ports();
    const DeviceHandle e = ports.driveLetters.Open('E');
    ASSERT_NE(e, kInvalidHandle);

    std::array<uint8_t, 50> inquiry{};
    PassThroughBuffer request = Request(kInquiry, inquiry.data(), 50, kScsiIoctlDataIn);
    uint32_t error = 0;
    EXPECT_TRUE(ports.passThrough.DeviceIoControl(e, request, error));
    EXPECT_EQ(request.spt.ScsiStatus, 0);
    EXPECT_EQ(std::string(inquiry.begin() + 16, inquiry.begin() + 25), "ZXR-0150K");
    EXPECT_EQ(machine.Drive(1).Commands().size(), 1u);
    EXPECT_TRUE(machine.Drive(0).Commands().empty());

    // A closed or unknown handle.
    ports.driveLetters.Close(e);
    EXPECT_FALSE(ports.passThrough.DeviceIoControl(e, request, error));
    EXPECT_EQ(error, kErrorInvalidHandle);
    EXPECT_EQ(machine.Counters().handlesOpen, 0u);
}

TEST_F(PassThroughTest, SenseGoesWhereTheRequestSaysAndNoFurther) {
    SimulatedWindowsMachine machine({}, ui);
    WindowsPorts ports = machine.Ports();
    const DeviceHandle d = ports.driveLetters.Open('D');
    uint32_t error = 0;

    PassThroughBuffer request = Request(kUnknown, nullptr, 0, kScsiIoctlDataUnspecified);
    EXPECT_TRUE(ports.passThrough.DeviceIoControl(d, request, error));
    EXPECT_EQ(request.spt.ScsiStatus, kScsiStatusCheckCondition);
    EXPECT_EQ(request.sense[0], 0x70);
    EXPECT_EQ((SenseTriple{request.sense[2], request.sense[12], request.sense[13]}), (SenseTriple{5, 0x20, 0}));
    EXPECT_EQ(request.filler, 0u);

    // Only SenseInfoLength bytes, at SenseInfoOffset.
    request = Request(kUnknown, nullptr, 0, kScsiIoctlDataUnspecified);
    request.spt.SenseInfoOffset = offsetof(PassThroughBuffer, filler);
    request.spt.SenseInfoLength = 12;
    EXPECT_TRUE(ports.passThrough.DeviceIoControl(d, request, error));
    uint8_t filler[4];
    std::memcpy(filler, &request.filler, 4);
    EXPECT_EQ(filler[0], 0x70);
    EXPECT_EQ(filler[2], 5);
    EXPECT_EQ(request.sense[3], 10);  // sense byte 7, the additional length
    EXPECT_EQ(request.sense[8], 0);   // sense byte 12 (ASC 20) was not asked for

    // GOOD writes no sense.
    request = Request(kTestUnitReady, nullptr, 0, kScsiIoctlDataUnspecified);
    request.sense[2] = 0x99;
    EXPECT_TRUE(ports.passThrough.DeviceIoControl(d, request, error));
    EXPECT_EQ(request.sense[2], 0x99);

    // A sense area outside the buffer is refused before the drive sees anything.
    const size_t before = machine.Drive(0).Commands().size();
    request = Request(kUnknown, nullptr, 0, kScsiIoctlDataUnspecified);
    request.spt.SenseInfoLength = 40;
    EXPECT_FALSE(ports.passThrough.DeviceIoControl(d, request, error));
    EXPECT_EQ(error, kErrorInvalidParameter);
    EXPECT_EQ(machine.Drive(0).Commands().size(), before);
}

TEST_F(PassThroughTest, TransportErrorsAndACommandThatNeverCompletes) {
    SimulatedMachineConfig config;
    // The drive answers CHECK CONDITION and the bus fails on the way back.
    config.drives[0].faults = {{.opcode = 0x00, .nth = 1}};
    config.faults = {{.opcode = 0x00, .nth = 1, .kind = MachineFaultKind::HostError, .executes = true},
                     {.opcode = 0x00, .nth = 2, .kind = MachineFaultKind::NeverCompletes}};
    SimulatedWindowsMachine machine(config, ui);
    WindowsPorts ports = machine.Ports();
    const DeviceHandle d = ports.driveLetters.Open('D');
    uint32_t error = 0;

    PassThroughBuffer request = Request(kTestUnitReady, nullptr, 0, kScsiIoctlDataUnspecified);
    EXPECT_FALSE(ports.passThrough.DeviceIoControl(d, request, error));
    EXPECT_EQ(error, kErrorIoDevice);
    EXPECT_EQ(request.spt.ScsiStatus, kScsiStatusCheckCondition);  // the status byte left in the request
    EXPECT_EQ(request.sense[2], 4);

    const uint64_t before = machine.Clock().Now();
    request = Request(kTestUnitReady, nullptr, 0, kScsiIoctlDataUnspecified);
    EXPECT_FALSE(ports.passThrough.DeviceIoControl(d, request, error));
    EXPECT_EQ(error, kErrorSemTimeout);
    EXPECT_EQ(request.spt.ScsiStatus, 0);
    EXPECT_GE(machine.Clock().Now() - before, 20000u);

    machine.Disconnect(0);
    EXPECT_FALSE(ports.passThrough.DeviceIoControl(d, request, error));
    EXPECT_EQ(error, kErrorDeviceNotConnected);
}

TEST(SimulatedDriveLetters, TypesHandlesAndPaths) {
    RecordingUi ui;
    SimulatedMachineConfig config;
    config.drives = {SimulatedDriveConfig{}, SimulatedDriveConfig{}};
    config.windows.driveLetters = {'E', 'Z'};
    config.windows.otherLetterTypes = {{'C', 3}};
    config.windows.unopenableCdromLetters = {'G'};
    SimulatedWindowsMachine machine(config, ui);
    DriveLetterPort& letters = machine.Ports().driveLetters;
    EXPECT_EQ(letters.DriveType('C'), 3u);
    EXPECT_EQ(letters.DriveType('D'), 1u);
    EXPECT_EQ(letters.DriveType('E'), kDriveCdrom);
    EXPECT_EQ(letters.DriveType('G'), kDriveCdrom);
    EXPECT_EQ(letters.DriveType('Z'), kDriveCdrom);
    EXPECT_EQ(letters.Open('G'), kInvalidHandle);
    EXPECT_EQ(letters.OpenFailure('G'), "Access is denied.");
    EXPECT_EQ(letters.Open('D'), kInvalidHandle);
    const DeviceHandle first = letters.Open('E');
    const DeviceHandle second = letters.Open('E');
    EXPECT_NE(first, second);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(letters.DevicePath('E'), "\\\\.\\E:");
    EXPECT_EQ(letters.OpenFailure('E'), "");
    EXPECT_EQ(machine.Counters().handlesOpen, 2u);
}

TEST(SimulatedErrorTexts, WindowsTextsThatMustFitTheBuffer) {
    RecordingUi ui;
    SimulatedMachineConfig config;
    config.windows.errorTexts = {{4242, std::string(79, 'x')}};
    SimulatedWindowsMachine machine(config, ui);
    SystemErrorText& texts = machine.Ports().errorText;
    uint32_t formatError = 0;
    EXPECT_EQ(texts.SystemMessage(5, 80, formatError), "Access is denied.\r\n");
    EXPECT_EQ(texts.SystemMessage(2, 80, formatError), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(texts.SystemMessage(121, 80, formatError), "The semaphore timeout period has expired.\r\n");
    EXPECT_EQ(texts.SystemMessage(1117, 80, formatError),
              "The request could not be performed because of an I/O device error.\r\n");
    // 79 characters and the terminating zero fill 80 exactly; one more does not fit.
    EXPECT_TRUE(texts.SystemMessage(4242, 80, formatError));
    EXPECT_FALSE(texts.SystemMessage(4242, 79, formatError));
    EXPECT_EQ(formatError, kErrorInsufficientBuffer);
    formatError = 0;
    EXPECT_FALSE(texts.SystemMessage(1005, 80, formatError));
    EXPECT_EQ(formatError, kErrorInsufficientBuffer);
    EXPECT_FALSE(texts.SystemMessage(999999, 80, formatError));
    EXPECT_EQ(formatError, kErrorMessageNotFound);
}

class AspiTest : public ::testing::Test {
protected:
    void Exec(AspiLibrary& library, SrbExecSCSICmd& request, const std::array<uint8_t, 12>& cdb, AspiEvent* event,
              uint8_t target = 0) {
        request.SRB_Cmd = kScExecScsiCmd;
        request.SRB_HaId = 0;
        request.SRB_Flags = kSrbEventNotify;
        request.SRB_Target = target;
        request.SRB_Lun = 0;
        request.SRB_BufLen = 0;
        request.SRB_BufPointer = nullptr;
        request.SRB_SenseLen = kAspiSenseLength;
        request.SRB_CDBLen = 12;
        request.SRB_PostProc = event != nullptr ? event->PostProc() : nullptr;
        std::memcpy(request.CDBByte, cdb.data(), 12);
        library.SendASPI32Command(&request);
    }
    SimulatedMachineConfig Config() {
        SimulatedMachineConfig config;
        config.platform = SimulatedPlatform::Windows9x;
        return config;
    }
    RecordingUi ui;
};

TEST_F(AspiTest, LoadsOnlyFromTheSystemDirectoryAndOnlyWhenInstalled) {
    SimulatedMachineConfig config = Config();
    config.windows.systemDirectory = "C:\\WIN98\\SYSTEM";
    SimulatedWindowsMachine machine(config, ui);
    AspiPort& aspi = machine.Ports().aspi;
    EXPECT_FALSE(machine.Ports().platform.IsNtFamily());
    EXPECT_FALSE(aspi.SystemDirectory(15));
    EXPECT_EQ(aspi.SystemDirectory(16), "C:\\WIN98\\SYSTEM");
    EXPECT_EQ(aspi.LoadAspiLibrary("C:\\WIN98\\SYSTEMWNASPI32.DLL"), nullptr);
    {
        std::unique_ptr<AspiLibrary> library = aspi.LoadAspiLibrary("C:\\WIN98\\SYSTEM\\WNASPI32.DLL");
        ASSERT_NE(library, nullptr);
        EXPECT_EQ(library->GetASPI32SupportInfo(), 0x0101u);
        EXPECT_EQ(machine.Counters().librariesLoaded, 1u);
    }
    EXPECT_EQ(machine.Counters().librariesLoaded, 0u);

    config.windows.aspiInstalled = false;
    SimulatedWindowsMachine without(config, ui);
    EXPECT_EQ(without.Ports().aspi.LoadAspiLibrary("C:\\WIN98\\SYSTEM\\WNASPI32.DLL"), nullptr);
}

TEST_F(AspiTest, ProbesAnswerFromTheBusAndPendingOnesCompleteAtTheNextMessage) {
    SimulatedMachineConfig config = Config();
    config.windows.aspiAdapters = 2;
    config.windows.aspiAddresses = {{1, 2, 0}};
    config.windows.aspiOtherDevices = {{{0, 0, 0}, 0}};
    config.windows.aspiPending = true;
    SimulatedWindowsMachine machine(config, ui);
    WindowsPorts ports = machine.Ports();
    std::unique_ptr<AspiLibrary> library = ports.aspi.LoadAspiLibrary("C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL");

    auto probe = [&](uint8_t adapter, uint8_t target) {
        SrbGDEVBlock request{};
        request.SRB_Cmd = kScGetDevType;
        request.SRB_HaId = adapter;
        request.SRB_Target = target;
        library->SendASPI32Command(&request);
        EXPECT_EQ(request.SRB_Status, kSsPending);
        ports.ui.PumpMessage();
        return std::pair<uint8_t, uint8_t>{request.SRB_Status, request.SRB_DeviceType};
    };
    EXPECT_EQ(probe(1, 2), (std::pair<uint8_t, uint8_t>{kSsComp, 5}));
    EXPECT_EQ(probe(0, 0), (std::pair<uint8_t, uint8_t>{kSsComp, 0}));
    EXPECT_EQ(probe(0, 2).first, kSsNoDevice);
    EXPECT_EQ(probe(2, 0).first, kSsInvalidHa);
    EXPECT_EQ(ui.pumps, 4);  // the caller's queue is still served
}

TEST_F(AspiTest, ExecutesAtOnceWritingSenseOnlyWhenTheDriveReturnsSome) {
    SimulatedWindowsMachine machine(Config(), ui);
    WindowsPorts ports = machine.Ports();
    std::unique_ptr<AspiLibrary> library = ports.aspi.LoadAspiLibrary("C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL");
    SrbExecSCSICmd request{};
    {
        std::unique_ptr<AspiEvent> event = ports.aspi.CreateCompletionEvent();
        Exec(*library, request, kUnknown, event.get());
        EXPECT_EQ(request.SRB_Status, kSsErr);
        EXPECT_EQ(request.SRB_TargStat, kScsiStatusCheckCondition);
        EXPECT_EQ((SenseTriple{request.SenseArea[2], request.SenseArea[12], request.SenseArea[13]}),
                  (SenseTriple{5, 0x20, 0}));
        EXPECT_EQ(event->Wait(30000), AspiEvent::WaitResult::Signalled);
        EXPECT_EQ(machine.Counters().eventsOpen, 1u);
    }
    EXPECT_EQ(machine.Counters().eventsOpen, 0u);

    std::unique_ptr<AspiEvent> event = ports.aspi.CreateCompletionEvent();
    Exec(*library, request, kTestUnitReady, event.get());
    EXPECT_EQ(request.SRB_Status, kSsComp);
    EXPECT_EQ(request.SRB_TargStat, 0);
    EXPECT_EQ(request.SenseArea[2], 5);  // the layer left the previous sense

    Exec(*library, request, kTestUnitReady, event.get(), 3);
    EXPECT_EQ(request.SRB_Status, kSsNoDevice);
}

TEST_F(AspiTest, PendingRequestsCompleteInTheWaitAndAHangingOneIsAborted) {
    SimulatedMachineConfig config = Config();
    config.windows.aspiPending = true;
    config.faults = {{.opcode = 0x00, .nth = 1, .kind = MachineFaultKind::NeverCompletes},
                     {.opcode = 0x00, .nth = 2, .kind = MachineFaultKind::AspiWaitFails}};
    SimulatedWindowsMachine machine(config, ui);
    WindowsPorts ports = machine.Ports();
    std::unique_ptr<AspiLibrary> library = ports.aspi.LoadAspiLibrary("C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL");
    SrbExecSCSICmd request{};

    std::unique_ptr<AspiEvent> event = ports.aspi.CreateCompletionEvent();
    Exec(*library, request, kUnknown, event.get());
    EXPECT_EQ(request.SRB_Status, kSsPending);
    EXPECT_EQ(event->Wait(30000), AspiEvent::WaitResult::Signalled);
    EXPECT_EQ(request.SRB_Status, kSsErr);
    EXPECT_EQ(request.SenseArea[2], 5);

    event = ports.aspi.CreateCompletionEvent();
    Exec(*library, request, kTestUnitReady, event.get());
    EXPECT_EQ(request.SRB_Status, kSsPending);
    const uint64_t before = machine.Clock().Now();
    EXPECT_EQ(event->Wait(30000), AspiEvent::WaitResult::TimedOut);
    EXPECT_EQ(machine.Clock().Now() - before, 30000u);
    SrbAbort abort{};
    abort.SRB_Cmd = kScAbortSrb;
    abort.SRB_ToAbort = &request;
    library->SendASPI32Command(&abort);
    EXPECT_EQ(abort.SRB_Status, kSsComp);
    EXPECT_EQ(request.SRB_Status, kSsAborted);
    EXPECT_EQ(machine.Counters().aborts, 1u);
    EXPECT_EQ(machine.Counters().abortsOfPending, 1u);

    event = ports.aspi.CreateCompletionEvent();
    Exec(*library, request, kTestUnitReady, event.get());
    EXPECT_EQ(event->Wait(30000), AspiEvent::WaitResult::Failed);
}

TEST_F(AspiTest, EventsThatCannotBeCreated) {
    SimulatedMachineConfig config = Config();
    config.windows.aspiEventsFail = true;
    SimulatedWindowsMachine machine(config, ui);
    EXPECT_EQ(machine.Ports().aspi.CreateCompletionEvent(), nullptr);
}

// TAtapi over the simulated ports, on both paths.
TEST(SimulatedMachineWithAtapi, FindsTheDrivesOfEachProfile) {
    struct Expected {
        const char* profile;
        int devices;
        const char* firstText;
    };
    const Expected cases[] = {
        {"default", 1, "KELU    ZXR-0131K       "},  {"two-drives", 2, "KELU    ZXR-0131K       "},
        {"aspi", 1, "KELU    ZXR-0131K       "},     {"no-aspi", 0, ""},
        {"w0-family", 1, "KELU    ZXR-0130K       "},
    };
    for (const Expected& expected : cases) {
        SCOPED_TRACE(expected.profile);
        const SimulatedProfile* profile = FindSimulatedProfile(expected.profile);
        ASSERT_NE(profile, nullptr);
        RecordingUi ui;
        const std::unique_ptr<SimulatedMachine> machine = MakeSimulatedMachine(profile->config, ui);
        TAtapi atapi(machine->DriveTransport(), machine->Ui());
        EXPECT_EQ(atapi.DeviceCount(), expected.devices);
        EXPECT_EQ(atapi.Device(0).IdentificationText(), expected.firstText);
        EXPECT_EQ(atapi.NtFlag(), profile->config.platform != SimulatedPlatform::Windows9x);
    }
}

TEST(SimulatedMachineWithAtapi, AspiCommandThatNeverCompletesIsAbortedOnce) {
    RecordingUi ui;
    SimulatedMachineConfig config = FindSimulatedProfile("aspi")->config;
    config.faults = {{.opcode = 0x00, .kind = MachineFaultKind::NeverCompletes}};
    SimulatedWindowsMachine machine(config, ui);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    ASSERT_EQ(atapi.DeviceCount(), 1);
    EXPECT_EQ(atapi.SelectedDevice().target, 1);
    const uint64_t before = machine.Clock().Now();
    EXPECT_EQ(atapi.TestUnitReady(), kSsErr);
    EXPECT_GE(machine.Clock().Now() - before, 30000u);
    EXPECT_EQ(machine.Counters().abortsOfPending, 1u);

    // A drive that answers with sense: the layer passes it on.
    std::array<uint8_t, 12> read10{0x28};
    EXPECT_EQ(atapi.ExecuteCommand(read10.data(), nullptr, 0, kDirectionNone), kSsErr);
    EXPECT_EQ(atapi.LastResult().sense, (SenseTriple{5, 0x20, 0}));
    EXPECT_EQ(machine.Counters().eventsOpen, 0u);
}

TEST(SimulatedMachineWithAtapi, PassThroughStatusAndSenseReachTheCaller) {
    RecordingUi ui;
    SimulatedWindowsMachine machine({}, ui);
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    machine.Drive(0).Reset();
    EXPECT_EQ(atapi.TestUnitReady(), kScsiStatusCheckCondition);
    EXPECT_EQ(atapi.LastResult().sense, (SenseTriple{6, 0x29, 0}));
    EXPECT_EQ(atapi.TestUnitReady(), kStatusGood);
    EXPECT_EQ(atapi.LastResult().sense, (SenseTriple{}));

    machine.Disconnect(0);
    EXPECT_EQ(atapi.TestUnitReady(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "The device is not connected.\r\n\n");
}

// What did not move of a data phase comes back as the residual count, over
// each machine's own way of saying it (SG_IO's resid, the pass-through's
// DataTransferLength); ASPI has no such count.
TEST(SimulatedMachineWithAtapi, ResidualCountOverEachMachine) {
    struct Case {
        const char* profile;
        uint32_t residual;
    };
    const Case cases[] = {{"default", 14}, {"nt", 14}, {"aspi", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        RecordingUi ui;
        const std::unique_ptr<SimulatedMachine> machine = MakeSimulatedMachine(FindSimulatedProfile(c.profile)->config, ui);
        TAtapi atapi(machine->DriveTransport(), machine->Ui());
        ASSERT_EQ(atapi.DeviceCount(), 1);
        // REQUEST SENSE allocates 18 bytes; the buffer offered holds 32.
        const std::array<uint8_t, 12> requestSense{0x03, 0, 0, 0, 18};
        std::array<uint8_t, 32> buffer{};
        EXPECT_EQ(atapi.ExecuteCommand(requestSense.data(), buffer.data(), 32, kDirectionIn), kStatusGood);
        EXPECT_EQ(atapi.LastResult().residual, c.residual);
        EXPECT_EQ(atapi.LastResult().outcome, CommandOutcome::Answered);
    }
}

// The demo firmware goes into a drive with TAtapi's commands, the way each
// download method sends it, and reads back with the header's checksum.
TEST(SimulatedMachineWithAtapi, DemoFirmwareFlashesWithEitherMethodAndReadsBack) {
    const PlainImage blocks = BuildDemoImageBlocks(DemoFirmwareRecipe{});
    ASSERT_EQ(blocks.size(), 8u);
    const uint16_t checksum = BuildSingleImageFile(blocks).header.Checksum();
    const uint8_t count = static_cast<uint8_t>(blocks.size());
    for (const char* name : {"default", "method-b"}) {
        SCOPED_TRACE(name);
        RecordingUi ui;
        SimulatedWindowsMachine machine(FindSimulatedProfile(name)->config, ui);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        std::vector<uint8_t> buffer(65536);
        const bool methodB = std::string(name) == "method-b";
        for (uint8_t i = 0; i < count; ++i) {
            std::fill(buffer.begin(), buffer.end(), 0);
            if (methodB) {
                buffer[0] = static_cast<uint8_t>(blocks[i].size() >> 8);
                buffer[1] = static_cast<uint8_t>(blocks[i].size());
                std::copy(blocks[i].begin(), blocks[i].end(), buffer.begin() + 2);
                const uint32_t total = static_cast<uint32_t>(blocks[i].size() + 2);
                for (uint32_t offset = 0; offset < total; offset += 0x4000) {
                    ASSERT_EQ(atapi.WriteBufferDownload(buffer.data() + offset, i, static_cast<uint16_t>(offset),
                                                        std::min<uint32_t>(0x4000, total - offset)),
                              kStatusGood);
                }
            } else {
                std::copy(blocks[i].begin(), blocks[i].end(), buffer.begin());
                const uint16_t length = i == 1 || i == 2 ? 0xF000 : 0xFFFE;
                ASSERT_EQ(atapi.VendorWriteBlock(buffer.data(), 5, i, length, 0), kStatusGood);
            }
        }
        const uint8_t mode = methodB ? 5 : 4;
        const uint8_t code = static_cast<uint8_t>(count + (methodB ? 0xF0 : 0xE0));
        atapi.VendorWriteBlock(nullptr, mode, code, 0, checksum);
        EXPECT_EQ(atapi.LastResult().sense.key, 0);
        int polls = 0;
        while (atapi.TestUnitReady() != kStatusGood && polls < 200000) ++polls;
        EXPECT_GT(polls, 1);

        uint32_t sum = 0;
        for (uint8_t bank = 0; bank < count; ++bank) {
            for (uint32_t address = 0; address < (bank == 1 || bank == 2 ? 0xF000u : 0x10000u); address += 256) {
                ASSERT_EQ(atapi.VendorReadMemory(buffer.data(), bank, static_cast<uint16_t>(address)), kStatusGood);
                for (size_t b = 0; b < 256; ++b) sum += buffer[b];
            }
        }
        EXPECT_EQ(static_cast<uint16_t>(sum), checksum);
    }
}

// The patch area the profile reports holds other bytes than the demo image.
TEST(SimulatedMachineWithAtapi, PatchAreaProfileDiffersFromTheDemoImage) {
    const PlainImage blocks = BuildDemoImageBlocks(DemoFirmwareRecipe{});
    RecordingUi ui;
    SimulatedWindowsMachine machine(FindSimulatedProfile("patch-area")->config, ui);
    const SimulatedDriveConfig::PatchArea area = *machine.Drive(0).Config().patchArea;
    ASSERT_LE(size_t{area.start} + area.length, blocks.at(area.bank).size());
    const std::vector<uint8_t>& bank = machine.Drive(0).Bank(area.bank);
    EXPECT_FALSE(std::equal(bank.begin() + area.start, bank.begin() + area.start + area.length,
                            blocks[area.bank].begin() + area.start));
}

TEST(SimulatedProfilesList, NamedOnceDescribedOnOneLineDefaultFirst) {
    const std::vector<SimulatedProfile>& profiles = SimulatedProfiles();
    ASSERT_FALSE(profiles.empty());
    EXPECT_EQ(profiles.front().name, "default");
    std::set<std::string> names;
    for (const SimulatedProfile& profile : profiles) {
        EXPECT_TRUE(names.insert(profile.name).second) << profile.name;
        EXPECT_FALSE(profile.description.empty()) << profile.name;
        EXPECT_EQ(profile.description.find('\n'), std::string::npos) << profile.name;
        EXPECT_EQ(FindSimulatedProfile(profile.name), &profile);
    }
    for (const char* needed : {"method-b", "w0-family", "unknown-model", "aspi", "patch-area", "never-ready",
                               "two-drives"}) {
        EXPECT_TRUE(names.count(needed)) << needed;
    }
    EXPECT_EQ(FindSimulatedProfile("nonesuch"), nullptr);
}

}  // namespace
}  // namespace keluflash

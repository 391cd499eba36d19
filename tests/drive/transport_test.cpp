// The two command paths of TAtapi over scripted operating-system calls:
// what each request carries, every outcome's status, sense and message box.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
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

constexpr std::array<uint8_t, 12> kCdb{0x5A, 0x00, 0x38, 0x4B, 0x45, 0xA3, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const std::vector<uint8_t> kCheckCondition{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01};

// A machine with one drive whose answer the test sets; `answer` is asked for
// every command after construction.
struct Rig {
    FakeMachine machine;
    DeviceAnswer answer;
    std::unique_ptr<TAtapi> atapi;

    explicit Rig(bool nt) {
        auto device = [this](const uint8_t*) { return answer; };
        if (nt) {
            machine.AddLetterDrive('D', device);
        } else {
            machine.aspiDevices[{0, 1, 0}] = AspiDeviceSlot{5, device};
            machine.UseAspi(1);
        }
        atapi = std::make_unique<TAtapi>(machine.DriveTransport(), machine.Ui());
        machine.passThrough.requests.clear();
        if (!nt) machine.aspi.library->commands.clear();
    }
    uint8_t Run(uint8_t* data = nullptr, uint32_t length = 0, uint8_t direction = kDirectionNone) {
        return atapi->ExecuteCommand(kCdb.data(), data, length, direction);
    }
    test::FakeAspiLibrary& Aspi() { return *machine.aspi.library; }
};

// ---- Pass-through path -------------------------------------------------------

TEST(PassThroughTransport, RequestCarriesTheCommandWholeAndClearsTheLastSense) {
    Rig rig(true);
    rig.answer.scsiStatus = 2;
    rig.answer.sense = kCheckCondition;
    rig.Run();
    rig.answer = {};
    std::vector<uint8_t> data(65536);
    EXPECT_EQ(rig.Run(data.data(), 65536, kDirectionIn), kStatusGood);

    ASSERT_EQ(rig.machine.passThrough.requests.size(), 2u);
    const PassThroughBuffer& sent = rig.machine.passThrough.requests[1];
    EXPECT_EQ(rig.machine.passThrough.handles[1], FakeDriveLetters::HandleOf('D'));
    EXPECT_EQ(sent.spt.Length, sizeof(ScsiPassThroughDirect));
    EXPECT_EQ(sent.spt.CdbLength, 12);
    EXPECT_EQ(sent.spt.SenseInfoLength, 24);
    EXPECT_EQ(sent.spt.DataIn, kScsiIoctlDataIn);
    EXPECT_EQ(sent.spt.DataTransferLength, 65536u);
    EXPECT_EQ(sent.spt.TimeOutValue, 20u);
    EXPECT_EQ(sent.spt.DataBuffer, data.data());
    EXPECT_EQ(sent.spt.SenseInfoOffset, offsetof(PassThroughBuffer, sense));
    EXPECT_EQ(0, std::memcmp(sent.spt.Cdb, kCdb.data(), 12));
    EXPECT_EQ((std::array<uint8_t, 4>{sent.spt.Cdb[12], sent.spt.Cdb[13], sent.spt.Cdb[14], sent.spt.Cdb[15]}),
              (std::array<uint8_t, 4>{}));
    EXPECT_EQ(sent.spt.PathId + sent.spt.TargetId + sent.spt.Lun + sent.spt.ScsiStatus, 0);
    EXPECT_EQ(sent.filler, 0u);
    // The previous command's CHECK CONDITION sense is gone before the call.
    EXPECT_EQ(std::vector<uint8_t>(sent.sense, sent.sense + 32), std::vector<uint8_t>(32, 0));
    EXPECT_EQ(rig.atapi->LastResult().sense, (SenseTriple{0, 0, 0}));
}

TEST(PassThroughTransport, DirectionCodesMapToDataIn) {
    Rig rig(true);
    const std::vector<std::pair<uint8_t, uint8_t>> cases{
        {kDirectionIn, kScsiIoctlDataIn}, {kDirectionOut, kScsiIoctlDataOut},
        {kDirectionNone, kScsiIoctlDataUnspecified}, {4, kScsiIoctlDataUnspecified},
        {kDirectionIn | kDirectionOut, kScsiIoctlDataUnspecified}};
    for (const auto& [direction, dataIn] : cases) {
        rig.Run(nullptr, 0, direction);
        const auto& spt = rig.machine.passThrough.requests.back().spt;
        EXPECT_EQ(spt.DataIn, dataIn) << "direction " << int(direction);
        EXPECT_EQ(spt.DataTransferLength, 0u);
        EXPECT_EQ(spt.DataBuffer, nullptr);
    }
}

// Every outcome of the call: the status, the sense it leaves and the box.
TEST(PassThroughTransport, OutcomesGiveStatusSenseAndMessage) {
    struct Case {
        const char* name;
        std::optional<uint32_t> error;
        uint8_t scsiStatus;
        std::vector<uint8_t> sense;
        std::map<uint32_t, std::string> texts;
        uint8_t status;
        SenseTriple triple;
        std::optional<std::string> box;
    };
    const std::string longText(80, 'x');
    const std::vector<Case> cases{
        {"good", {}, 0, {}, {}, 1, {}, {}},
        {"check condition", {}, 2, kCheckCondition, {}, 2, {5, 0x24, 1}, {}},
        {"busy", {}, 8, {}, {}, 8, {}, {}},
        // A time-out is no answer: never "done", whatever status byte it left.
        {"semaphore time-out, status 0", 121, 0, {}, {}, 0, {}, {}},
        {"I/O device error with check condition", 1117, 2, kCheckCondition, {}, 2, {5, 0x24, 1}, {}},
        {"access denied", 5, 0, {}, {{5, "Access is denied.\r\n"}}, 0, {}, "Access is denied.\r\n\n"},
        {"no text for the error", 1, 0, {}, {}, 0, {}, "Format message failed.  Error: 317\n"},
        {"text of 80 characters", 31, 0, {}, {{31, longText}}, 0, {}, "Format message failed.  Error: 122\n"},
        {"79 characters fit", 31, 0, {}, {{31, longText.substr(1)}}, 0, {}, longText.substr(1) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(true);
        rig.machine.passThrough.failWith = c.error;
        rig.machine.errorText.texts = c.texts;
        rig.answer.scsiStatus = c.scsiStatus;
        rig.answer.sense = c.sense;
        EXPECT_EQ(rig.Run(), c.status);
        EXPECT_EQ(rig.atapi->LastResult().sense, c.triple);
        ASSERT_EQ(rig.machine.ui.boxes.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(rig.machine.ui.boxes[0].text, *c.box);
            EXPECT_EQ(rig.machine.ui.boxes[0].caption, "KELUFlash");
            EXPECT_EQ(rig.machine.ui.boxes[0].flags, kMbOk);
            EXPECT_EQ(rig.machine.errorText.capacities, std::vector<size_t>{80});
        }
    }
}

// ---- ASPI path ---------------------------------------------------------------

TEST(AspiTransport, RequestBlockCarriesTheCommandAndNothingElse) {
    Rig rig(false);
    rig.Aspi().haStat = 0x11;  // left in the block by the layer
    std::vector<uint8_t> data(65536);
    // Complete, yet with the adapter's selection time-out: no answer, never "done".
    EXPECT_EQ(rig.Run(data.data(), 65536, kDirectionIn), 0);
    EXPECT_EQ(rig.atapi->LastResult().Verdict(), CommandVerdict::NoAnswer);
    rig.Run(nullptr, 0, kDirectionNone);
    rig.Run(data.data(), 16, kDirectionOut);

    const auto& commands = rig.Aspi().commands;
    ASSERT_EQ(commands.size(), 3u);
    const SrbExecSCSICmd& sent = commands[0];
    EXPECT_EQ(sent.SRB_Cmd, kScExecScsiCmd);
    EXPECT_EQ(sent.SRB_HaId, 0);
    EXPECT_EQ(sent.SRB_Flags, 0x48);
    EXPECT_EQ(sent.SRB_Target, 1);
    EXPECT_EQ(sent.SRB_Lun, 0);
    EXPECT_EQ(sent.SRB_BufLen, 65536u);
    // The layer works on the transport's own copy of the data.
    EXPECT_NE(sent.SRB_BufPointer, nullptr);
    EXPECT_EQ(sent.SRB_SenseLen, 14);
    EXPECT_EQ(sent.SRB_CDBLen, 12);
    EXPECT_NE(static_cast<void*>(sent.SRB_PostProc), nullptr);  // packed: read by value
    EXPECT_EQ(0, std::memcmp(sent.CDBByte, kCdb.data(), 12));
    // Cleared once when the block was made, never written by a command.
    EXPECT_EQ(sent.SRB_Hdr_Rsvd + sent.SRB_Rsvd1, 0u);
    EXPECT_EQ(std::vector<uint8_t>(sent.SRB_Rsvd2, sent.SRB_Rsvd2 + 20), std::vector<uint8_t>(20, 0));
    EXPECT_EQ(commands[1].SRB_Flags, 0x40);
    EXPECT_EQ(commands[1].SRB_BufLen, 0u);
    EXPECT_EQ(commands[1].SRB_BufPointer, nullptr);
    EXPECT_EQ(commands[1].SRB_HaStat, 0x11) << "fields the layer writes are left alone";
    EXPECT_EQ(commands[2].SRB_Flags, 0x50);
}

// How the layer completes (or does not), and what the transport returns.
TEST(AspiTransport, CompletionsGiveStatusWaitAndAbort) {
    struct Case {
        const char* name;
        Completion completion;
        AspiEvent::WaitResult unsignalled;
        bool eventsWork;
        uint8_t scsiStatus;
        uint8_t status;
        std::vector<uint32_t> waits;
        size_t aborts;
        size_t sent;
    };
    using W = AspiEvent::WaitResult;
    const std::vector<Case> cases{
        {"completes before the call returns", Completion::AtOnce, W::TimedOut, true, 0, 1, {}, 0, 1},
        {"completes with an error at once", Completion::AtOnce, W::TimedOut, true, 2, 4, {}, 0, 1},
        {"completes later", Completion::OnWait, W::TimedOut, true, 0, 1, {30000}, 0, 1},
        {"completes later with an error", Completion::OnWait, W::TimedOut, true, 2, 4, {30000}, 0, 1},
        {"never completes", Completion::Never, W::TimedOut, true, 0, 4, {30000}, 1, 1},
        {"the wait fails", Completion::Never, W::Failed, true, 0, 4, {30000}, 1, 1},
        {"no event", Completion::AtOnce, W::TimedOut, false, 0, 4, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(false);
        rig.Aspi().commandCompletion = c.completion;
        rig.Aspi().unsignalled = c.unsignalled;
        rig.machine.aspi.eventsWork = c.eventsWork;
        rig.answer.scsiStatus = c.scsiStatus;
        EXPECT_EQ(rig.Run(), c.status);
        EXPECT_EQ(rig.Aspi().waits, c.waits);
        EXPECT_EQ(rig.Aspi().commands.size(), c.sent);
        ASSERT_EQ(rig.Aspi().aborts.size(), c.aborts);
        if (c.aborts != 0) {
            const SrbAbort& abort = rig.Aspi().aborts[0];
            EXPECT_EQ(abort.SRB_Cmd, kScAbortSrb);
            EXPECT_EQ(abort.SRB_HaId, 0);
            EXPECT_EQ(abort.SRB_Flags, 0);
            EXPECT_EQ(abort.SRB_Hdr_Rsvd, 0u);
            EXPECT_NE(abort.SRB_ToAbort, nullptr);
        }
        EXPECT_EQ(rig.machine.aspi.openEvents, 0) << "the event is always closed";
        EXPECT_TRUE(rig.machine.ui.boxes.empty());
    }
}

// A layer that calls a request complete while the drive answered CHECK
// CONDITION: the command failed, and the caller's buffer keeps its bytes.
TEST(AspiTransport, ACompletionTheDrivesStatusContradictsIsAnError) {
    Rig rig(false);
    rig.answer.scsiStatus = 2;
    rig.answer.sense = kCheckCondition;
    rig.answer.dataIn = std::vector<uint8_t>(16, 0xEE);
    rig.answer.aspiStatus = kSsComp;
    std::vector<uint8_t> data(16, 0x11);
    EXPECT_EQ(rig.Run(data.data(), 16, kDirectionIn), kSsErr);
    EXPECT_EQ(data, std::vector<uint8_t>(16, 0x11));
    EXPECT_EQ(rig.atapi->LastResult().sense.key, kCheckCondition[2]);
}

// A layer that keeps an aborted request for good: the block and the buffer it
// points to are never used or freed again, the operator is told once, and no
// further command is sent.
TEST(AspiTransport, ARequestNeverGivenBackIsRetiredAndStopsTheTransport) {
    Rig rig(false);
    rig.Aspi().commandCompletion = Completion::Never;
    rig.Aspi().abortLeavesPending = true;
    std::vector<uint8_t> data(16, 0xAA);
    EXPECT_EQ(rig.Run(data.data(), 16, kDirectionIn), kSsErr);
    ASSERT_EQ(rig.machine.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.machine.ui.boxes[0].text, kAspiStuckText);
    EXPECT_EQ(data, std::vector<uint8_t>(16, 0xAA)) << "the caller's buffer was never handed to the layer";

    EXPECT_EQ(rig.Run(), kStatusNoTransport);
    EXPECT_EQ(rig.Aspi().commands.size(), 1u);
    EXPECT_EQ(rig.machine.ui.boxes.size(), 1u);
}

TEST(AspiTransport, SenseComesFromTheBlockAndIsClearedBeforeEachCommand) {
    Rig rig(false);
    rig.answer.scsiStatus = 2;
    rig.answer.sense = kCheckCondition;
    rig.answer.sense[2] = 0x25;  // incorrect-length bit over key 5
    EXPECT_EQ(rig.Run(), kSsErr);
    EXPECT_EQ(rig.atapi->LastResult().sense, (SenseTriple{0x25, 0x24, 0x01}));
    EXPECT_EQ(rig.atapi->AspiTargetStatus(), 2);

    rig.answer = {};
    EXPECT_EQ(rig.Run(), kStatusGood);
    EXPECT_EQ(rig.atapi->LastResult().sense, (SenseTriple{0, 0, 0}));
    EXPECT_EQ(rig.atapi->AspiTargetStatus(), 0);
}

TEST(PassThroughTransport, SenseKeyIsTheWholeByteTwo) {
    Rig rig(true);
    rig.answer.scsiStatus = 2;
    rig.answer.sense = kCheckCondition;
    rig.answer.sense[2] = 0x25;
    rig.Run();
    EXPECT_EQ(rig.atapi->LastResult().sense.key, 0x25);
}

TEST(AspiTransport, MissingLibraryShowsTheBoxAndLeavesNoTransport) {
    struct Case {
        const char* name;
        std::optional<std::string> directory;
        std::vector<std::string> loads;
    };
    const std::vector<Case> cases{
        {"not installed", std::string("C:\\WINDOWS\\SYSTEM"), {"C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL"}},
        {"system directory longer than its buffer", std::string(50, 'C'), {}},
        {"system directory unknown", std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        machine.aspiDevices[{0, 0, 0}] = AspiDeviceSlot{5, test::InquiryDevice({})};
        machine.UseAspi(1);
        machine.aspi.installed = false;
        machine.aspi.systemDirectory = c.directory;
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        EXPECT_EQ(machine.aspi.directoryCapacities, std::vector<size_t>{50});
        EXPECT_EQ(machine.aspi.loads, c.loads);
        ASSERT_EQ(machine.ui.boxes.size(), 1u);
        EXPECT_EQ(machine.ui.boxes[0].text, "WNASPI32.DLL not found");
        EXPECT_EQ(machine.ui.boxes[0].caption, "KELUFlash");
        EXPECT_EQ(machine.ui.boxes[0].flags, kMbOk);
        EXPECT_FALSE(dynamic_cast<AspiTransport&>(machine.DriveTransport()).Loaded());
        EXPECT_EQ(atapi.DeviceCount(), 0);
        EXPECT_EQ(atapi.SelectedDevice().hostAdapter + atapi.SelectedDevice().target + atapi.SelectedDevice().lun, 0);

        std::array<uint8_t, 4> data{1, 2, 3, 4};
        EXPECT_EQ(atapi.ExecuteCommand(kCdb.data(), data.data(), 4, kDirectionIn), kStatusNoTransport);
        EXPECT_EQ(data, (std::array<uint8_t, 4>{1, 2, 3, 4}));
        EXPECT_EQ(atapi.LastResult().sense, SenseTriple{});
        EXPECT_EQ(machine.aspi.eventsCreated, 0);
        EXPECT_EQ(machine.ui.boxes.size(), 1u);
    }
}

TEST(AspiTransport, LibraryLoadsFromTheSystemDirectoryAndIsFreedAtTheEnd) {
    FakeMachine machine;
    machine.UseAspi(0);
    {
        const std::unique_ptr<Transport> transport = MakeWindowsTransport(machine.Ports());
        TAtapi atapi(*transport, machine.Ui());
        EXPECT_TRUE(dynamic_cast<AspiTransport&>(*transport).Loaded());
        EXPECT_FALSE(atapi.NtFlag());
        EXPECT_EQ(machine.aspi.loads, std::vector<std::string>{"C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL"});
        EXPECT_TRUE(machine.ui.boxes.empty());
        EXPECT_EQ(machine.aspi.librariesFreed, 0);
    }
    EXPECT_EQ(machine.aspi.librariesFreed, 1);
    EXPECT_TRUE(machine.letters.asked.empty()) << "the drive letters belong to the other path";
}

TEST(PassThroughTransport, NeverLoadsAspi) {
    FakeMachine machine;
    TAtapi atapi(machine.DriveTransport(), machine.Ui());
    EXPECT_TRUE(atapi.NtFlag());
    EXPECT_TRUE(machine.aspi.loads.empty());
    EXPECT_TRUE(machine.aspi.directoryCapacities.empty());
    EXPECT_EQ(atapi.AspiTargetStatus(), 0);
}

// The observer sees every command on both paths, with its outcome.
TEST(CommandObserver, SeesEveryCommandWithStatusAndSense) {
    struct Recorder final : CommandObserver {
        std::vector<std::tuple<uint8_t, uint8_t, uint32_t, uint8_t, SenseTriple>> seen;
        void CommandExecuted(const CommandRecord& r) override {
            seen.emplace_back(r.cdb[0], r.direction, r.length, r.status, r.result.sense);
        }
    };
    for (bool nt : {true, false}) {
        SCOPED_TRACE(nt ? "pass-through" : "ASPI");
        Rig rig(nt);
        Recorder recorder;
        rig.atapi->SetCommandObserver(&recorder);
        std::array<uint8_t, 50> inquiry{};
        rig.atapi->Inquiry(inquiry.data());
        rig.answer.scsiStatus = 2;
        rig.answer.sense = kCheckCondition;
        rig.atapi->TestUnitReady();
        rig.atapi->SetCommandObserver(nullptr);
        rig.atapi->TestUnitReady();
        const uint8_t failed = nt ? 2 : kSsErr;
        EXPECT_EQ(recorder.seen, (std::vector<std::tuple<uint8_t, uint8_t, uint32_t, uint8_t, SenseTriple>>{
                                     {0x12, kDirectionIn, 50, 1, {}}, {0x00, kDirectionNone, 0, failed, {5, 0x24, 1}}}));
    }
}


// Sense is read in one place, in both formats a drive may send.
TEST(ParseSense, FixedAndDescriptorFormats) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        SenseTriple expected;
    };
    const Case cases[] = {
        {"nothing", {}, {}},
        {"fixed", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01}, {0x05, 0x24, 0x01}},
        // The firmware reads byte 2 whole: its flag bits stay.
        {"fixed with flags", {0xF0, 0, 0x25, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01}, {0x25, 0x24, 0x01}},
        {"fixed cut short", {0x70, 0, 0x02, 0, 0, 0, 0, 10}, {0x02, 0, 0}},
        {"descriptor", {0x72, 0x02, 0x04, 0x07, 0, 0, 0, 0}, {0x02, 0x04, 0x07}},
        {"descriptor deferred", {0x73, 0x06, 0x29, 0x00}, {0x06, 0x29, 0x00}},
        {"descriptor cut short", {0x72, 0x02}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseSense(c.bytes.data(), c.bytes.size()), c.expected);
    }
}

}  // namespace
}  // namespace keluflash

// The SG_IO transport over a scripted kernel: the scan, the request it hands
// to the kernel, and how each answer of the kernel becomes the status byte
// and the result's category.
#include "drive/linux/sg_io_transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "drive/atapi.h"

namespace keluflash {
namespace {

// Answers for the kernel: drives in sysfs, which nodes open, and one SG_IO
// outcome; records what it was asked.
class ScriptedKernel final : public LinuxKernel {
public:
    std::vector<OpticalDriveNode> drives;
    std::map<std::string, int> openErrors;           // path -> errno; other paths open
    std::function<int(sg_io_hdr_t&)> answer = [](sg_io_hdr_t&) { return 0; };
    std::vector<std::string> opened;
    std::vector<int> open;
    int calls = 0;
    sg_io_hdr_t seen{};
    std::array<uint8_t, 16> cdb{};
    int seenFd = -1;

    std::vector<OpticalDriveNode> OpticalDrives() override { return drives; }
    std::map<std::string, std::string> mounts;       // block node -> mount point
    std::vector<bool> exclusiveOpens;
    std::string MountPoint(const std::string& blockPath) override {
        const auto found = mounts.find(blockPath);
        return found != mounts.end() ? found->second : std::string();
    }
    int Open(const std::string& path, bool exclusive) override {
        exclusiveOpens.push_back(exclusive);
        if (const auto error = openErrors.find(path); error != openErrors.end()) return -error->second;
        opened.push_back(path);
        open.push_back(m_next);
        return m_next++;
    }
    std::map<std::string, int> claimErrors;          // block node -> errno; other block nodes are held
    std::vector<std::string> claimed;
    std::vector<int> claimFds;
    int Claim(const std::string& blockPath) override {
        if (const auto error = claimErrors.find(blockPath); error != claimErrors.end()) return -error->second;
        claimed.push_back(blockPath);
        claimFds.push_back(m_next);
        open.push_back(m_next);
        return m_next++;
    }
    void Close(int fd) override { std::erase(open, fd); }
    bool present = true;                             // the device behind every node is still there
    std::vector<std::string> presenceAsked;
    bool StillPresent(const std::string& nodeName) override {
        presenceAsked.push_back(nodeName);
        return present;
    }
    std::string NodeGroup(const std::string& path) override { return "group of " + path; }
    std::string NodeHolders(const std::string& path) override { return "holder of " + path; }
    int SgIo(int fd, sg_io_hdr_t& header) override {
        ++calls;
        seenFd = fd;
        seen = header;
        std::memcpy(cdb.data(), header.cmdp, std::min<size_t>(header.cmd_len, cdb.size()));
        return answer(header);
    }

private:
    int m_next = 40;
};

OpticalDriveNode Node(unsigned n, const std::string& sg) { return {n, "sr" + std::to_string(n), sg}; }

uint8_t AnswerInquiry(const DeviceEntry&, uint8_t* inquiry) {
    std::memcpy(inquiry + 8, "KELU    ZXR-0131K       1.00", 28);
    return kStatusGood;
}

class SgIoTransportTest : public ::testing::Test {
protected:
    ScriptedKernel kernel;
    DeviceTable table{};
    std::array<uint8_t, 12> tur{};
    std::vector<uint8_t> data = std::vector<uint8_t>(50);

    DeviceEntry ScanOne(SgIoTransport& transport) {
        kernel.drives = {Node(0, "sg1")};
        EXPECT_EQ(transport.Scan(table, AnswerInquiry), 1);
        return table[0];
    }
};

TEST_F(SgIoTransportTest, ScanListsEveryDriveAtItsNodeAndSaysWhyOneIsMissing) {
    kernel.drives = {Node(0, "sg1"), Node(1, ""), Node(2, "sg3"), Node(3, "sg4"), Node(4, "sg5")};
    // The fake kernel's nodes: both refused, the sg node is named; a missing
    // node is not the reason; a refused sg node falls back to the block node.
    kernel.openErrors = {{"/dev/sg3", EACCES}, {"/dev/sr2", EACCES},  // fake
                         {"/dev/sg4", ENOENT}, {"/dev/sr3", EACCES},  // fake
                         {"/dev/sg5", EACCES}};                       // fake
    {
        SgIoTransport transport(kernel);
        ASSERT_EQ(transport.Scan(table, AnswerInquiry), 3);
        EXPECT_EQ(kernel.opened, (std::vector<std::string>{"/dev/sg1", "/dev/sr1", "/dev/sr4"}));
        EXPECT_EQ(transport.DevicePath(table[0]), "/dev/sg1");
        EXPECT_EQ(transport.OtherNames(table[0]), std::vector<std::string>{"/dev/sr0"});
        EXPECT_EQ(transport.DevicePath(table[1]), "/dev/sr1");
        EXPECT_EQ(transport.DevicePath(table[2]), "/dev/sr4");
        EXPECT_EQ(table[2].IdentificationText(), "KELU    ZXR-0131K       ");
        EXPECT_EQ(table[2].RevisionText(), "1.00");
        const std::vector<UnlistedDrive> unlisted = transport.Unlisted();
        ASSERT_EQ(unlisted.size(), 2u);
        // The node named is the one whose group or holder the fix names.
        const UnlistedDrive& sg3 = unlisted[0];
        EXPECT_EQ(sg3.path, "/dev/sg3");
        EXPECT_EQ(sg3.reason, "permission denied");
        EXPECT_EQ(sg3.cause, UnlistedCause::NodePermission);
        EXPECT_EQ(sg3.owningGroup, "group of /dev/sg3");
        EXPECT_EQ(unlisted[1].path, "/dev/sr3");
        EXPECT_EQ(unlisted[1].owningGroup, "group of /dev/sr3");
        EXPECT_TRUE(transport.PassThrough());
    }
    EXPECT_TRUE(kernel.open.empty()) << "every node the scan opened is closed with the transport";
}

// For a command that writes or reads the flash the drive is ours alone: every
// node is opened with O_EXCL, and the block node is held with O_EXCL for as
// long as the transport lives. A node another program holds is refused
// without trying its other node; a drive whose block node is taken (a mounted
// disc, found in the mount table, or another program) is refused with that
// cause, its nodes closed and nothing sent to it.
TEST_F(SgIoTransportTest, AnExclusiveScanHoldsTheBlockNodeAndTakesNoDriveSomeoneElseHas) {
    kernel.drives = {Node(0, "sg0"), Node(1, "sg1"), Node(2, "sg2"), Node(3, "sg3")};
    // The scripted (fake) kernel's nodes.
    kernel.openErrors = {{"/dev/sg1", EBUSY}};
    kernel.claimErrors = {{"/dev/sr2", EBUSY}, {"/dev/sr3", EBUSY}};
    kernel.mounts = {{"/dev/sr2", "/media/user/KELU DISC"}};
    int identified = 0;
    const auto identify = [&](const DeviceEntry& entry, uint8_t* inquiry) {
        ++identified;
        return AnswerInquiry(entry, inquiry);
    };
    {
        SgIoTransport transport(kernel, "/dev", true);
        EXPECT_EQ(transport.Scan(table, identify), 1);
        EXPECT_EQ(identified, 1) << "a refused drive is sent nothing";
        EXPECT_EQ(kernel.opened, (std::vector<std::string>{"/dev/sg0", "/dev/sg2", "/dev/sg3"}));
        EXPECT_EQ(kernel.exclusiveOpens, (std::vector<bool>{true, true, true, true}));
        EXPECT_EQ(kernel.claimed, std::vector<std::string>{"/dev/sr0"});
        // The drive's sg node and its held block node stay open; the refused drives' are closed.
        EXPECT_EQ(kernel.open, (std::vector<int>{40, kernel.claimFds.at(0)}));
        const std::vector<UnlistedDrive> unlisted = transport.Unlisted();
        ASSERT_EQ(unlisted.size(), 3u);
        EXPECT_EQ(unlisted[0].reason, "device busy");
        EXPECT_EQ(unlisted[1].path, "/dev/sg2");
        EXPECT_EQ(unlisted[1].reason, "the disc in /dev/sr2 is mounted at /media/user/KELU DISC: unmount it first");
        EXPECT_EQ(unlisted[1].otherNames, std::vector<std::string>{"/dev/sr2"});
        EXPECT_EQ(unlisted[2].path, "/dev/sg3");
        EXPECT_EQ(unlisted[2].reason,
                  "device busy: /dev/sr3 is held by another program, or mounted where this program cannot see it");
        EXPECT_EQ(unlisted[2].cause, UnlistedCause::InUse);
        EXPECT_EQ(unlisted[2].holders, "holder of /dev/sr3");
    }
    EXPECT_TRUE(kernel.open.empty()) << "the block node is let go with the transport";

    // The window and `list` look without taking the drive.
    kernel.exclusiveOpens.clear();
    kernel.claimed.clear();
    SgIoTransport shared(kernel);
    EXPECT_EQ(shared.Scan(table, AnswerInquiry), 3);
    EXPECT_EQ(kernel.exclusiveOpens.front(), false);
    EXPECT_TRUE(kernel.claimed.empty());
}

// A block node that cannot be held. A failure that means nothing there can be
// mounted or held (no medium, the device offline, no node here, a user who
// may open only the sg node) leaves the drive usable, unless the mount table
// names it; any other failure refuses the drive.
TEST_F(SgIoTransportTest, ABlockNodeThatCannotBeHeld) {
    struct Case {
        int error;
        bool mounted;
        const char* refusal;  // empty: the drive is used
    };
    const std::string mounted = "the disc in /dev/sr0 is mounted at /media/disc: unmount it first";
    const Case cases[] = {
        {ENOMEDIUM, false, ""},
        {ENXIO, false, ""},
        {ENODEV, false, ""},
        {ENOENT, false, ""},
        {EACCES, false, ""},
        {EPERM, false, ""},
        {EACCES, true, mounted.c_str()},
        {ENOMEDIUM, true, mounted.c_str()},
        {EIO, false, "cannot hold /dev/sr0 for this program alone (input/output error)"},
        {EMFILE, false, "cannot hold /dev/sr0 for this program alone (too many open files)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.error) + (c.mounted ? " mounted" : ""));
        ScriptedKernel fresh;
        fresh.drives = {Node(0, "sg0")};
        fresh.claimErrors = {{"/dev/sr0", c.error}};  // fake
        if (c.mounted) fresh.mounts = {{"/dev/sr0", "/media/disc"}};
        SgIoTransport transport(fresh, "/dev", true);
        const bool used = std::string(c.refusal).empty();
        EXPECT_EQ(transport.Scan(table, AnswerInquiry), used ? 1 : 0);
        ASSERT_EQ(transport.Unlisted().size(), used ? 0u : 1u);
        if (!used) {
            EXPECT_EQ(transport.Unlisted()[0].path, "/dev/sg0");
            EXPECT_EQ(transport.Unlisted()[0].reason, c.refusal);
            EXPECT_TRUE(fresh.open.empty());
        }
    }
}

// Without a usable sg node the block node itself carries the commands, opened
// with O_EXCL: when that open is refused the cause is named the same way.
TEST_F(SgIoTransportTest, ABlockNodeThatCarriesTheCommandsIsItsOwnHold) {
    kernel.drives = {Node(0, ""), Node(1, ""), Node(2, "")};
    kernel.openErrors = {{"/dev/sr1", EBUSY}, {"/dev/sr2", EBUSY}};  // fake
    kernel.mounts = {{"/dev/sr1", "/mnt"}};
    SgIoTransport transport(kernel, "/dev", true);
    EXPECT_EQ(transport.Scan(table, AnswerInquiry), 1);
    EXPECT_EQ(kernel.opened, std::vector<std::string>{"/dev/sr0"});
    EXPECT_TRUE(kernel.claimed.empty()) << "the exclusive open of /dev/sr0 holds it";
    ASSERT_EQ(transport.Unlisted().size(), 2u);
    EXPECT_EQ(transport.Unlisted()[0].reason, "the disc in /dev/sr1 is mounted at /mnt: unmount it first");
    EXPECT_EQ(transport.Unlisted()[1].path, "/dev/sr2");
    EXPECT_EQ(transport.Unlisted()[1].cause, UnlistedCause::InUse);
}

TEST_F(SgIoTransportTest, TheTableHoldsTwentyDrivesAndNamesTheRest) {
    for (unsigned i = 0; i < 22; ++i) kernel.drives.push_back(Node(i, "sg" + std::to_string(i)));
    SgIoTransport transport(kernel);
    EXPECT_EQ(transport.Scan(table, AnswerInquiry), kDeviceTableSize);
    ASSERT_EQ(transport.Unlisted().size(), 2u);
    EXPECT_EQ(transport.Unlisted()[1].path, "/dev/sg21");
    EXPECT_EQ(transport.Unlisted()[1].cause, UnlistedCause::TableFull);
}

TEST_F(SgIoTransportTest, ANodeInUseNamesItsHolder) {
    kernel.drives = {Node(0, "sg0")};
    kernel.openErrors = {{"/dev/sg0", EBUSY}, {"/dev/sr0", EBUSY}};  // fake
    SgIoTransport transport(kernel);
    EXPECT_EQ(transport.Scan(table, AnswerInquiry), 0);
    ASSERT_EQ(transport.Unlisted().size(), 1u);
    EXPECT_EQ(transport.Unlisted()[0].reason, "device busy");
    EXPECT_EQ(transport.Unlisted()[0].cause, UnlistedCause::InUse);
    EXPECT_EQ(transport.Unlisted()[0].holders, "holder of /dev/sg0");
}

// The kernel's resid is what did not move; a count a driver got wrong is
// read as nothing moved, never as more than was asked for.
TEST_F(SgIoTransportTest, ResidualCountFromTheKernel) {
    SgIoTransport transport(kernel);
    const DeviceEntry drive = ScanOne(transport);
    const std::array<uint8_t, 12> inquiry{0x12, 0, 0, 0, 50};
    for (const auto& [resid, expected] : {std::pair{0, 0u}, {14, 14u}, {50, 50u}, {-3, 50u}, {80, 50u}}) {
        SCOPED_TRACE(resid);
        kernel.answer = [resid = resid](sg_io_hdr_t& header) {
            header.resid = resid;
            return 0;
        };
        CommandResult result;
        transport.Execute(drive, inquiry.data(), data.data(), 50, kDirectionIn, result);
        EXPECT_EQ(result.residual, expected);
    }
}

TEST_F(SgIoTransportTest, HandsTheKernelTheWholeRequest) {
    struct Case {
        uint8_t direction;
        int sgDirection;
        uint32_t expectedLength;
    };
    SgIoTransport transport(kernel);
    const DeviceEntry drive = ScanOne(transport);
    for (const Case& c : {Case{kDirectionOut, SG_DXFER_TO_DEV, 50}, Case{kDirectionIn, SG_DXFER_FROM_DEV, 50},
                          Case{kDirectionNone, SG_DXFER_NONE, 0}}) {
        SCOPED_TRACE(static_cast<int>(c.direction));
        const std::array<uint8_t, 12> cdb{0x5A, 0, 0x38, 0x4B, 0x45, 0xA0, 4, 0xE3, 0, 0, 0x12, 0xAB};
        CommandResult result;
        transport.Execute(drive, cdb.data(), data.data(), 50, c.direction, result);
        EXPECT_EQ(kernel.seenFd, 40);
        EXPECT_EQ(kernel.seen.interface_id, 'S');
        EXPECT_EQ(kernel.seen.cmd_len, 12);
        EXPECT_TRUE(std::equal(cdb.begin(), cdb.end(), kernel.cdb.begin()));
        EXPECT_EQ(kernel.seen.dxfer_direction, c.sgDirection);
        EXPECT_EQ(kernel.seen.dxfer_len, c.expectedLength);
        EXPECT_EQ(kernel.seen.timeout, 20000u);
        EXPECT_GE(kernel.seen.mx_sb_len, 18);
    }
}

TEST_F(SgIoTransportTest, MapsEachAnswerOfTheKernelToItsCategory) {
    const std::array<uint8_t, 18> sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01};
    struct Case {
        const char* name;
        int ioctlError;
        uint8_t status;
        uint16_t host;
        uint16_t driver;
        bool writesSense;
        uint8_t statusByte;
        CommandOutcome outcome;
        HostFailureKind hostFailure;
        CommandVerdict verdict;
    };
    using O = CommandOutcome;
    using H = HostFailureKind;
    using V = CommandVerdict;
    // The status byte is 1 only for a drive that answered GOOD: never for a
    // time-out or a host error, whatever status or sense came with it.
    const Case cases[] = {
        {"good", 0, 0, 0, 0, false, 1, O::Answered, H::None, V::Answered},
        {"check condition with sense", 0, 2, 0, 0x08, true, 2, O::Answered, H::None, V::Answered},
        {"sense through the driver byte only", 0, 0, 0, 0x08, true, 2, O::Answered, H::None, V::Answered},
        {"busy", 0, 8, 0, 0, false, 8, O::Answered, H::None, V::Answered},
        // A status no drive may answer never reads as the program's "done".
        {"status byte 1", 0, 1, 0, 0, false, 0, O::Answered, H::None, V::Answered},
        {"host time-out", 0, 0, 0x03, 0, false, 0, O::HostFailure, H::TimedOut, V::NoAnswer},
        // The sense buffer may hold bytes when the host gives up: they are
        // not the drive's answer.
        {"host time-out with sense", 0, 0, 0x03, 0, true, 0, O::HostFailure, H::TimedOut, V::NoAnswer},
        {"driver time-out", 0, 0, 0, 0x06, false, 0, O::HostFailure, H::TimedOut, V::NoAnswer},
        {"host error keeps the drive's status", 0, 2, 0x07, 0x08, true, 2, O::HostFailure, H::TransportError,
         V::NoAnswer},
        {"driver error", 0, 0, 0, 0x04, false, 0, O::HostFailure, H::TransportError, V::NoAnswer},
        {"no connection: the drive is gone", 0, 0, 0x01, 0, false, 0, O::OsError, H::None, V::DriveGone},
        {"bad target: the drive is gone", 0, 0, 0x04, 0, false, 0, O::OsError, H::None, V::DriveGone},
        {"node gone", ENODEV, 0, 0, 0, false, 0, O::OsError, H::None, V::DriveGone},
        {"no such device or address", ENXIO, 0, 0, 0, false, 0, O::OsError, H::None, V::DriveGone},
        {"refused", EACCES, 0, 0, 0, false, 0, O::OsError, H::None, V::SystemError},
        // The drive is still there: busy is no departure.
        {"busy call", EBUSY, 0, 0, 0, false, 0, O::OsError, H::None, V::SystemError},
        {"not a sg device", ENOTTY, 0, 0, 0, false, 0, O::OsError, H::None, V::SystemError},
        // errno 121 is a failed call like any other, never "completed".
        {"remote I/O error", EREMOTEIO, 0, 0, 0, false, 0, O::OsError, H::None, V::SystemError},
    };
    SgIoTransport transport(kernel);
    const DeviceEntry drive = ScanOne(transport);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kernel.answer = [&](sg_io_hdr_t& header) {
            if (c.ioctlError != 0) return c.ioctlError;
            header.status = c.status;
            header.host_status = c.host;
            header.driver_status = c.driver;
            if (c.writesSense) {
                std::memcpy(header.sbp, sense.data(), sense.size());
                header.sb_len_wr = static_cast<unsigned char>(sense.size());
            }
            return 0;
        };
        CommandResult result;
        transport.Execute(drive, tur.data(), data.data(), 50, kDirectionIn, result);
        EXPECT_EQ(ProgramStatus(result, true), c.statusByte);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.hostFailure, c.hostFailure);
        EXPECT_EQ(result.Verdict(), c.verdict);
        EXPECT_EQ(result.osErrorText.empty(), c.outcome != O::OsError);
        EXPECT_EQ(ParseSense(result.senseData.data(), result.senseLength),
                  c.writesSense ? (SenseTriple{5, 0x24, 1}) : SenseTriple{});
    }
}

// A drive unplugged mid-command: usb-storage fails the command with
// DID_ERROR and the device leaves sysfs. That command is not "completed".
TEST_F(SgIoTransportTest, AHostErrorFromADriveThatIsGoneIsNotCompleted) {
    SgIoTransport transport(kernel);
    const DeviceEntry drive = ScanOne(transport);
    kernel.answer = [](sg_io_hdr_t& header) {
        header.host_status = 0x07;
        return 0;
    };
    kernel.present = false;
    CommandResult result;
    transport.Execute(drive, tur.data(), nullptr, 0, kDirectionNone, result);
    EXPECT_EQ(ProgramStatus(result, true), 0);
    EXPECT_EQ(result.outcome, CommandOutcome::OsError);
    EXPECT_TRUE(result.deviceGone);
    EXPECT_EQ(result.osErrorText, "No such device");
    EXPECT_EQ(kernel.presenceAsked, std::vector<std::string>{"sg1"});
}

TEST_F(SgIoTransportTest, NoDriveMeansNothingReachesTheKernel) {
    SgIoTransport transport(kernel);
    EXPECT_EQ(transport.Scan(table, AnswerInquiry), 0);
    CommandResult result;
    transport.Execute(table[0], tur.data(), nullptr, 0, kDirectionNone, result);
    EXPECT_EQ(ProgramStatus(result, true), 0);
    EXPECT_EQ(result.outcome, CommandOutcome::OsError);
    EXPECT_EQ(result.osError, static_cast<uint32_t>(EBADF));
    EXPECT_EQ(kernel.calls, 0);
}

TEST_F(SgIoTransportTest, TheBlockNodeRefusingACommandPointsToTheSgNode) {
    kernel.drives = {Node(0, "sg1")};
    kernel.openErrors = {{"/dev/sg1", EACCES}};  // the fake kernel refuses the sg node
    kernel.answer = [](sg_io_hdr_t&) { return EPERM; };
    SgIoTransport transport(kernel);
    ASSERT_EQ(transport.Scan(table, AnswerInquiry), 1);
    CommandResult result;
    transport.Execute(table[0], tur.data(), nullptr, 0, kDirectionNone, result);
    EXPECT_EQ(ProgramStatus(result, true), 0);
    EXPECT_NE(result.osErrorText.find("use the drive's /dev/sgN node"), std::string::npos) << result.osErrorText;
}

// TAtapi over SG_IO: the scan's INQUIRY, the status and sense a command
// brings, and the system's text in a box when the drive is gone.
TEST_F(SgIoTransportTest, TAtapiScansAndShowsTheSystemsTextForAGoneDrive) {
    struct Boxes final : UserInterface {
        std::vector<std::string> texts;
        void PumpMessage() override {}
        void ProcessMessages() override {}
        int ShowMessage(const std::string& text, const std::string&, unsigned) override {
            texts.push_back(text);
            return kIdOk;
        }
    } ui;
    kernel.drives = {Node(0, "sg1")};
    kernel.answer = [](sg_io_hdr_t& header) {
        if (header.cmdp[0] == 0x12) {
            std::memcpy(static_cast<uint8_t*>(header.dxferp) + 8, "KELU    ZXR-0131K       1.00", 28);
            return 0;
        }
        header.host_status = 0x01;
        return 0;
    };
    SgIoTransport transport(kernel);
    TAtapi atapi(transport, ui);
    ASSERT_EQ(atapi.DeviceCount(), 1);
    EXPECT_TRUE(atapi.NtFlag());
    EXPECT_EQ(atapi.Device(0).IdentificationText(), "KELU    ZXR-0131K       ");
    EXPECT_EQ(atapi.TestUnitReady(), 0);
    EXPECT_TRUE(atapi.LastResult().deviceGone);
    EXPECT_EQ(ui.texts, std::vector<std::string>{"No such device\n"});
}

TEST(OpenFailureText, SaysWhy) {
    EXPECT_EQ(OpenFailureText(EPERM), "permission denied");
    EXPECT_EQ(OpenFailureText(EBUSY), "device busy");
    EXPECT_EQ(OpenFailureText(ENXIO), "no such device or address");
}

}  // namespace
}  // namespace keluflash

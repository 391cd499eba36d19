#include "drive/linux/linux_drive_letters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "drive/linux/linux_drive_ports.h"

namespace keluflash {
namespace {

namespace fs = std::filesystem;

// A sysfs tree and a /dev directory of plain files in a scratch folder.
class Fixture {
public:
    Fixture() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        m_root = fs::path(testing::TempDir()) /
                 ("keluflash-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
                  std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(Dev());
    }
    ~Fixture() {
        std::error_code ignored;
        fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_root, ignored);
    }
    fs::path Sys() const { return m_root / "sys"; }
    fs::path Dev() const { return m_root / "dev"; }

    // /sys/class/block/<name>/device with its type and, optionally, its sg node.
    void BlockDevice(const std::string& name, const std::string& type, const std::string& sg = "",
                     bool oldLayout = false) {
        const fs::path device = Sys() / "class" / "block" / name / "device";
        fs::create_directories(device);
        if (!type.empty()) {
            std::ofstream(device / "type") << type << "\n";
        }
        if (!sg.empty()) {
            fs::create_directories(oldLayout ? device / ("scsi_generic:" + sg) : device / "scsi_generic" / sg);
        }
    }
    void Node(const std::string& name) { std::ofstream(Dev() / name) << ""; }

private:
    fs::path m_root;
};

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(SysfsOpticalDrives, TakesCdDrivesInNumberOrderWithTheirSgNodes) {
    Fixture fixture;
    fixture.BlockDevice("sr10", "5", "sg11", /*oldLayout=*/true);
    fixture.BlockDevice("sr2", "5");          // no sg driver for it
    fixture.BlockDevice("sr1", "5", "sg2");
    fixture.BlockDevice("sr0", "5", "sg1");
    fixture.BlockDevice("sda", "0", "sg0");    // a disk
    fixture.BlockDevice("sr3", "4", "sg4");    // a WORM device
    fixture.BlockDevice("sr4", "");            // type unreadable
    fixture.BlockDevice("srx", "5");

    const std::vector<OpticalDriveNode> drives = FindOpticalDrives(fixture.Sys());
    ASSERT_EQ(drives.size(), 4u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"sr0", "sg1"}, {"sr1", "sg2"}, {"sr2", ""}, {"sr10", "sg11"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(drives[i].blockName, expected[i].first);
        EXPECT_EQ(drives[i].genericName, expected[i].second);
    }
    EXPECT_EQ(drives[3].number, 10u);
}

TEST(SysfsOpticalDrives, NoTreeNoDrives) {
    EXPECT_TRUE(FindOpticalDrives("/nonexistent-sysfs-root").empty());
}

TEST(LinuxDriveLetters, LettersStandForTheDrivesAndOpenTheirNodes) {
    Fixture fixture;
    fixture.BlockDevice("sr0", "5", "sg1");
    fixture.BlockDevice("sr1", "5", "sg2");
    fixture.BlockDevice("sr2", "5");
    fixture.BlockDevice("sda", "0", "sg0");
    fixture.Node("sg0");
    fixture.Node("sg1");
    fixture.Node("sr1");  // sg2 has no node in /dev: the block node is used
    fixture.Node("sr2");

    LinuxDriveLetters letters(fixture.Sys(), fixture.Dev());
    for (char letter : {'A', 'B', 'C'}) {
        EXPECT_EQ(letters.GetDriveType(letter), kDriveCdrom) << letter;
    }
    for (char letter : {'D', 'Y', 'Z', '@', 'a'}) {
        EXPECT_EQ(letters.GetDriveType(letter), kDriveNoRootDir) << letter;
        EXPECT_EQ(letters.Open(letter), kInvalidHandle) << letter;
    }
    EXPECT_EQ(letters.DevicePath('B'), (fixture.Dev() / "sg2").string());  // before the open: the sg node

    const std::vector<std::string> nodes = {"sg1", "sr1", "sr2"};
    std::set<DeviceHandle> handles;
    for (char letter : {'A', 'B', 'C'}) {
        const DeviceHandle handle = letters.Open(letter);
        ASSERT_NE(handle, kInvalidHandle) << letter;
        EXPECT_TRUE(IsOpen(static_cast<int>(handle)));
        EXPECT_EQ(letters.Descriptor(handle), static_cast<int>(handle));
        EXPECT_EQ(letters.DevicePath(letter), (fixture.Dev() / nodes[static_cast<size_t>(letter - 'A')]).string());
        EXPECT_EQ(letters.OpenFailure(letter), "");
        handles.insert(handle);
    }
    EXPECT_EQ(handles.size(), 3u);
    EXPECT_EQ(letters.Descriptor(0), -1);
    EXPECT_EQ(letters.Descriptor(kInvalidHandle), -1);
}

TEST(LinuxDriveLetters, ClosesWhatItOpenedOnCloseAndWhenDestroyed) {
    Fixture fixture;
    fixture.BlockDevice("sr0", "5", "sg0");
    fixture.BlockDevice("sr1", "5", "sg1");
    fixture.Node("sg0");
    fixture.Node("sg1");
    int kept = -1;
    {
        LinuxDriveLetters letters(fixture.Sys(), fixture.Dev());
        const DeviceHandle scan = letters.Open('A');
        kept = static_cast<int>(letters.Open('B'));
        letters.Close(scan);
        EXPECT_FALSE(IsOpen(static_cast<int>(scan)));
        EXPECT_EQ(letters.Descriptor(scan), -1);
        letters.Close(scan);  // twice: nothing happens
        EXPECT_TRUE(IsOpen(kept));
    }
    EXPECT_FALSE(IsOpen(kept));
}

TEST(LinuxDriveLetters, NamesWhyADriveCouldNotBeOpened) {
    Fixture fixture;
    fixture.BlockDevice("sr0", "5", "sg1");
    fixture.BlockDevice("sr1", "5", "sg2");
    fixture.BlockDevice("sr2", "5");
    fixture.Node("sg1");
    fixture.Node("sr0");
    fixture.Node("sr1");
    const std::string dev = fixture.Dev().string();
    // The kernel refuses sg1 and sr0 to us; sg2 and sr2 have no node.
    OpenNode open = [&](const std::string& path) {
        if (path == dev + "/sg1" || path == dev + "/sr0") {
            return -EACCES;
        }
        return OpenDeviceNode(path);
    };
    LinuxDriveLetters letters(fixture.Sys(), fixture.Dev(), open);

    EXPECT_EQ(letters.Open('A'), kInvalidHandle);
    EXPECT_EQ(letters.OpenFailure('A'), "permission denied: run as root or with access to " + dev + "/sg1");
    EXPECT_EQ(letters.DevicePath('A'), dev + "/sg1");

    // A missing sg node is not the reason when the block node refuses.
    fixture.Node("sr1");
    OpenNode refuseSr1 = [&](const std::string& path) { return path == dev + "/sr1" ? -EACCES : OpenDeviceNode(path); };
    LinuxDriveLetters second(fixture.Sys(), fixture.Dev(), refuseSr1);
    EXPECT_EQ(second.Open('B'), kInvalidHandle);
    EXPECT_EQ(second.OpenFailure('B'), "permission denied: run as root or with access to " + dev + "/sr1");

    EXPECT_EQ(letters.Open('C'), kInvalidHandle);
    EXPECT_EQ(letters.OpenFailure('C'), "no device node " + dev + "/sr2");
}

TEST(LinuxDriveLetters, UnreadableNodeOnDisk) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root opens any node";
    }
    Fixture fixture;
    fixture.BlockDevice("sr0", "5", "sg1");
    fixture.Node("sg1");
    fixture.Node("sr0");
    fs::permissions(fixture.Dev() / "sg1", fs::perms::none);
    fs::permissions(fixture.Dev() / "sr0", fs::perms::none);
    LinuxDriveLetters letters(fixture.Sys(), fixture.Dev());
    EXPECT_EQ(letters.Open('A'), kInvalidHandle);
    EXPECT_EQ(letters.OpenFailure('A'),
              "permission denied: run as root or with access to " + (fixture.Dev() / "sg1").string());
}

TEST(LinuxDriveLetters, FailureTexts) {
    EXPECT_EQ(OpenFailureText(EPERM, "/dev/sg3"), "permission denied: run as root or with access to /dev/sg3");
    EXPECT_EQ(OpenFailureText(EBUSY, "/dev/sg3"), "device busy: another program holds /dev/sg3");
    EXPECT_EQ(OpenFailureText(ENXIO, "/dev/sg3"), "no such device or address: /dev/sg3");
}

TEST(LinuxDrivePorts, CommandsOnAPlainFileFailWithTheKernelsError) {
    Fixture fixture;
    fixture.BlockDevice("sr0", "5", "sg0");
    fixture.Node("sg0");
    LinuxDrivePorts machine(fixture.Sys(), fixture.Dev());
    const DeviceHandle handle = machine.DriveLetters().Open('A');
    ASSERT_NE(handle, kInvalidHandle);

    // The real SG_IO call, on a plain file: the kernel says it is no device.
    PassThroughBuffer buffer{};
    buffer.spt.CdbLength = 12;
    buffer.spt.DataIn = kScsiIoctlDataUnspecified;
    buffer.spt.TimeOutValue = 20;
    uint32_t error = 0;
    struct NoUi final : UserInterface {
        void PumpMessage() override {}
        void ProcessMessages() override {}
        int MessageBox(const std::string&, const std::string&, unsigned) override { return kIdOk; }
    } ui;
    DrivePorts ports = machine.Ports(ui);
    EXPECT_TRUE(ports.platform.IsNtFamily());
    EXPECT_FALSE(ports.passThrough.DeviceIoControl(handle, buffer, error));
    EXPECT_EQ(error, static_cast<uint32_t>(ENOTTY));
}

}  // namespace
}  // namespace keluflash

#include "drive/linux/sysfs_optical_drives.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "drive/linux/linux_kernel.h"
#include "drive/linux/sg_io_transport.h"

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

// The host's kernel on a fixture tree: nodes open for real (plain files here),
// are closed with the transport, and SG_IO on a plain file is refused by the
// kernel itself.
TEST(HostLinuxKernel, OpensNodesAndTheKernelRefusesSgIoOnAPlainFile) {
    Fixture fixture;
    fixture.BlockDevice("sr0", "5", "sg0");
    fixture.Node("sg0");
    HostLinuxKernel kernel(fixture.Sys());
    ASSERT_EQ(kernel.OpticalDrives().size(), 1u);
    const int fd = kernel.Open((fixture.Dev() / "sg0").string(), false);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(IsOpen(fd));
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    EXPECT_EQ(kernel.SgIo(fd, header), ENOTTY);
    kernel.Close(fd);
    EXPECT_FALSE(IsOpen(fd));
    EXPECT_EQ(kernel.Open((fixture.Dev() / "sr9").string(), false), -ENOENT);
}

// The reasons the scan gives for the drives it could not list, one a line.
std::string UnlistedReasons(const Fixture& fixture) {
    HostLinuxKernel kernel(fixture.Sys());
    SgIoTransport transport(kernel, fixture.Dev().string());
    DeviceTable table{};
    transport.Scan(table, [](const DeviceEntry&, uint8_t*) { return uint8_t{1}; });
    std::string reasons;
    for (const auto& unlisted : transport.Unlisted()) {
        reasons += unlisted.reason + (unlisted.owningGroup.empty() ? "" : " (group " + unlisted.owningGroup + ")") + "\n";
    }
    return reasons;
}

// Root opens any node: as root, the scan runs in a child that has become
// nobody, and sends its reasons back through a pipe.
std::string UnlistedReasonsAsUnprivileged(const Fixture& fixture) {
    if (::geteuid() != 0) {
        return UnlistedReasons(fixture);
    }
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return "pipe failed";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        const std::string reasons = UnlistedReasons(fixture);
        const bool written = ::write(pipeEnds[1], reasons.data(), reasons.size()) ==
                             static_cast<ssize_t>(reasons.size());
        ::_exit(written ? 0 : 3);
    }
    ::close(pipeEnds[1]);
    std::string reasons;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        reasons.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "the unprivileged child failed (status " + std::to_string(status) + ")";
    }
    return reasons;
}

TEST(HostLinuxKernel, AnUnreadableNodeIsNamedWithItsReason) {
    Fixture fixture;
    fixture.BlockDevice("sr0", "5", "sg1");
    fixture.Node("sg1");
    fixture.Node("sr0");
    fs::permissions(fixture.Dev() / "sg1", fs::perms::none);
    fs::permissions(fixture.Dev() / "sr0", fs::perms::none);
    // The group the fix names is the node's own, as the system reports it.
    struct stat info {};
    ASSERT_EQ(::stat((fixture.Dev() / "sg1").c_str(), &info), 0);
    const struct group* owner = ::getgrgid(info.st_gid);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(UnlistedReasonsAsUnprivileged(fixture), "permission denied (group " + std::string(owner->gr_name) + ")\n");
}

TEST(HostLinuxKernel, NamesTheProgramsThatHoldANode) {
    Fixture fixture;
    fixture.Node("sg0");
    HostLinuxKernel kernel(fixture.Sys());
    const std::string node = (fixture.Dev() / "sg0").string();
    EXPECT_EQ(kernel.NodeHolders(node), "");
    const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_THAT(kernel.NodeHolders(node), ::testing::HasSubstr("(pid " + std::to_string(::getpid()) + ")"));
    ::close(fd);
}

// A disc is found mounted by device number, under whatever name the mount
// was made: the drive's node, a link to it, a bind mount of a folder on it.
TEST(MountPointOf, FindsTheDriveByItsDeviceNumberUnderAnyName) {
    const dev_t sr0 = makedev(11, 0);
    // The block nodes of the fake machine and their numbers; every other path names none.
    const std::map<std::string, dev_t> nodes = {{"/dev/sr0", sr0},
                                                {"/dev/cdrom", sr0},
                                                {"/dev/disk/by-label/KELU DISC", sr0},
                                                {"/dev/sr1", makedev(11, 1)},
                                                {"/dev/sda1", makedev(8, 1)}};
    const auto numberOf = [&nodes](const std::string& path) -> std::optional<dev_t> {
        const auto node = nodes.find(path);
        return node != nodes.end() ? std::optional<dev_t>(node->second) : std::nullopt;
    };
    const std::string others = "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
                               "25 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                               "41 25 11:1 / /media/other ro shared:30 - iso9660 /dev/sr1 ro\n"
                               "not a mount line\n";
    struct Case {
        const char* name;
        std::string line;
        std::string expected;
    };
    const Case cases[] = {
        {"by its own node", "40 25 11:0 / /media/disc ro shared:29 - iso9660 /dev/sr0 ro\n", "/media/disc"},
        {"by a link, the mount point's spaces escaped",
         "40 25 11:0 / /media/user/KELU\\040DISC ro shared:29 - iso9660 /dev/cdrom ro\n", "/media/user/KELU DISC"},
        {"a bind mount of a folder on it", "40 25 11:0 /music /srv/music ro shared:29 master:3 - udf /dev/sr0 ro\n",
         "/srv/music"},
        // A file system whose device field is not the drive's: its source is looked up.
        {"by a link whose name has an escaped space",
         "40 25 0:52 / /mnt/disc ro - btrfs /dev/disk/by-label/KELU\\040DISC ro\n", "/mnt/disc"},
        {"by its device field, the source named as this process cannot see it",
         "40 25 11:0 / /mnt/disc ro - iso9660 /dev/gone ro\n", "/mnt/disc"},
        {"not mounted", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream mountInfo(others + c.line);
        EXPECT_EQ(MountPointOf(mountInfo, sr0, numberOf), c.expected);
    }
}

// The host's own mount table: a block node of this machine's making, named
// like no mount source, with the device number of the file system this test
// writes to, is found mounted where that file system is. Making a block node
// takes CAP_MKNOD; a plain file is no block node and never mounted.
TEST(HostLinuxKernel, FindsAMountOfABlockNodeByItsNumber) {
    Fixture fixture;
    HostLinuxKernel kernel(fixture.Sys());
    fixture.Node("plain");
    EXPECT_EQ(kernel.MountPoint((fixture.Dev() / "plain").string()), "");
    struct stat folder {};
    ASSERT_EQ(::stat(fixture.Dev().c_str(), &folder), 0);
    const fs::path node = fixture.Dev() / "kelu-drive";
    if (::mknod(node.c_str(), S_IFBLK | 0600, folder.st_dev) != 0) GTEST_SKIP() << "no block node can be made here";
    const std::string mountPoint = kernel.MountPoint(node.string());
    ASSERT_FALSE(mountPoint.empty());
    struct stat mounted {};
    ASSERT_EQ(::stat(mountPoint.c_str(), &mounted), 0) << mountPoint;
    EXPECT_EQ(mounted.st_dev, folder.st_dev) << mountPoint;
}

}  // namespace
}  // namespace keluflash

#include "drive/linux/sysfs_optical_drives.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
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

}  // namespace
}  // namespace keluflash
